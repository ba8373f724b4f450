// The link manager's side of the private link: the handshake at the start of a link, the
// boxes that say why it failed, and the sealed writes.
#include <boost/asio/write.hpp>

#include "link/task_manager.h"
#include "toolkit/message_box.h"

namespace mirka {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {
// The window waits this much longer than the handshake's own deadline, in case the I/O
// thread is slow to report.
constexpr std::chrono::seconds kWaitMargin{5};

const char16_t* OutcomeText(secure::Outcome outcome) {
    switch (outcome) {
        case secure::Outcome::WrongPassphrase:
            return u"合言葉が一致しません";
        case secure::Outcome::PeerHasNoPassphrase:
            return u"相手は合言葉を使っていません";
        case secure::Outcome::PeerWantsPassphrase:
            return u"相手は合言葉を求めています";
        default:
            return u"暗号化された接続を確立できませんでした";
    }
}
}  // namespace

bool TaskManager::WriteRaw(tcp::socket& link, const void* bytes, std::size_t n) {
    boost::system::error_code error;
    std::lock_guard<std::mutex> guard(sendLock);
    asio::write(link, asio::buffer(bytes, n), error);
    return !error;
}

void TaskManager::StartHandshake(enumLinkState state, tcp::socket& link) {
    recordFailureReported = false;
    handshakeTimer.reset();
    // After a failed accept there is no peer: the first read closes the link as before.
    if (!link.is_open()) {
        privateLink.BeginWithoutPeer();
        return;
    }
    // The client is CPace's initiator, the server its responder.
    auto hello =
        privateLink.Begin(state == LINK_CLIENT ? secure::Role::Initiator : secure::Role::Responder);
    if (!hello) return;
    // The hello goes first, alone; then the peer's first frame decides.
    WriteRaw(link, hello->data(), hello->size());
    std::uint64_t generation = linkGeneration;
    handshakeTimer.emplace(ioService);
    handshakeTimer->expires_after(handshakeTimeout);
    handshakeTimer->async_wait([this, generation](const boost::system::error_code& error) {
        OnHandshakeTimer(error, generation);
    });
}

void TaskManager::OnHandshakeTimer(const boost::system::error_code& error,
                                   std::uint64_t generation) {
    if (error || generation != linkGeneration || privateLink.Decided()) return;
    // An original peer sends nothing until its first keep-alive; a silent peer gets no
    // plain text either.
    privateLink.OnTimeout();
    SetLinkState(LINK_CLOSED);
}

bool TaskManager::WaitForHandshake() {
    if (!privateLink.Asked()) return true;
    {
        std::unique_lock<std::mutex> lock(wakeLock);
        wake.wait_for(lock, handshakeTimeout + kWaitMargin,
                      [this] { return privateLink.Decided() || linkState == LINK_CLOSED; });
    }
    if (privateLink.Sealing()) return true;
    privateLink.OnTimeout();
    SetLinkState(LINK_CLOSED);
    ShowTypedMessage(kMbIconError, kErrorCaption, u"%s",
                     WString(OutcomeText(privateLink.Result())));
    return false;
}

bool TaskManager::OnHandshakeFrame(const std::uint8_t* frame) {
    secure::HandshakeStep step = privateLink.OnPeerFrame(frame);
    std::shared_ptr<tcp::socket> current = LinkSocket();
    if (step.reply && current) WriteRaw(*current, step.reply->data(), step.reply->size());
    switch (step.outcome) {
        case secure::Outcome::Pending:
            return true;
        case secure::Outcome::Established:
            // The rest of the peer's bytes are records.
            receiver.BeginRecords(privateLink.TakeReader());
            if (handshakeTimer) handshakeTimer->cancel();
            Wake();
            return true;
        case secure::Outcome::PeerWantsPassphrase:
            // This side has no passphrase: the peer hears so, and this user too.
            SetLinkState(LINK_CLOSED);
            ShowTypedMessage(kMbIconError, kErrorCaption, u"%s",
                             WString(OutcomeText(step.outcome)));
            return false;
        default:
            // The window thread waits in BeginLink and tells the user.
            SetLinkState(LINK_CLOSED);
            return false;
    }
}

void TaskManager::OnRecordFailure() {
    SetLinkState(LINK_CLOSED);
    if (recordFailureReported.exchange(true)) return;
    AppendLog(nullptr, u"SystemError:: \r\n受信したデータの検証に失敗したため、切断しました\r\n");
}

void TaskManager::WriteSealed(tcp::socket& link, const std::vector<asio::const_buffer>& parts,
                              boost::system::error_code& error) {
    std::size_t used = 0;
    if (parts.size() == 1) {
        privateLink.Seal({static_cast<const std::uint8_t*>(parts[0].data()), parts[0].size()},
                         sealedBytes, used);
    } else {
        sealScratch.clear();
        for (const auto& part : parts) {
            auto* bytes = static_cast<const std::uint8_t*>(part.data());
            sealScratch.insert(sealScratch.end(), bytes, bytes + part.size());
        }
        privateLink.Seal(sealScratch, sealedBytes, used);
    }
    asio::write(link, asio::buffer(sealedBytes.data(), used), error);
}

}  // namespace mirka
