#include "link/chat/chat_channel.h"

#include "common/log_message.h"

#include <algorithm>

#include "link/window_port.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

namespace mirka {

namespace asio = boost::asio;

namespace {
constexpr std::size_t kChatLineCapacity = 2048;
// Status texts are at most 1,031 units (a 2,064-byte buffer with its terminator).
constexpr std::size_t kStatusCapacity = 1032;
constexpr std::size_t kSenderNameBytes = 256;
static_assert(kMaxTextPayloadBytes + kSenderNameBytes + CharFormat::kBytes <=
              FramePlan::kMostWholeBytes);

// A peer's name cannot make a plain link look encrypted: the mark the window adds to the title
// of an encrypted link is taken out of it wherever it stands, until none is left. Taking one
// out joins the text around it, which may spell the mark again ("[暗号" + mark + "化...]"),
// so the search goes on from as far back as such a new mark could begin.
WString WithoutPrivacyMark(WString name) {
    constexpr WStringView mark = WStringView(kPrivateTitleSuffix).substr(1);  // without its space
    for (std::size_t at = name.find(mark); at != WString::npos;) {
        name.erase(at, mark.size());
        at = name.find(mark, at >= mark.size() - 1 ? at - (mark.size() - 1) : 0);
    }
    return name;
}
}  // namespace

void ChatChannel::QueueChatLine(const WString& text, const WString& name) {
    link.PostCommand([this, name, text] { SendChatLine(name, text); });
}

void ChatChannel::QueueTextLine(const WString& text) {
    link.PostCommand([this, text] { SendTextLine(text); });
}

void ChatChannel::QueueStatusMessage(const WString& statusText) {
    link.PostCommand([this, statusText] { SendStatusMessage(statusText); });
}

void ChatChannel::SendChatLine(const WString& name, const WString& text) {
    std::tm now = LocalTimeNow();
    WString line = Format(kChatLineCapacity, u"%s の発言 (%02d:%02d:%02d): \r\n%s\r\n", name,
                          now.tm_hour, now.tm_min, now.tm_sec, text);
    SendTextLine(line);
}

void ChatChannel::SendTextLine(const WString& text) {
    CharFormat font = values.ChatFont();
    auto style = font.Encode();
    Bytes payload = EncodeUtf16Le(text);
    FrameHeader header;
    header.code = NET_CHAT;
    header.lengthField = static_cast<std::uint32_t>(payload.size());
    WriteFrame(header, {asio::buffer(style), asio::buffer(payload)});
    if (auto shown = window.Borrow()) {
        std::vector<LogRun> runs = BuildLogMessage(&font, text);
        MarkOwnLine(runs);  // one's own line stands apart in the log
        shown->AppendLogMessage(std::move(runs));
        shown->ShowLinkEvent(LinkEvent::ChatSent);
    }
}

void ChatChannel::SendStatusMessage(const WString& statusText) {
    WString text = FitField(statusText, kStatusCapacity);
    Bytes payload = EncodeUtf16Le(text);
    std::uint8_t name[kSenderNameBytes];
    PutUtf16Field(name, sizeof name, values.UserName());
    FrameHeader header;
    header.code = NET_STATUS;
    header.lengthField = static_cast<std::uint32_t>(payload.size());
    WriteFrame(header, {asio::buffer(payload), asio::buffer(name)});
}

void ChatChannel::SendDisconnectRequest() {
    FrameHeader header;
    header.code = NET_DISCONNECT;
    // On a private link the request is the final record, which tells the peer that the link
    // ends on purpose.
    auto bytes = header.Encode();
    link.WriteToPeer({asio::buffer(bytes)}, PeerLink::Last::Yes);
}

bool ChatChannel::WriteFrame(const FrameHeader& header,
                             std::initializer_list<asio::const_buffer> payload) {
    auto headerBytes = header.Encode();
    return link.WriteToPeer(FrameParts(headerBytes, payload), PeerLink::Last::No);
}

std::uint32_t ChatChannel::PayloadBytes(const FrameHeader& header) {
    std::uint32_t n = header.lengthField;
    if (n > kMaxTextPayloadBytes) return 0;
    return static_cast<std::uint32_t>(
        n + (header.code == NET_CHAT ? CharFormat::kBytes : kSenderNameBytes));
}

bool ChatChannel::OnChatLine(const FrameHeader& header, FramePayload& payload) {
    std::uint32_t n = header.lengthField;
    if (n > kMaxTextPayloadBytes) return false;
    std::uint8_t style[CharFormat::kBytes];
    if (!payload.Read(style, sizeof style)) return false;
    // The text is followed by a zero unit; an odd last byte becomes a unit of its own.
    std::vector<std::uint8_t> bytes(n + 2, 0);
    if (!payload.Read(bytes.data(), n)) return false;
    WString text = DecodeUtf16Le(bytes.data(), (n + 1) & ~1u);
    text.resize(std::min(text.size(), text.find(u'\0')));
    CharFormat font = CharFormat::Decode(style);
    AppendLog(&font, text);
    if (auto shown = window.Borrow()) shown->ShowLinkEvent(LinkEvent::ChatArrived);
    return true;
}

bool ChatChannel::OnStatusMessage(const FrameHeader& header, FramePayload& payload) {
    std::uint32_t n = header.lengthField;
    if (n > kMaxTextPayloadBytes) return false;
    std::vector<std::uint8_t> bytes(n, 0);
    if (!payload.Read(bytes.data(), n)) return false;
    WString text = DecodeUtf16Le(bytes.data(), n & ~1u);
    text.resize(std::min(text.size(), text.find(u'\0')));
    std::uint8_t name[kSenderNameBytes];
    if (!payload.Read(name, sizeof name)) return false;
    WString title = Format(kFormatCapacity, u"%s - ", WStringView(kProgramTitle)) +
                    WithoutPrivacyMark(GetUtf16Field(name, sizeof name));
    if (auto shown = window.Borrow()) {
        shown->SetPeerStatusText(text);
        shown->SetWindowTitle(title);
        shown->ShowLinkEvent(LinkEvent::StatusChanged);
    }
    return true;
}

void ChatChannel::OnDisconnectReceived() {
    AppendLog(nullptr, u"SystemMessage:: \r\n切断要求命令を受信したため、切断しました\r\n");
    if (auto shown = window.Borrow()) shown->ShowLinkEvent(LinkEvent::PeerEndedLink);
    link.CloseLink();
}

void ChatChannel::AppendLog(const CharFormat* style, WStringView text) {
    AppendLogTo(&window, style, text);
}

}  // namespace mirka
