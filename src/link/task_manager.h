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

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include "common/chat_font.h"
#include "common/program_values.h"
#include "link/chat/chat_channel.h"
#include "link/frame_router.h"
#include "link/gate/handshake_gate.h"
#include "link/transfer/file_manager.h"
#include "link/transfer/transfer_engine.h"
#include "link/transport/peer_link.h"
#include "link/transport/receive_stream.h"
#include "link/transport/thread_check.h"
#include "link/window_port.h"
#include "link/wire/file_record.h"
#include "link/wire/frame.h"
#include "link/wire/frame_payload.h"

namespace mirka {

enum enumLinkState : std::int32_t {
    LINK_IDLE = 0,
    LINK_SERVER = 1,
    LINK_CLIENT = 2,
    LINK_CLOSED = 3,
};

// Threads of the link, and who writes what:
// - The window thread calls the public members. StartServer, ConnectToServer and
//   Disconnect wait (for the accept or the connect, which run on the I/O thread, for a name
//   lookup, for the disconnect's request to go out); the window runs
//   them on one short-lived worker at a time while it repaints, and that worker stands in
//   for the window thread. Nothing else of the window's runs meanwhile.
// - The I/O thread owns the current PeerLink's reading, its timers and every frame from the
//   peer: offers, data and controls change the transfer engine's tables, and a reception's
//   bytes are written to its file there. The link reads asynchronously and hands each
//   handler its frame's payload whole (file data in pieces as it comes), so no handler waits
//   for the peer; a frame that stops coming half-way ends the link at the silence limit, as
//   silence does. The I/O thread never waits for the peer to take bytes either: its answers
//   go to the link's queue, which the pump writes.
// - The pump thread runs queued commands (chat, status, the user's file commands), drives
//   the senders and writes the queue the I/O thread filled.
// - The transfer engine's digest worker hashes kept parts; it touches no table and posts
//   each result back under `tasksLock`.
// - The chat channel (ChatChannel) and the handshake gate (HandshakeGate) keep no state of
//   their own; they run on the threads that call them, as their headers say.
// - The transfer engine's `tasksLock` guards its task and folder tables and `nextTaskId`;
//   only the I/O thread, the pump and the digest worker's results take it, briefly.
// - `linkState` is one atomic. Only BeginLink makes it SERVER or CLIENT, after the previous
//   link has stopped reading and the pump has left its pass; every other writer (I/O thread,
//   pump, Disconnect) only sets CLOSED, and the exchange in SetLinkState tells the window of
//   that change once. So no two writers ever disagree on a value.
// `ThreadCheck` asserts the I/O and pump sides in debug builds.
//
// The link manager: the current link to the peer (a PeerLink, new for each connection), the
// I/O thread that reads frames and runs the timers for the manager's whole life, the pump
// thread that runs queued sends and drives the file senders, and the command queue through
// which the window thread asks for anything to be sent. The file transfers are its
// TransferEngine's, the chat its ChatChannel's, the private link's handshake its
// HandshakeGate's.
class TaskManager : private PeerLinkOwner,
                    private TransferLink,
                    private ChatLink,
                    private GateOwner {
public:
    // Window thread. The values the chat and status messages use; the program passes its
    // settings.
    explicit TaskManager(ProgramValues* values = nullptr);
    ~TaskManager();

    TaskManager(const TaskManager&) = delete;
    TaskManager& operator=(const TaskManager&) = delete;

    // Window thread (or one thread standing in for it). Listens on the port, for IPv4 and
    // IPv6 peers alike where the system has both, and waits for one peer. Returns false, with
    // the link closed, when the port cannot be opened; a failed accept still leaves
    // LINK_SERVER, whose first read then fails and closes the link.
    bool StartServer(std::uint16_t port);
    // Any thread: ends a StartServer that is still waiting for its peer (it returns false).
    void CancelServerWait();
    // Window thread: after a start that failed in the private link's handshake, the peer's
    // address and why ("192.0.2.1 (合言葉が一致しません)"); empty after any other start.
    WString LastRefusal() const { return lastRefusal; }
    // Window thread. A dotted IPv4 address is connected to as it stands; an IPv6 literal
    // (in brackets or not, with a zone or not) and every address of a name are tried
    // IPv6 first, Happy Eyeballs style (see Connector).
    bool ConnectToServer(const std::string& host, std::uint16_t port);
    std::string PeerAddressText() const;
    // The opening message's line that names the link's address family, "IPv4 で接続しています"
    // or its IPv6 twin with its line end; empty without a peer.
    WString PeerFamilyLine() const;
    // The name is the first version's, whose threads ended with each link; these run for
    // the manager's life. What is left: a closed link that the peer keeps open is given up
    // after the linger, so that the next link starts at once.
    void RestartThreads();

    // Any thread: commands run on the pump, in order.
    void PostCommand(PumpCommand command) override;

    // Chat, status and disconnect, from the window thread; the sends run on the pump.
    void QueueChatLine(const WString& text, const WString& name) { chat.QueueChatLine(text, name); }
    void QueueTextLine(const WString& text) { chat.QueueTextLine(text); }
    void QueueStatusMessage(const WString& statusText) { chat.QueueStatusMessage(statusText); }
    void Disconnect();

    // Window thread; OfferFile and ApplyFileStatus are commands (pump thread).
    // File transfer. SendFile takes the row the caller added with AddTransferRow (or -1 to
    // let the engine add it). Status changes name the transfer's direction, since both
    // peers may pick the same id at once.
    void SendFile(const WString& path, int row = -1) { transfers.SendFile(path, row); }
    void SetFileStatus(std::int32_t taskId, enumFileSendStatus status,
                       TransferDirection direction) {
        transfers.SetFileStatus(taskId, status, direction);
    }
    // Window thread: detaches the window, waiting until no worker is inside a call on it.
    void DetachWindow(TalkWindowPort* window) { ownerWindow.Detach(window); }

    // The private link: with a passphrase, the peer must show the same one, and everything
    // after the handshake travels in encrypted records. Empty: the original plain wire.
    // Kept in memory only. Window thread, before StartServer or ConnectToServer.
    void SetPassphrase(const WString& passphrase);
    WString Passphrase() const { return passphrase; }
    // Any thread: whether the current link stands encrypted.
    bool LinkIsPrivate() const;
    // What this copy announces to the peer at the start of each link (see delivery_frames.h);
    // zero, the default here, keeps the original wire byte for byte. Window thread, before
    // StartServer or ConnectToServer; the program announces all it knows.
    void SetCapabilities(std::uint32_t bits) { capabilities = bits; }
    // Whether each offer from the peer is taken (see TransferEngine); window thread, before
    // StartServer or ConnectToServer. Unset, every offer is taken.
    void SetOfferQuestion(TransferEngine::OfferQuestion question) {
        transfers.SetOfferQuestion(std::move(question));
    }
    // Any thread: the answer to an offer asked about.
    void AnswerOffer(std::uint64_t ticket, bool take) { transfers.AnswerOffer(ticket, take); }
    // How long a start without a passphrase waits for the peer's first frame before the
    // link counts as started: a peer that has a passphrase sends its hello first, and the
    // start then fails as a refused handshake does (LastRefusal says so). Zero, the default,
    // takes the link at once. Window thread, before StartServer or ConnectToServer.
    void SetHelloWait(std::chrono::milliseconds wait) { helloWait = wait; }

    // Any thread.
    enumLinkState LinkState() const { return linkState.load(); }
    void SetLinkState(enumLinkState state);

    // The talk window that receives all output of the link and the transfers: attached and
    // detached by the window thread, borrowed by the workers.
    WindowSlot ownerWindow;

    // Any thread; the pump reads them for each pass. sendWait is the pause between passes
    // (ms); sendBufSize, named after conf.txt's "bufsize", is no buffer but the bytes a
    // sender may put out in one pass.
    std::atomic<std::uint16_t> sendWait{kDefaultSendWait};
    std::atomic<std::int32_t> sendBufSize{kDefaultSendBufSize};

private:
    // Tests reach a few more things through this one class (tests/support).
    friend class TaskManagerTestSeam;
    // Reached by the program itself and, through the seam, by tests and benchmarks.
    void QueueKeepAlive();
    void SendCode(NETCODE code);
    static bool IsDottedIPv4(const std::string& text);
    // Any thread: whether a StartServer is listening for its peer now.
    bool WaitsForPeer() const;
    // Any thread: the current private link's cipher.
    secure::Cipher LinkCipher() const;
    // Tuning the program leaves at its values; window thread, before a link starts.
    // How long a verified send waits for its receipt before its row says it is unconfirmed.
    void SetReceiptWait(std::chrono::milliseconds wait) { transfers.SetReceiptWait(wait); }
    // Whether this copy offers AES-256-GCM records: as the processor allows unless told
    // otherwise (a test stands for a machine without AES instructions).
    void OfferAes(bool offer) { handshakeFlags = offer ? secure::OwnHandshakeFlags() : 0; }
    // How long a copy with a passphrase waits for the peer's first frame.
    void SetHandshakeTimeout(std::chrono::milliseconds timeout) { handshakeTimeout = timeout; }
    void SetKeepAliveInterval(std::chrono::milliseconds interval) { keepAliveInterval = interval; }
    // How long a peer may send nothing (three of its keep-alive periods) before the link is
    // taken as gone.
    void SetSilenceLimit(std::chrono::milliseconds limit) { silenceLimit = limit; }
    // The longest a disconnect waits for its request to go out before it closes the link.
    void SetDisconnectPause(std::chrono::milliseconds pause) { disconnectPause = pause; }
    // How long a closed link waits for the peer to close its end before closing its own.
    void SetCloseLinger(std::chrono::milliseconds linger) { closeLinger = linger; }
    void AppendLog(const CharFormat* style, WStringView text);
    // TransferLink and ChatLink: the engine's and the chat's way to the peer.
    // Any thread: every write to the peer, one unit, sealed on a private link. A failed
    // write closes the link.
    bool WriteParts(const std::vector<boost::asio::const_buffer>& parts) override;
    bool WriteToPeer(const std::vector<boost::asio::const_buffer>& parts,
                     PeerLink::Last last) override;
    void CloseLink() override { SetLinkState(LINK_CLOSED); }
    void PostToIoThread(std::function<void()> job) override {
        boost::asio::post(ioService, std::move(job));
    }
    void Wake() override;
    bool PeerHeard(const PeerLink& link) const override;
    void RunWaitingCommands() override { RunPendingCommands(); }
    std::int32_t SendBudget() const override { return sendBufSize.load(); }
    bool Stopping() const override { return stopping; }
    void AssertIoThread() const override { ioThreadCheck.Assert(); }
    void AssertPumpThread() const override { pumpThreadCheck.Assert(); }

    void JoinWorkers();
    // Window thread: the link before this one gets the linger to end by itself, then is cut
    // off; the next link starts once it has ended and the pump has left it.
    void EndPreviousLink();
    void IoThreadMain();
    void PumpThreadMain();
    // Pump thread.
    bool RunPendingCommands();
    void WriteQueuedFrames();

    // Window thread: makes the link current and starts it and, with a passphrase, the
    // handshake; false when the private link could not be made (the link is closed then,
    // and the user has been told why).
    bool BeginLink(const std::shared_ptr<PeerLink>& link, enumLinkState state);
    std::shared_ptr<PeerLink> NewLink();
    // Window thread: `start` runs on the I/O thread and begins an asynchronous operation on
    // a socket or acceptor of that thread, which calls the completion it is given once; this
    // waits for that call (operation_aborted when the manager stops first). Unlike a
    // blocking call, the wait is not cut short by a signal reaching the calling thread.
    using IoCompletion = std::function<void(const boost::system::error_code&)>;
    boost::system::error_code AwaitIoOperation(
        const std::function<void(const IoCompletion&)>& start);
    std::shared_ptr<PeerLink> CurrentLink() const;
    bool IsCurrent(const PeerLink& link) const override;
    // A link's failure closes the manager's link only while it is the current one.
    // True when this call closed it.
    bool CloseIfCurrent(const PeerLink& link) override;
    // GateOwner: the window thread waits on the workers' wake.
    void WaitForChange(const std::function<bool()>& done,
                       std::chrono::milliseconds patience) override;

    // I/O thread: what the current link reports.
    FramePlan PlanOf(PeerLink& link, const FrameHeader& header) override;
    bool OnFrame(PeerLink& link, const FrameHeader& header, const std::uint8_t* raw,
                 FramePayload& payload) override;
    bool OnFramePiece(PeerLink& link, const FrameHeader& header, const DataPiece& piece) override;
    bool OnKeepAlive(PeerLink& link, const boost::system::error_code& error) override;
    void OnLinkFailure(PeerLink& link, Failure failure) override;
    void OnLinkEnded(PeerLink& link) override;
    void OnFramesQueued() override;
    bool OnHandshakeStep(PeerLink& link, secure::Outcome outcome) override {
        return gate.OnHandshakeStep(link, outcome);
    }
    // TransferLink: both sides announced these capabilities on the current link.
    bool Shares(std::uint32_t capabilities) const override;
    void AwaitPeerAnnouncement() override;

    ProgramValues ownValues;
    ProgramValues* values;

    // Runs for the manager's whole life; each link's handlers hold their link.
    boost::asio::io_context ioService;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> ioWork;
    ThreadCheck ioThreadCheck;
    ThreadCheck pumpThreadCheck;

    // Guards the current link, the acceptor and the peer's address; held briefly, never
    // across a wait on the network.
    mutable std::mutex linkLock;
    std::shared_ptr<PeerLink> currentLink;
    // Set while a StartServer listens; the I/O thread alone operates on it.
    std::shared_ptr<boost::asio::ip::tcp::acceptor> acceptor;
    boost::asio::ip::tcp::endpoint peerEndpoint{boost::asio::ip::tcp::v4(), 0};

    std::u16string passphrase;                                  // window thread
    WString lastRefusal;                                        // window thread
    std::uint32_t capabilities = 0;                             // window thread
    std::uint8_t handshakeFlags = secure::OwnHandshakeFlags();  // window thread
    std::chrono::milliseconds handshakeTimeout{5000};
    std::chrono::milliseconds helloWait{0};             // window thread
    std::chrono::milliseconds silenceLimit{60000};      // window thread
    PeerLink::Queues queues = PeerLink::Queues::Short;  // window thread; see PeerLink::SetQueues

    std::atomic<enumLinkState> linkState{LINK_IDLE};
    // The current link's peer has sent a frame the manager handled; reset by BeginLink
    // before the link reads, set by the I/O thread.
    std::atomic<bool> peerHeard{false};
    std::atomic<bool> stopping{false};
    // Guards the command queue and what wakes the workers: a state change, a new command,
    // frames the I/O thread left for the pump, the end of a link or of a pump pass.
    std::mutex wakeLock;
    std::condition_variable wake;
    std::vector<PumpCommand> commands;
    bool wakePending = false;
    bool framesQueued = false;
    bool linkReading = false;  // the current link has not ended yet
    bool pumpInPass = false;

    std::chrono::milliseconds keepAliveInterval{20000};
    std::chrono::milliseconds disconnectPause{1000};
    std::chrono::milliseconds closeLinger{3000};

    // The file transfers, the chat and the handshake gate; after the values, the window slot
    // and the thread check they use.
    TransferEngine transfers{*this, ownerWindow, *values};
    ChatChannel chat{*this, ownerWindow, *values};
    HandshakeGate gate{*this, ownerWindow, ioThreadCheck};
    // Which of them takes each frame from the peer.
    FrameRouter router{chat, transfers, ownerWindow};

    std::thread ioThread;
    std::thread pumpThread;
};

}  // namespace mirka
