#include "link/task_manager.h"

#include <cstring>
#include <regex>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "app/log_message.h"
#include "toolkit/message_box.h"
#include "toolkit/platform.h"

namespace mirka {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {
// Frames handled in one go before the I/O thread lets its timer run.
constexpr int kFramesPerTurn = 64;
}  // namespace

TaskManager::TaskManager(ProgramValues* programValues)
    : values(programValues ? programValues : &ownValues) {
    StartWorkers();
}

TaskManager::~TaskManager() {
    stopping = true;
    linkState = LINK_CLOSED;
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        if (socket && socket->is_open()) ShutdownSocketHandle(socket->native_handle());
        if (acceptor && acceptor->is_open()) ShutdownSocketHandle(acceptor->native_handle());
    }
    ioService.stop();
    Wake();
    JoinWorkers();
}

void TaskManager::Wake() {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        wakePending = true;
    }
    wake.notify_all();
}

void TaskManager::StartWorkers() {
    std::lock_guard<std::mutex> guard(wakeLock);
    if (!ioThread.joinable()) {
        ioRunning = true;
        ioThread = std::thread(&TaskManager::IoThreadMain, this);
    }
    if (!pumpThread.joinable()) {
        pumpRunning = true;
        pumpThread = std::thread(&TaskManager::PumpThreadMain, this);
    }
}

void TaskManager::JoinWorkers() {
    if (ioThread.joinable()) ioThread.join();
    if (pumpThread.joinable()) pumpThread.join();
}

void TaskManager::WaitForClosedLinkToEnd() {
    if (linkState != LINK_CLOSED) return;  // the first link: the workers wait for it
    {
        // A peer that never closes its end, or never reads, must not hold us up for long.
        std::unique_lock<std::mutex> lock(wakeLock);
        if (!wake.wait_for(lock, closeLinger, [this] { return !ioRunning && !pumpRunning; })) {
            lock.unlock();
            std::lock_guard<std::recursive_mutex> guard(globalLock);
            if (socket && socket->is_open()) ShutdownSocketHandle(socket->native_handle());
        }
    }
    JoinWorkers();
    ioService.restart();
}

void TaskManager::RestartThreads() {
    WaitForClosedLinkToEnd();
    StartWorkers();
}

void TaskManager::SetLinkState(enumLinkState state) {
    linkState = state;
    if (state == LINK_CLOSED) {
        // Ends the keep-alive chain at once, so the I/O thread finishes as soon as the read
        // chain does. The generation keeps a late cancel from touching a newer link.
        std::uint64_t generation = linkGeneration;
        asio::post(ioService, [this, generation] {
            if (generation != linkGeneration) return;
            if (keepAliveTimer) keepAliveTimer->cancel();
            if (handshakeTimer) handshakeTimer->cancel();
        });
    }
    Wake();
}

std::shared_ptr<tcp::socket> TaskManager::LinkSocket() {
    std::lock_guard<std::recursive_mutex> guard(globalLock);
    return socket;
}

bool TaskManager::StartServer(std::uint16_t port) {
    WaitForClosedLinkToEnd();
    auto newSocket = std::make_shared<tcp::socket>(ioService);
    boost::system::error_code error;
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        acceptor = std::make_unique<tcp::acceptor>(ioService);
        acceptor->open(tcp::v4(), error);
        if (!error) acceptor->set_option(tcp::acceptor::reuse_address(true), error);
        if (!error) acceptor->bind(tcp::endpoint(tcp::v4(), port), error);
        if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
        socket = newSocket;
    }
    if (error) {
        ShowTypedMessage(kMbIconError, kErrorCaption, u"%S", error.message());
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        acceptor.reset();
        SetLinkState(LINK_CLOSED);
        return false;
    }
    tcp::endpoint peer;
    acceptor->accept(*newSocket, peer, error);
    if (error) {
        ShowTypedMessage(kMbIconError, kErrorCaption, u"%S", error.message());
    } else {
        std::lock_guard<std::mutex> guard(peerLock);
        peerEndpoint = peer;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        boost::system::error_code ignored;
        acceptor->close(ignored);
        acceptor.reset();
    }
    return BeginLink(LINK_SERVER);
}

void TaskManager::CancelServerWait() {
    std::lock_guard<std::recursive_mutex> guard(globalLock);
    if (acceptor && acceptor->is_open()) ShutdownSocketHandle(acceptor->native_handle());
}

bool TaskManager::ConnectToServer(const std::string& host, std::uint16_t port) {
    WaitForClosedLinkToEnd();
    auto newSocket = std::make_shared<tcp::socket>(ioService);
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        socket = newSocket;
    }
    boost::system::error_code error;
    if (IsDottedIPv4(host)) {
        boost::system::error_code parseError;
        asio::ip::address_v4 address = asio::ip::make_address_v4(host, parseError);
        if (parseError) {
            // Matches the dotted pattern but a number is above 255.
            error = asio::error::host_not_found;
        } else {
            tcp::endpoint endpoint(address, port);
            newSocket->close(error);
            newSocket->connect(endpoint, error);
            if (error) ShowTypedMessage(kMbIconError, kErrorCaption, u"%S", error.message());
            std::lock_guard<std::mutex> guard(peerLock);
            peerEndpoint = endpoint;
        }
    } else {
        tcp::resolver resolver(ioService);
        auto results =
            resolver.resolve(host, std::to_string(port), tcp::resolver::address_configured, error);
        if (error) {
            ShowTypedMessage(kMbIconError, kErrorCaption, u"名前の解決に失敗しました");
            return false;
        }
        error = asio::error::host_not_found;
        for (const auto& result : results) {
            if (!error) break;
            boost::system::error_code ignored;
            newSocket->close(ignored);
            {
                std::lock_guard<std::mutex> guard(peerLock);
                peerEndpoint = result.endpoint();
            }
            newSocket->connect(result.endpoint(), error);
        }
    }
    if (error) {
        ShowTypedMessage(kMbIconError, kErrorCaption,
                         u"%S:%d に接続できませんでした。\r\nIPとポートを確認すると同時に\r\n"
                         u"相手がサーバとして待機しているかを確認してください。",
                         host, static_cast<int>(port));
        return false;
    }
    return BeginLink(LINK_CLIENT);
}

bool TaskManager::IsDottedIPv4(const std::string& text) {
    static const std::regex pattern("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$");
    return std::regex_match(text, pattern);
}

std::string TaskManager::PeerAddressText() const {
    std::lock_guard<std::mutex> guard(peerLock);
    return peerEndpoint.address().to_string();
}

bool TaskManager::BeginLink(enumLinkState state) {
    // The I/O thread does not run the service yet: it waits for the state below.
    std::shared_ptr<tcp::socket> current = LinkSocket();
    boost::system::error_code ignored;
    // Set once here, so the first asynchronous read does not change the socket's mode
    // while the pump thread writes.
    if (current->is_open()) current->native_non_blocking(true, ignored);
    receiver.Reset();
    ++linkGeneration;
    StartHandshake(state, *current);
    ReadFrames();
    SetLinkState(state);
    StartWorkers();
    return WaitForHandshake();
}

void TaskManager::IoThreadMain() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(wakeLock);
            wake.wait(lock, [this] { return stopping || linkState != LINK_IDLE; });
        }
        if (stopping || linkState == LINK_CLOSED) break;
        ArmKeepAlive();
        try {
            ioService.run();
        } catch (const std::exception&) {
            AppendLog(nullptr, u"System Message: \r\nio_service Error timeout\r\n");
            break;
        }
        keepAliveTimer.reset();
    }
    keepAliveTimer.reset();
    {
        // The pump thread may be inside a write on this socket: the shutdown ends that write,
        // and the close waits for it, so no write ever reaches a descriptor number that the
        // system has meanwhile handed to another file or socket.
        {
            std::lock_guard<std::recursive_mutex> guard(globalLock);
            if (socket && socket->is_open()) ShutdownSocketHandle(socket->native_handle());
        }
        std::lock_guard<std::mutex> writes(sendLock);
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        boost::system::error_code ignored;
        if (socket) socket->close(ignored);
    }
    transfers.EndTransfersWithLink();
    ioService.restart();
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        ioRunning = false;
    }
    wake.notify_all();
}

void TaskManager::ArmKeepAlive() {
    keepAliveTimer.emplace(ioService);
    keepAliveTimer->expires_after(keepAliveInterval);
    keepAliveTimer->async_wait(
        [this](const boost::system::error_code& error) { OnKeepAliveTimer(error); });
}

void TaskManager::OnKeepAliveTimer(const boost::system::error_code& error) {
    if (error) {
        // Cancelled because the link closed: the chain just ends.
        if (linkState == LINK_CLOSED) return;
        AppendLog(nullptr, u"System Message: \r\nHandler Error timeout\r\n");
        SetLinkState(LINK_CLOSED);
        return;
    }
    if (linkState == LINK_CLOSED) return;
    QueueKeepAlive();
    keepAliveTimer->expires_after(keepAliveInterval);
    keepAliveTimer->async_wait([this](const boost::system::error_code& e) { OnKeepAliveTimer(e); });
}

void TaskManager::ReadFrames() {
    for (int handled = 0; handled < kFramesPerTurn; ++handled) {
        if (receiver.Available() < FrameHeader::kBytes && !receiver.OpenRecords()) {
            OnRecordFailure();
            return;
        }
        if (receiver.Available() < FrameHeader::kBytes) {
            std::size_t room = 0;
            std::uint8_t* space = receiver.PrepareFill(room);
            std::shared_ptr<tcp::socket> current = LinkSocket();
            current->async_read_some(
                asio::buffer(space, room),
                [this, current](const boost::system::error_code& error, std::size_t got) {
                    if (error) {
                        SetLinkState(LINK_CLOSED);
                        return;
                    }
                    if (!receiver.CommitFill(got)) {
                        OnRecordFailure();
                        return;
                    }
                    ReadFrames();
                });
            return;
        }
        if (privateLink.Takes(receiver.Data())) {
            std::array<std::uint8_t, FrameHeader::kBytes> frame;
            std::memcpy(frame.data(), receiver.Data(), frame.size());
            receiver.Consume(frame.size());
            if (!OnHandshakeFrame(frame.data())) return;
            continue;
        }
        FrameHeader header = FrameHeader::Decode(receiver.Data());
        receiver.Consume(FrameHeader::kBytes);
        if (!Dispatch(header)) return;
    }
    asio::post(ioService, [this] { ReadFrames(); });
}

bool TaskManager::Dispatch(const FrameHeader& header) {
    bool ok = true;
    switch (header.code) {
        case NET_CHAT:
            ok = OnChatLine(header);
            break;
        case NET_STATUS:
            ok = OnStatusMessage(header);
            break;
        case NET_DISCONNECT:
            OnDisconnectReceived();
            return false;
        case NET_FILE_OFFER:
        case NET_FILE_ACCEPT:
        case NET_FILE_DATA:
        case NET_FILE_CANCEL:
        case NET_FILE_DELETE:
        case NET_FILE_RESEND:
        case NET_FILE_PAUSE:
            ok = transfers.OnFileFrame(header);
            break;
        default:
            break;  // keep-alive and codes outside the table: the header alone is skipped
    }
    if (!ok) SetLinkState(LINK_CLOSED);  // a payload that could not be read ends the link
    return ok;
}

bool TaskManager::ReadPayload(void* destination, std::size_t n) {
    std::shared_ptr<tcp::socket> current = LinkSocket();
    boost::system::error_code error;
    if (current && receiver.ReadExact(*current, static_cast<std::uint8_t*>(destination), n, error))
        return true;
    if (receiver.RecordFailed()) OnRecordFailure();
    return false;
}

bool TaskManager::WriteFrame(const FrameHeader& header,
                             std::initializer_list<asio::const_buffer> payload) {
    auto headerBytes = header.Encode();
    std::vector<asio::const_buffer> parts;
    parts.reserve(payload.size() + 1);
    parts.push_back(asio::buffer(headerBytes));
    parts.insert(parts.end(), payload.begin(), payload.end());
    return WriteParts(parts);
}

const std::uint8_t* TaskManager::BufferedPayload(std::size_t n) {
    return receiver.Available() >= n ? receiver.Data() : nullptr;
}

void TaskManager::ConsumePayload(std::size_t n) {
    receiver.Consume(n);
}

std::int32_t TaskManager::SendBudget() const {
    return sendBufSize.load();
}

bool TaskManager::WriteParts(const std::vector<asio::const_buffer>& parts) {
    enumLinkState state = linkState;
    if (state != LINK_SERVER && state != LINK_CLIENT) return false;
    std::shared_ptr<tcp::socket> current = LinkSocket();
    if (!current) return false;
    boost::system::error_code error;
    {
        std::lock_guard<std::mutex> guard(sendLock);
        if (privateLink.Private()) {
            // Nothing goes out in plain text, nor before the handshake has ended well.
            if (!privateLink.Sealing()) return false;
            WriteSealed(*current, parts, error);
        } else {
            asio::write(*current, parts, error);
        }
    }
    if (error) {
        state = linkState;
        if (state == LINK_SERVER || state == LINK_CLIENT) SetLinkState(LINK_CLOSED);
        return false;
    }
    return true;
}

void TaskManager::PostCommand(Command command) {
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        commands.push_back(std::move(command));
    }
    Wake();
}

void TaskManager::QueueKeepAlive() {
    PostCommand([this](int arg) { SendCode(arg, NET_KEEPALIVE); });
}

void TaskManager::SendCode(int, NETCODE code) {
    FrameHeader header;
    header.code = code;
    WriteFrame(header);
}

bool TaskManager::RunPendingCommands() {
    std::vector<Command> taken;
    {
        std::lock_guard<std::recursive_mutex> guard(globalLock);
        taken.swap(commands);
    }
    for (auto& command : taken) command(0);
    return !taken.empty();
}

void TaskManager::PumpThreadMain() {
    while (linkState != LINK_CLOSED && !stopping) {
        if (!privateLink.ReadyToSend()) {
            // Nothing leaves before the private link stands.
            std::unique_lock<std::mutex> lock(wakeLock);
            wake.wait(lock, [this] {
                return privateLink.ReadyToSend() || stopping || linkState == LINK_CLOSED;
            });
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(wakeLock);
            wakePending = false;
        }
        auto passStart = std::chrono::steady_clock::now();
        RunPendingCommands();
        bool sending = transfers.SenderPass();
        if (sending) {
            // While a transfer sends, a pass starts every sendWait milliseconds: the pause is
            // what the pass left of that time, so a large budget is not slowed down by a full
            // pause after every long pass, and the default pace stays one pass a millisecond.
            std::this_thread::sleep_until(passStart + std::chrono::milliseconds(sendWait.load()));
        } else {
            // Nothing to send: sleep until a command, a transfer or a state change comes.
            std::unique_lock<std::mutex> lock(wakeLock);
            wake.wait(lock, [this] { return wakePending || stopping || linkState == LINK_CLOSED; });
        }
    }
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        pumpRunning = false;
    }
    wake.notify_all();
}

void TaskManager::AppendLog(const CharFormat* style, WStringView text) {
    AppendLogTo(&ownerWindow, style, text);
}

}  // namespace mirka
