#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "app/chat_font.h"
#include "app/program_values.h"
#include "link/file_manager.h"
#include "link/file_record.h"
#include "link/frame.h"
#include "link/private_link.h"
#include "link/receive_stream.h"
#include "link/transfer_engine.h"
#include "link/window_port.h"

namespace mirka {

// Received chat and status texts above this are taken for a broken stream: the link closes.
inline constexpr std::uint32_t kMaxTextPayloadBytes = 1024 * 1024;

enum enumLinkState : std::int32_t {
    LINK_IDLE = 0,
    LINK_SERVER = 1,
    LINK_CLIENT = 2,
    LINK_CLOSED = 3,
};

// Holds the talk window that receives all output of the link and the transfers.
class TMWindowHandle {
public:
    virtual ~TMWindowHandle() = default;
    WindowSlot ownerWindow;
};

// The link manager: the TCP connection to the peer, the I/O thread that receives frames and
// runs the keep-alive, the pump thread that runs queued sends and drives the file senders,
// and the command queue through which the window thread asks for anything to be sent. The
// file transfers are its TransferEngine's.
class TaskManager : public TMWindowHandle, private TransferLink {
public:
    using Command = std::function<void(int)>;

    // The values the chat and status messages use; the program passes its settings.
    explicit TaskManager(ProgramValues* values = nullptr);
    ~TaskManager() override;

    TaskManager(const TaskManager&) = delete;
    TaskManager& operator=(const TaskManager&) = delete;

    // Listens on the port and waits for one peer. Returns false, with the link closed, when
    // the port cannot be opened; a failed accept still leaves LINK_SERVER, whose first read
    // then fails and closes the link.
    bool StartServer(std::uint16_t port);
    // Ends a StartServer that is still waiting for its peer (from another thread).
    void CancelServerWait();
    bool ConnectToServer(const std::string& host, std::uint16_t port);
    static bool IsDottedIPv4(const std::string& text);
    std::string PeerAddressText() const;
    void RestartThreads();

    void PostCommand(Command command) override;
    void QueueKeepAlive();
    void SendCode(int, NETCODE code);

    // Chat, status and disconnect.
    void QueueChatLine(const WString& text, const WString& name);
    void QueueTextLine(const WString& text);
    void QueueStatusMessage(const WString& statusText);
    void Disconnect();
    void SendChatLine(int, const WString& name, const WString& text);
    void SendTextLine(int, const WString& text);
    void SendStatusMessage(int, const WString& statusText);
    void SendDisconnectRequest(int);

    // File transfer. SendFile takes the row the caller added with AddTransferRow (or -1 to
    // let the engine add it). Status changes name the transfer's direction, since both
    // peers may pick the same id at once.
    using enumFileSendStatus = mirka::enumFileSendStatus;
    static constexpr enumFileSendStatus FILE_CANCEL = mirka::FILE_CANCEL;
    static constexpr enumFileSendStatus FILE_DELETE = mirka::FILE_DELETE;
    static constexpr enumFileSendStatus FILE_RESEND = mirka::FILE_RESEND;
    static constexpr enumFileSendStatus FILE_PAUSE = mirka::FILE_PAUSE;
    void SendFile(const WString& path, int row = -1) { transfers.SendFile(path, row); }
    void SetFileStatus(std::int32_t taskId, enumFileSendStatus status, TransferDirection direction) {
        transfers.SetFileStatus(taskId, status, direction);
    }
    // The window's once-a-second refresh of the transfer rows.
    void RefreshTransfers() { transfers.RefreshTransfers(); }
    std::vector<TransferFigures> TransferFiguresSnapshot() {
        return transfers.TransferFiguresSnapshot();
    }
    // Window thread: detaches the window, waiting until no worker is inside a call on it.
    void DetachWindow(TalkWindowPort* window) { ownerWindow.Detach(window); }
    std::int32_t NextTaskId() { return transfers.NextTaskId(); }
    // Pump thread: offers the file at once (the command a SendFile queues).
    void OfferFile(int, const WString& path, int row) { transfers.OfferFile(path, row); }

    // The private link: with a passphrase, the peer must show the same one, and everything
    // after the handshake travels in encrypted records. Empty: the original plain wire.
    // Kept in memory only. Window thread, before StartServer or ConnectToServer.
    void SetPassphrase(const WString& passphrase) { privateLink.SetPassphrase(passphrase); }
    WString Passphrase() const { return privateLink.Passphrase(); }
    // Whether the current link stands encrypted.
    bool LinkIsPrivate() const { return privateLink.Sealing(); }
    // How long a copy with a passphrase waits for the peer's first frame (tests shorten it).
    void SetHandshakeTimeout(std::chrono::milliseconds timeout) { handshakeTimeout = timeout; }

    enumLinkState LinkState() const { return linkState.load(); }
    void SetLinkState(enumLinkState state);

    // Tests shorten these.
    void SetKeepAliveInterval(std::chrono::milliseconds interval) { keepAliveInterval = interval; }
    void SetDisconnectPause(std::chrono::milliseconds pause) { disconnectPause = pause; }
    // How long a closed link waits for the peer to close its end before closing its own.
    void SetCloseLinger(std::chrono::milliseconds linger) { closeLinger = linger; }

    std::atomic<std::uint16_t> sendWait{1};
    std::atomic<std::int32_t> sendBufSize{2048};

    ProgramValues& Values() { return *values; }

protected:
    // Writes one frame (header and payload parts) as a unit with respect to other frames.
    // A failed write closes the link.
    bool WriteFrame(const FrameHeader& header,
                    std::initializer_list<boost::asio::const_buffer> payload = {});
    // Blocking read of exactly n payload bytes on the I/O thread.
    bool ReadPayload(void* destination, std::size_t n) override;
    void AppendLog(const CharFormat* style, WStringView text);

private:
    // TransferLink.
    const std::uint8_t* BufferedPayload(std::size_t n) override;
    void ConsumePayload(std::size_t n) override;
    // Every write to the peer: one unit under the send lock, sealed on a private link. A
    // failed write closes the link.
    bool WriteParts(const std::vector<boost::asio::const_buffer>& parts) override;
    void Wake() override;
    std::int32_t SendBudget() const override;
    bool Stopping() const override { return stopping; }

    void StartWorkers();
    void JoinWorkers();
    void WaitForClosedLinkToEnd();
    void IoThreadMain();
    void PumpThreadMain();
    bool RunPendingCommands();

    // Starts reading and, with a passphrase, the handshake; false when the private link
    // could not be made (the link is closed then, and the user has been told why).
    bool BeginLink(enumLinkState state);
    void ReadFrames();
    // Handles one frame; false when the link must stop reading.
    bool Dispatch(const FrameHeader& header);
    void ArmKeepAlive();
    void OnKeepAliveTimer(const boost::system::error_code& error);
    std::shared_ptr<boost::asio::ip::tcp::socket> LinkSocket();

    // The private link's side of the link (task_manager_private.cpp).
    void StartHandshake(enumLinkState state, boost::asio::ip::tcp::socket& link);
    bool WaitForHandshake();
    bool OnHandshakeFrame(const std::uint8_t* frame);
    void OnHandshakeTimer(const boost::system::error_code& error, std::uint64_t generation);
    void OnRecordFailure();
    bool WriteRaw(boost::asio::ip::tcp::socket& link, const void* bytes, std::size_t n);
    // Under sendLock: seals the parts into records and writes them.
    void WriteSealed(boost::asio::ip::tcp::socket& link,
                     const std::vector<boost::asio::const_buffer>& parts,
                     boost::system::error_code& error);

    bool OnChatLine(const FrameHeader& header);
    bool OnStatusMessage(const FrameHeader& header);
    void OnDisconnectReceived();

    ProgramValues ownValues;
    ProgramValues* values;

    // The global lock: guards the command queue and the replacement of socket and acceptor.
    std::recursive_mutex globalLock;
    std::vector<Command> commands;
    std::shared_ptr<boost::asio::ip::tcp::socket> socket;
    std::unique_ptr<boost::asio::ip::tcp::acceptor> acceptor;

    // One frame at a time on the socket, from either worker thread.
    std::mutex sendLock;

    boost::asio::io_context ioService;
    std::optional<boost::asio::steady_timer> keepAliveTimer;
    ReceiveStream receiver;
    PrivateLink privateLink;
    std::optional<boost::asio::steady_timer> handshakeTimer;
    std::chrono::milliseconds handshakeTimeout{5000};
    std::atomic<bool> recordFailureReported{false};
    std::vector<std::uint8_t> sealScratch;  // under sendLock
    std::vector<std::uint8_t> sealedBytes;  // under sendLock
    std::atomic<std::uint64_t> linkGeneration{0};

    boost::asio::ip::tcp::endpoint peerEndpoint{boost::asio::ip::tcp::v4(), 0};
    mutable std::mutex peerLock;

    std::atomic<enumLinkState> linkState{LINK_IDLE};
    std::atomic<bool> stopping{false};
    // Wakes the idle worker threads on a state change or a new command.
    std::mutex wakeLock;
    std::condition_variable wake;
    bool wakePending = false;
    bool ioRunning = false;
    bool pumpRunning = false;

    std::chrono::milliseconds keepAliveInterval{20000};
    std::chrono::milliseconds disconnectPause{1000};
    std::chrono::milliseconds closeLinger{3000};

    // The file transfers; after the values and the window slot it uses.
    TransferEngine transfers{*this, ownerWindow, *values};

    std::thread ioThread;
    std::thread pumpThread;
};

}  // namespace mirka
