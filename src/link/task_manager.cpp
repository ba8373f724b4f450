#include "link/task_manager.h"

#include <algorithm>
#include <regex>

#include <boost/asio/ip/address_v4.hpp>

#include "common/log_message.h"
#include "link/transport/connector.h"
#include "link/transport/dual_stack_listener.h"
#include "link/wire/delivery_frames.h"
#include "toolkit/format.h"
#include "toolkit/message_box.h"
#include "toolkit/platform.h"

namespace mirka {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

TaskManager::TaskManager(ProgramValues* programValues)
    : values(programValues ? programValues : &ownValues), ioWork(asio::make_work_guard(ioService)) {
    // The workers wait for this lock before they look at the thread checks.
    std::lock_guard<std::mutex> guard(wakeLock);
    ioThread = std::thread(&TaskManager::IoThreadMain, this);
    pumpThread = std::thread(&TaskManager::PumpThreadMain, this);
    ioThreadCheck.Bind(ioThread.get_id());
    pumpThreadCheck.Bind(pumpThread.get_id());
}

TaskManager::~TaskManager() {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        stopping = true;
    }
    linkState = LINK_CLOSED;
    CancelServerWait();
    if (std::shared_ptr<PeerLink> link = CurrentLink()) link->Shutdown();
    ioService.stop();
    wake.notify_all();
    JoinWorkers();
    transfers.StopDigestWorker();  // its last result may still write to the link
    WipeText(passphrase);
}

void TaskManager::Wake() {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        wakePending = true;
    }
    wake.notify_all();
}

void TaskManager::JoinWorkers() {
    if (ioThread.joinable()) ioThread.join();
    if (pumpThread.joinable()) pumpThread.join();
}

void TaskManager::EndPreviousLink() {
    std::shared_ptr<PeerLink> previous = CurrentLink();
    if (!previous) return;
    // Two links never read at once: one still up is closed first.
    if (linkState != LINK_CLOSED) SetLinkState(LINK_CLOSED);
    std::unique_lock<std::mutex> lock(wakeLock);
    auto ended = [this] { return !linkReading && !pumpInPass; };
    // A peer that never closes its end, or never reads, must not hold us up for long.
    if (wake.wait_for(lock, closeLinger, ended)) return;
    lock.unlock();
    previous->Shutdown();
    lock.lock();
    wake.wait(lock, ended);
}

void TaskManager::RestartThreads() {
    if (linkState == LINK_CLOSED) EndPreviousLink();
}

void TaskManager::SetLinkState(enumLinkState state) {
    enumLinkState before = linkState.exchange(state);
    Wake();
    // Only the change from a standing link tells the window, once.
    if (state == LINK_CLOSED && (before == LINK_SERVER || before == LINK_CLIENT)) {
        if (auto window = ownerWindow.Borrow()) window->ShowLinkClosed();
    }
}

std::shared_ptr<PeerLink> TaskManager::NewLink() {
    PeerLinkOwner& owner = *this;
    auto link = std::make_shared<PeerLink>(ioService, owner, ioThreadCheck);
    link->SetQueues(queues);
    link->SetSilenceLimit(silenceLimit);
    return link;
}

std::shared_ptr<PeerLink> TaskManager::CurrentLink() const {
    std::lock_guard<std::mutex> guard(linkLock);
    return currentLink;
}

bool TaskManager::IsCurrent(const PeerLink& link) const {
    std::lock_guard<std::mutex> guard(linkLock);
    return currentLink.get() == &link;
}

bool TaskManager::CloseIfCurrent(const PeerLink& link) {
    enumLinkState state = linkState;
    if ((state != LINK_SERVER && state != LINK_CLIENT) || !IsCurrent(link)) return false;
    SetLinkState(LINK_CLOSED);
    return true;
}

bool TaskManager::StartServer(std::uint16_t port) {
    EndPreviousLink();
    auto link = NewLink();
    // Opened here, before any other thread can reach it; from the accept on only the I/O
    // thread operates on it (asio lets no two threads use one acceptor), and a cancel is a
    // job posted there.
    auto listener = std::make_shared<tcp::acceptor>(ioService);
    boost::system::error_code error = OpenListener(*listener, port);
    if (error) {
        ShowTypedMessage(kMbIconError, kErrorCaption, u"%S", error.message());
        SetLinkState(LINK_CLOSED);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(linkLock);
        acceptor = listener;
    }
    auto peer = std::make_shared<tcp::endpoint>();
    error = AwaitIoOperation([listener, link, peer](const IoCompletion& done) {
        listener->async_accept(link->Socket(), *peer,
                               [listener, peer, done](const boost::system::error_code& failure) {
                                   boost::system::error_code ignored;
                                   listener->close(ignored);
                                   done(failure);
                               });
    });
    if (error) ShowTypedMessage(kMbIconError, kErrorCaption, u"%S", error.message());
    {
        std::lock_guard<std::mutex> guard(linkLock);
        if (!error) peerEndpoint = *peer;
        acceptor.reset();
    }
    return BeginLink(link, LINK_SERVER);
}

void TaskManager::CancelServerWait() {
    std::shared_ptr<tcp::acceptor> listener;
    {
        std::lock_guard<std::mutex> guard(linkLock);
        listener = acceptor;
    }
    // Closed where the accept runs: the accept ends with an error, and StartServer with it.
    if (listener)
        asio::post(ioService, [listener] {
            boost::system::error_code ignored;
            listener->close(ignored);
        });
}

bool TaskManager::WaitsForPeer() const {
    std::lock_guard<std::mutex> guard(linkLock);
    return acceptor != nullptr;
}

bool TaskManager::ConnectToServer(const std::string& host, std::uint16_t port) {
    EndPreviousLink();
    auto link = NewLink();
    auto setPeer = [this](const tcp::endpoint& endpoint) {
        std::lock_guard<std::mutex> guard(linkLock);
        peerEndpoint = endpoint;
    };
    boost::system::error_code error;
    if (IsDottedIPv4(host)) {
        boost::system::error_code parseError;
        asio::ip::address_v4 address = asio::ip::make_address_v4(host, parseError);
        if (parseError) {
            // Matches the dotted pattern but a number is above 255.
            error = asio::error::host_not_found;
        } else {
            tcp::endpoint endpoint(address, port);
            // The box below tells of a failure, in the user's words: no box with the system's
            // text before it. The socket connects on the I/O thread it belongs to: a blocking
            // connect here would fail whenever a signal reached this thread meanwhile (the
            // terminal end's resize, a finished child process).
            error = AwaitIoOperation([link, endpoint](const IoCompletion& done) {
                link->Socket().async_connect(endpoint, done);
            });
            setPeer(endpoint);
        }
    } else {
        std::vector<tcp::endpoint> endpoints;
        if (auto literal = Connector::IPv6Literal(host)) {
            // The resolver knows no brackets; a literal needs no resolving anyway.
            endpoints.emplace_back(*literal, port);
        } else {
            tcp::resolver resolver(ioService);
            auto results = resolver.resolve(host, std::to_string(port),
                                            tcp::resolver::address_configured, error);
            if (error) {
                ShowTypedMessage(kMbIconError, kErrorCaption, u"名前の解決に失敗しました");
                return false;
            }
            for (const auto& result : results) endpoints.push_back(result.endpoint());
        }
        ConnectOutcome outcome = Connector().Connect(endpoints, link->Socket());
        error = outcome.error;
        if (outcome.winner) {
            setPeer(outcome.attempts[*outcome.winner].endpoint);
        } else if (!outcome.attempts.empty()) {
            setPeer(outcome.attempts.back().endpoint);
        }
    }
    if (error) {
        ShowTypedMessage(kMbIconError, kErrorCaption,
                         u"%S:%d に接続できませんでした。\r\nIPとポートを確認すると同時に\r\n"
                         u"相手がサーバとして待機しているかを確認してください。",
                         host, static_cast<int>(port));
        return false;
    }
    return BeginLink(link, LINK_CLIENT);
}

boost::system::error_code TaskManager::AwaitIoOperation(
    const std::function<void(const IoCompletion&)>& start) {
    struct Outcome {
        bool done = false;  // with wakeLock
        boost::system::error_code error;
    };
    auto outcome = std::make_shared<Outcome>();
    IoCompletion finish = [this, outcome](const boost::system::error_code& error) {
        {
            std::lock_guard<std::mutex> guard(wakeLock);
            outcome->error = error;
            outcome->done = true;
        }
        wake.notify_all();
    };
    asio::post(ioService, [start, finish] { start(finish); });
    std::unique_lock<std::mutex> lock(wakeLock);
    wake.wait(lock, [&] { return outcome->done || stopping; });
    return outcome->done ? outcome->error : asio::error::operation_aborted;
}

bool TaskManager::IsDottedIPv4(const std::string& text) {
    static const std::regex pattern("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$");
    return std::regex_match(text, pattern);
}

std::string TaskManager::PeerAddressText() const {
    std::lock_guard<std::mutex> guard(linkLock);
    // A dual-stack server sees IPv4 peers as mapped IPv6 addresses.
    return UnmappedAddress(peerEndpoint.address()).to_string();
}

WString TaskManager::PeerFamilyLine() const {
    std::lock_guard<std::mutex> guard(linkLock);
    if (peerEndpoint.address().is_unspecified()) return {};
    return UnmappedAddress(peerEndpoint.address()).is_v6() ? u"IPv6 で接続しています\r\n"
                                                           : u"IPv4 で接続しています\r\n";
}

bool TaskManager::BeginLink(const std::shared_ptr<PeerLink>& link, enumLinkState state) {
    // What the link says before the talk window is there waits for it.
    ownerWindow.KeepEarlyCalls();
    lastRefusal.clear();
    // The client is CPace's initiator, the server its responder.
    link->Begin(state == LINK_CLIENT ? secure::Role::Initiator : secure::Role::Responder,
                passphrase, capabilities, handshakeFlags);
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        linkReading = true;
    }
    {
        std::lock_guard<std::mutex> guard(linkLock);
        currentLink = link;
    }
    peerHeard = false;
    // The state comes first: the link's first frame may be answered at once.
    SetLinkState(state);
    link->Start(keepAliveInterval, handshakeTimeout);
    if (gate.WaitForHandshake(*link, handshakeTimeout, helloWait)) return true;
    lastRefusal = Format(kFormatCapacity, u"%S (%s)", PeerAddressText(),
                         WString(HandshakeOutcomeText(link->Privacy().Result())));
    return false;
}

bool TaskManager::PeerHeard(const PeerLink& link) const {
    return peerHeard && IsCurrent(link);
}

void TaskManager::WaitForChange(const std::function<bool()>& done,
                                std::chrono::milliseconds patience) {
    std::unique_lock<std::mutex> lock(wakeLock);
    wake.wait_for(lock, patience, [&] { return done() || linkState == LINK_CLOSED; });
}

void TaskManager::SetPassphrase(const WString& text) {
    WipeText(passphrase);
    passphrase = text;
}

bool TaskManager::LinkIsPrivate() const {
    // A closed link is no longer shown as encrypted, whatever its records were.
    enumLinkState state = linkState;
    if (state != LINK_SERVER && state != LINK_CLIENT) return false;
    std::shared_ptr<PeerLink> link = CurrentLink();
    return link && link->Privacy().Sealing();
}

secure::Cipher TaskManager::LinkCipher() const {
    std::shared_ptr<PeerLink> link = CurrentLink();
    return link ? link->Privacy().RecordCipher() : secure::Cipher::XChaCha20Poly1305;
}

void TaskManager::IoThreadMain() {
    for (;;) {
        try {
            ioService.run();
            return;
        } catch (const std::exception&) {
            // A link's own handlers end that link; this is anything else.
            AppendLog(nullptr, u"System Message: \r\nio_service Error timeout\r\n");
        }
    }
}

bool TaskManager::OnKeepAlive(PeerLink& link, const boost::system::error_code& error) {
    ioThreadCheck.Assert();
    if (!IsCurrent(link)) return false;
    if (error) {
        // Cancelled because the link closed: the chain just ends.
        if (linkState == LINK_CLOSED) return false;
        AppendLog(nullptr, u"System Message: \r\nHandler Error timeout\r\n");
        SetLinkState(LINK_CLOSED);
        return false;
    }
    if (linkState == LINK_CLOSED) return false;
    QueueKeepAlive();
    return true;
}

namespace {

// The current PeerLink as the router sees it; a frame its handler refuses closes the
// manager's link.
class RoutedPeerLink final : public FrameRouter::Source {
public:
    RoutedPeerLink(PeerLink& link, ChatLink& manager) : link(link), manager(manager) {}
    std::uint32_t SharedCapabilities() const override { return link.SharedCapabilities(); }
    int SetPeerCapabilities(std::uint32_t bits) override { return link.SetPeerCapabilities(bits); }
    void CloseLink() override { manager.CloseLink(); }

private:
    PeerLink& link;
    ChatLink& manager;
};

}  // namespace

FramePlan TaskManager::PlanOf(PeerLink& link, const FrameHeader& header) {
    ioThreadCheck.Assert();
    // Only the first frame wakes a start that waits for it.
    if (!peerHeard.load(std::memory_order_relaxed) && IsCurrent(link) && !peerHeard.exchange(true))
        Wake();
    return router.PlanOf(RoutedPeerLink(link, *this), header);
}

bool TaskManager::OnFrame(PeerLink& link, const FrameHeader& header, const std::uint8_t* raw,
                          FramePayload& payload) {
    ioThreadCheck.Assert();
    RoutedPeerLink source(link, *this);
    return router.Route(source, header, raw, payload);
}

bool TaskManager::OnFramePiece(PeerLink& link, const FrameHeader& header, const DataPiece& piece) {
    ioThreadCheck.Assert();
    RoutedPeerLink source(link, *this);
    return router.RoutePiece(source, header, piece);
}

void TaskManager::OnLinkFailure(PeerLink& link, Failure failure) {
    ioThreadCheck.Assert();
    switch (failure) {
        case Failure::ReadFailed:
            CloseIfCurrent(link);
            break;
        case Failure::Cut:
            gate.OnCut(link);
            break;
        case Failure::RecordFailed:
            gate.OnRecordFailure(link);
            break;
        case Failure::HandlerFailed:
            if (IsCurrent(link))
                AppendLog(nullptr, u"System Message: \r\nio_service Error timeout\r\n");
            CloseIfCurrent(link);
            break;
        case Failure::Silent:
            // Said once, as the link's end, before it ends: the window adds no line of its own.
            if (!IsCurrent(link) || (linkState != LINK_SERVER && linkState != LINK_CLIENT)) break;
            AppendLog(nullptr, u"SystemError:: \r\n相手からの応答が途絶えたため、切断しました\r\n");
            if (auto shown = ownerWindow.Borrow()) shown->ShowLinkEvent(LinkEvent::PeerEndedLink);
            CloseIfCurrent(link);
            break;
    }
}

void TaskManager::OnLinkEnded(PeerLink& link) {
    ioThreadCheck.Assert();
    if (!IsCurrent(link)) return;
    transfers.EndTransfersWithLink();
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        linkReading = false;
    }
    wake.notify_all();
}

void TaskManager::OnFramesQueued() {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        framesQueued = true;
    }
    wake.notify_all();
}

bool TaskManager::WriteParts(const std::vector<asio::const_buffer>& parts) {
    return WriteToPeer(parts, PeerLink::Last::No);
}

bool TaskManager::WriteToPeer(const std::vector<asio::const_buffer>& parts, PeerLink::Last last) {
    enumLinkState state = linkState;
    if (state != LINK_SERVER && state != LINK_CLIENT) return false;
    // The copy keeps the link for the write, even if a new link replaces it meanwhile. On the
    // I/O thread it is the link whose frame is being answered.
    std::shared_ptr<PeerLink> link = CurrentLink();
    if (!link) return false;
    // The I/O thread never waits on the socket.
    PeerLink::WriteResult result =
        ioThreadCheck.OnThread() ? link->Send(parts) : link->Write(parts, last);
    if (result == PeerLink::WriteResult::Failed) CloseIfCurrent(*link);
    return result == PeerLink::WriteResult::Done;
}

bool TaskManager::Shares(std::uint32_t capabilities) const {
    std::shared_ptr<PeerLink> link = CurrentLink();
    return link && (link->SharedCapabilities() & capabilities) == capabilities;
}

void TaskManager::AwaitPeerAnnouncement() {
    pumpThreadCheck.Assert();
    // A copy of this program announces itself as its first frame, within a round trip of the
    // link's start; an original peer never does, and is not waited for once the link is older.
    constexpr auto kAnnouncementWait = std::chrono::seconds(2);
    for (;;) {
        std::shared_ptr<PeerLink> link = CurrentLink();
        if (!link || link->PeerAnnounced() || link->Age() > kAnnouncementWait || stopping) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void TaskManager::WriteQueuedFrames() {
    pumpThreadCheck.Assert();
    std::shared_ptr<PeerLink> link = CurrentLink();
    if (link && link->WriteQueued() == PeerLink::WriteResult::Failed) CloseIfCurrent(*link);
}

void TaskManager::PostCommand(PumpCommand command) {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        commands.push_back(std::move(command));
        wakePending = true;
    }
    wake.notify_all();
}

void TaskManager::Disconnect() {
    // The request is this link's: should the pump not get to it before the link closes, it
    // must not end the next link instead.
    std::weak_ptr<PeerLink> closing = CurrentLink();
    auto sent = std::make_shared<bool>(false);  // with wakeLock
    PostCommand([this, closing, sent] {
        auto link = closing.lock();
        if (link && IsCurrent(*link)) chat.SendDisconnectRequest();
        {
            std::lock_guard<std::mutex> guard(wakeLock);
            *sent = true;
        }
        wake.notify_all();
    });
    // The peer closes its end on the request, and this side then closes the link: one that
    // closed first, while the peer still wrote, would have the peer's writes fail before it
    // read the request. The pause bounds the wait for a pump that is busy or a peer that
    // never closes.
    {
        std::unique_lock<std::mutex> lock(wakeLock);
        wake.wait_for(lock, disconnectPause, [&] { return (*sent && !linkReading) || stopping; });
    }
    SetLinkState(LINK_CLOSED);
}

void TaskManager::QueueKeepAlive() {
    PostCommand([this] { SendCode(NET_KEEPALIVE); });
}

void TaskManager::SendCode(NETCODE code) {
    FrameHeader header;
    header.code = code;
    WriteFrame(header);
}

bool TaskManager::RunPendingCommands() {
    pumpThreadCheck.Assert();
    std::vector<PumpCommand> taken;
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        taken.swap(commands);
    }
    for (auto& command : taken) command();
    return !taken.empty();
}

void TaskManager::PumpThreadMain() {
    // The transfer rows' figures go to the window from here once a second: the window never
    // waits for the task table's lock, which a slow disk write may hold.
    constexpr auto kRefreshInterval = std::chrono::seconds(1);
    auto nextRefresh = std::chrono::steady_clock::now() + kRefreshInterval;
    std::unique_lock<std::mutex> lock(wakeLock);
    while (!stopping) {
        wakePending = false;
        framesQueued = false;
        // A closed link's commands wait for the next link; a private link's wait until its
        // handshake has ended well. What the I/O thread queued goes out either way.
        std::shared_ptr<PeerLink> link = CurrentLink();
        pumpInPass = linkState != LINK_CLOSED && (!link || link->ReadyToSend());
        bool pass = pumpInPass;
        link.reset();
        lock.unlock();
        WriteQueuedFrames();
        auto passStart = std::chrono::steady_clock::now();
        bool sending = false;
        if (pass) {
            RunPendingCommands();
            sending = transfers.SenderPass();
        }
        if (std::chrono::steady_clock::now() >= nextRefresh) {
            transfers.RefreshTransfers();
            nextRefresh = std::chrono::steady_clock::now() + kRefreshInterval;
        }
        lock.lock();
        if (pass) {
            pumpInPass = false;
            wake.notify_all();
        }
        if (sending) {
            // While a transfer sends, a pass starts every sendWait milliseconds: the pause is
            // what the pass left of that time, so a large budget is not slowed down by a full
            // pause after every long pass, and the default pace stays one pass a millisecond.
            // Frames the I/O thread leaves meanwhile go out at once.
            auto next =
                std::min(passStart + std::chrono::milliseconds(sendWait.load()), nextRefresh);
            while (wake.wait_until(lock, next, [this] { return stopping || framesQueued; }) &&
                   !stopping) {
                framesQueued = false;
                lock.unlock();
                WriteQueuedFrames();
                lock.lock();
            }
        } else {
            // Nothing to send: sleep until a command, a transfer or a state change comes.
            wake.wait_until(lock, nextRefresh,
                            [this] { return wakePending || framesQueued || stopping; });
        }
    }
}

void TaskManager::AppendLog(const CharFormat* style, WStringView text) {
    AppendLogTo(&ownerWindow, style, text);
}

}  // namespace mirka
