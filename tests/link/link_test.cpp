#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include <gtest/gtest.h>

#include "support/loopback.h"
#include "support/text_matchers.h"
#include "support/wait.h"

// Received lengths must be bounded before anything is allocated for them. In this test
// program an allocation above 1 GiB fails as if memory ran out and is counted, so a missing
// bound shows without taking the memory.
namespace {
std::atomic<int> refusedAllocations{0};
constexpr std::size_t kLargestAllocation = std::size_t{1} << 30;
}  // namespace

void* operator new(std::size_t size) {
    if (size > kLargestAllocation) {
        ++refusedAllocations;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
// The replaced operator new takes its memory from malloc, so free is the matching release;
// gcc cannot see that through the replacement and warns.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace mirka {
namespace {

using test::FakePeer;
using test::LinkedPair;
using test::MessageRecorder;
using test::TextEndsWith;
using test::TextStartsWith;
using test::WaitUntil;

// A TaskManager waiting as server on a free port, with a raw peer connected to it.
struct ServerWithFakePeer {
    ServerWithFakePeer() : manager(&values) {
        manager.ownerWindow = &window;
        port = test::FreeLoopbackPort();
        waiter = std::thread([this] { manager.StartServer(port); });
        connected = peer.Connect(port);
        waiter.join();
    }
    ProgramValues values;
    test::WindowRecorder window;
    TaskManager manager;
    FakePeer peer;
    std::uint16_t port = 0;
    std::thread waiter;
    bool connected = false;
};

FrameHeader Header(std::uint16_t code, std::uint32_t length = 0) {
    FrameHeader header;
    header.code = code;
    header.lengthField = length;
    return header;
}

std::vector<std::uint8_t> ChatPayload(const WString& text) {
    auto style = MakeChatFont(u"Face", -240, 0x0000FF).Encode();
    std::vector<std::uint8_t> payload(style.begin(), style.end());
    auto bytes = test::Utf16LeBytes(text);
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    return payload;
}

TEST(WindowPort, EachLinkEventHasTheWindowsAnswer) {
    // What the user hears and sees for each event, written out here rather than derived.
    auto chat = ReactionTo(LinkEvent::ChatArrived);
    EXPECT_EQ(WString(chat.wave), u"send.wav");
    EXPECT_TRUE(chat.flash);
    auto status = ReactionTo(LinkEvent::StatusChanged);
    EXPECT_EQ(WString(status.wave), u"stat_chg.wav");
    EXPECT_FALSE(status.flash);
    auto arrived = ReactionTo(LinkEvent::TransferFinished);
    EXPECT_EQ(WString(arrived.wave), u"file_receive.wav");
    EXPECT_TRUE(arrived.flash);
    auto sent = ReactionTo(LinkEvent::ChatSent);
    EXPECT_EQ(sent.wave, nullptr);
    EXPECT_TRUE(sent.clearInput);
    EXPECT_FALSE(chat.clearInput || status.clearInput || arrived.clearInput);
}

TEST(LinkFrames, ClientWritesExactHeadersAndKeepAlives) {
    FakePeer peer;
    std::uint16_t port = peer.Listen();
    TaskManager manager;
    manager.SetKeepAliveInterval(std::chrono::milliseconds(100));
    std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
    ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
    accepter.join();
    EXPECT_EQ(manager.LinkState(), LINK_CLIENT);
    EXPECT_EQ(manager.PeerAddressText(), "127.0.0.1");

    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes, 3000));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(48, 0));  // a keep-alive is a bare zero header
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes, 3000));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(48, 0));

    manager.QueueChatLine(u"abc", u"x");
    FrameHeader header;
    do {
        ASSERT_TRUE(peer.ReadHeader(header));
    } while (header.code == NET_KEEPALIVE);
    EXPECT_EQ(header.code, NET_CHAT);
    EXPECT_EQ(header.taskField, 0u);
    std::vector<std::uint8_t> style, text;
    ASSERT_TRUE(peer.Read(style, CharFormat::kBytes));
    EXPECT_EQ(CharFormat::Decode(style.data()), ProgramValues().ChatFont());
    ASSERT_TRUE(peer.Read(text, header.lengthField));
    WString line = DecodeUtf16Le(text.data(), text.size());
    EXPECT_EQ(line.size() * 2, header.lengthField);
    EXPECT_THAT(line, TextStartsWith(u"x の発言 ("));
    EXPECT_THAT(line, TextEndsWith(u"): \r\nabc\r\n"));
    EXPECT_EQ(line.size(), WString(u"x の発言 (09:05:07): \r\nabc\r\n").size());
}

// The interval as shipped, which a peer of the original program expects; the other tests
// shorten it.
TEST(LinkFrames, IdleLinkSendsAKeepAliveEveryTwentySeconds) {
    FakePeer peer;
    std::uint16_t port = peer.Listen();
    TaskManager manager;
    std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
    ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
    accepter.join();
    auto start = std::chrono::steady_clock::now();
    FrameHeader header;
    EXPECT_FALSE(peer.ReadHeader(header, 18500));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes, 5000));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(48, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(22500));
}

TEST(LinkFrames, UnknownCodesAreSkippedAndTheNextFrameIsHandled) {
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    ASSERT_EQ(link.manager.LinkState(), LINK_SERVER);
    for (std::uint16_t code : {0, 11, 65535}) {
        auto bytes = Header(code).Encode();
        bytes[2] = 0xAB;  // reserved bytes are ignored
        bytes[3] = 0xCD;
        link.peer.Send(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    WString line = u"peer の発言 (01:02:03): \r\nhello\r\n";
    link.peer.SendFrame(Header(NET_CHAT, static_cast<std::uint32_t>(line.size() * 2)),
                        ChatPayload(line));
    // The event is the last call a chat line makes.
    ASSERT_TRUE(link.window.WaitFor([&] { return !link.window.Events().empty(); }));
    ASSERT_EQ(link.window.Messages().size(), 1u);
    auto runs = link.window.Messages()[0];
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, u"peer の発言 (01:02:03): \r\n");
    EXPECT_TRUE(runs[0].style.bold);
    EXPECT_EQ(runs[1].text, u"hello\r\n");
    EXPECT_EQ(runs[1].style.face, u"Face");
    EXPECT_EQ(runs[1].style.height, -240);
    EXPECT_EQ(runs[1].style.color, 0x0000FFu);
    EXPECT_EQ(runs[1].style.indentTwips, 200);
    EXPECT_EQ(link.window.Events(), std::vector<LinkEvent>{LinkEvent::ChatArrived});
    EXPECT_EQ(link.manager.LinkState(), LINK_SERVER);
}

TEST(LinkFrames, DisconnectEndsReadingAndLaterFramesAreIgnored) {
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.peer.SendFrame(Header(NET_DISCONNECT));
    WString line = u"late\r\nx\r\n";
    link.peer.SendFrame(Header(NET_CHAT, static_cast<std::uint32_t>(line.size() * 2)),
                        ChatPayload(line));
    ASSERT_TRUE(WaitUntil([&] { return link.manager.LinkState() == LINK_CLOSED; }));
    // The closed side's I/O thread ends and closes the socket; it closes it only after its
    // last read, so a late frame would have been shown by now.
    EXPECT_TRUE(link.peer.ClosedByPeer());
    EXPECT_EQ(link.window.LogText(),
              u"SystemMessage:: \r\n切断要求命令を受信したため、切断しました\r\n");
}

TEST(LinkFrames, PeerCloseMarksTheLinkClosedWithoutABox) {
    MessageRecorder boxes;
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return link.manager.LinkState() == LINK_CLOSED; }));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(link.window.LogText(), u"");
}

TEST(LinkFrames, ChatPayloadEdgeCases) {
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    // lengthField 0: no line break, so the error line and the dump.
    link.peer.SendFrame(Header(NET_CHAT, 0), ChatPayload(u""));
    ASSERT_TRUE(link.window.WaitFor([&] { return !link.window.Events().empty(); }));
    ASSERT_EQ(link.window.Messages().size(), 1u);
    WString log = link.window.LogText();
    EXPECT_THAT(log, TextStartsWith(u"Error: Null Pointer\r\nPROGRAM_SOURCE:.\\main LINE118\r\n"));
    EXPECT_NE(log.find(u"00 01 02 03"), WString::npos);
    // Still a chat line for the window's answer.
    EXPECT_EQ(link.window.Events(), std::vector<LinkEvent>{LinkEvent::ChatArrived});
}

TEST(LinkFrames, StatusMessageSetsStatusLineAndTitle) {
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    WString status = u"離席中";
    auto payload = test::Utf16LeBytes(status);
    payload.push_back('!');  // odd length: the last byte is dropped
    std::vector<std::uint8_t> name(256, 0);
    WString longName(128, u'n');  // all 128 units used: no terminator on the wire
    for (std::size_t i = 0; i < 128; ++i) name[2 * i] = 'n';
    payload.insert(payload.end(), name.begin(), name.end());
    link.peer.SendFrame(Header(NET_STATUS, static_cast<std::uint32_t>(status.size() * 2 + 1)),
                        payload);
    // The event is the last call a status message makes.
    ASSERT_TRUE(link.window.WaitFor([&] { return !link.window.Events().empty(); }));
    EXPECT_EQ(link.window.StatusText(), status);
    EXPECT_EQ(link.window.Title(), u"ミルカ Ver.T100a - " + longName);
    EXPECT_EQ(link.window.Events(), std::vector<LinkEvent>{LinkEvent::StatusChanged});
    EXPECT_EQ(link.manager.LinkState(), LINK_SERVER);  // still in step

    // A name cannot carry the mark of an encrypted link into the title.
    auto forged = test::Utf16LeBytes(u"x [暗号化された接続][暗号化された接続]");
    forged.resize(256, 0);
    link.peer.SendFrame(Header(NET_STATUS, 0), forged);
    ASSERT_TRUE(link.window.WaitFor([&] { return link.window.Events().size() == 2; }));
    EXPECT_EQ(link.window.Title(), u"ミルカ Ver.T100a - x ");
}

TEST(LinkFrames, OversizedTextLengthsCloseTheLinkWithoutAllocating) {
    // Both claim about 4 GiB (the chat length leaves room for the terminator's addition).
    for (auto [code, length] :
         {std::pair<NETCODE, std::uint32_t>{NET_CHAT, 0xFFFFFFF0u}, {NET_STATUS, 0xFFFFFFFFu}}) {
        SCOPED_TRACE(code);
        ServerWithFakePeer link;
        ASSERT_TRUE(link.connected);
        int refusedBefore = refusedAllocations;
        link.peer.SendFrame(Header(code, length));
        ASSERT_TRUE(WaitUntil([&] {
            return link.manager.LinkState() == LINK_CLOSED || refusedAllocations > refusedBefore;
        }));
        EXPECT_EQ(refusedAllocations, refusedBefore);
        EXPECT_EQ(link.manager.LinkState(), LINK_CLOSED);
        EXPECT_TRUE(link.window.Messages().empty());
        EXPECT_TRUE(link.window.StatusText().empty());
    }
}

TEST(LinkFrames, PayloadCutShortClosesTheLinkWhenThePeerGoes) {
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.peer.SendFrame(Header(NET_STATUS, 40), std::vector<std::uint8_t>(10, 'a'));
    link.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return link.manager.LinkState() == LINK_CLOSED; }));
    EXPECT_TRUE(link.window.StatusText().empty());
}

// A peer that sends nothing for the silence limit, or stops half-way through a frame, is gone:
// the link ends with one line saying so. Keep-alives alone keep a link standing.
TEST(LinkFrames, APeerThatFallsSilentEndsTheLink) {
    using namespace std::chrono_literals;
    enum class Peer { SendsNothing, StopsMidFrame, SendsKeepAlives };
    for (Peer kind : {Peer::SendsNothing, Peer::StopsMidFrame, Peer::SendsKeepAlives}) {
        SCOPED_TRACE(static_cast<int>(kind));
        FakePeer peer;
        std::uint16_t port = peer.Listen();
        test::WindowRecorder window;
        TaskManager manager;
        manager.ownerWindow = &window;
        manager.SetKeepAliveInterval(1h);
        manager.SetSilenceLimit(1s);
        std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
        ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
        accepter.join();
        if (kind == Peer::StopsMidFrame)
            peer.SendFrame(Header(NET_CHAT, 40), std::vector<std::uint8_t>(10, 'x'));
        if (kind == Peer::SendsKeepAlives) {
            for (int sent = 0; sent < 25; ++sent) {
                peer.SendFrame(Header(NET_KEEPALIVE));
                std::this_thread::sleep_for(100ms);
            }
            EXPECT_EQ(manager.LinkState(), LINK_CLIENT);
        }
        ASSERT_TRUE(WaitUntil([&] { return manager.LinkState() == LINK_CLOSED; }));
        ASSERT_TRUE(
            window.WaitFor([&] { return window.LogText().find(u"途絶えた") != WString::npos; }));
        WString log = window.LogText();
        EXPECT_EQ(log.find(u"途絶えた"), log.rfind(u"途絶えた"));
    }
}

}  // namespace
}  // namespace mirka
