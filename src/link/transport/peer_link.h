#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "link/transport/private_link.h"
#include "link/transport/receive_stream.h"
#include "link/transport/receive_window.h"
#include "link/transport/thread_check.h"
#include "link/wire/frame.h"
#include "link/wire/frame_payload.h"
#include "toolkit/platform.h"

namespace mirka {

class PeerLink;

// What a link tells the manager that made it. I/O thread; each call names its link, which
// may be one that a newer link has replaced.
class PeerLinkOwner {
public:
    // Cut: a sealed link's stream ended without the peer's final record. Silent: nothing came
    // from the peer for the link's silence limit (a frame stalled half-way included), or the
    // system gave up on bytes the peer never acknowledged.
    enum class Failure { ReadFailed, Cut, RecordFailed, HandlerFailed, Silent };

    // A frame header was read: how its payload is to be gathered.
    virtual FramePlan PlanOf(PeerLink& link, const FrameHeader& header) = 0;
    // A frame whose payload was gathered whole (or read off, as planned); `raw` is its 48
    // header bytes. False stops the reading.
    virtual bool OnFrame(PeerLink& link, const FrameHeader& header, const std::uint8_t* raw,
                         FramePayload& payload) = 0;
    // A piece of a data frame, as it came. False stops the reading.
    virtual bool OnFramePiece(PeerLink& link, const FrameHeader& header,
                              const DataPiece& piece) = 0;
    // The handshake moved on (or its deadline passed); false stops the reading.
    virtual bool OnHandshakeStep(PeerLink& link, secure::Outcome outcome) = 0;
    // The keep-alive interval passed (or the timer failed); false ends the keep-alive chain.
    virtual bool OnKeepAlive(PeerLink& link, const boost::system::error_code& error) = 0;
    // The link cannot go on; it ends right after.
    virtual void OnLinkFailure(PeerLink& link, Failure failure) = 0;
    // The link's reading is over and its socket closed.
    virtual void OnLinkEnded(PeerLink& link) = 0;
    // I/O thread: its frames wait in the link's queue for the socket; the pump may wait for
    // them with WriteQueued, which tells of a write that failed.
    virtual void OnFramesQueued() = 0;

protected:
    ~PeerLinkOwner() = default;
};

// One TCP link to the peer: its socket, receive stream, keep-alive and handshake timers,
// private-link state and write path. Made by std::make_shared; its asynchronous handlers
// hold it, so it lives until the last of them has run, and a reconnect makes a new one.
//
// Writes: whole frames, never interleaved, in the order they join the link's one queue. Only
// the I/O thread touches the socket (asio does not let two threads use one socket object); it
// writes the queue without ever waiting on the socket. Other threads (the pump) queue their
// bytes, still in their own buffer, and wait until the socket has taken them.
//
// Reads: asynchronous only. A frame's payload is gathered as its owner's plan says before the
// owner sees it (file data in pieces as it comes), so no handler ever waits for the peer and
// a frame stalled half-way holds nothing: the timers and the writes go on meanwhile.
class PeerLink : public std::enable_shared_from_this<PeerLink> {
public:
    enum class WriteResult { Done, Refused, Failed };
    // Whether a write is this side's last: on a private link it goes in the final record.
    enum class Last { No, Yes };

    PeerLink(boost::asio::io_context& io, PeerLinkOwner& owner, const ThreadCheck& ioThread);
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // Before Begin: the socket to accept or connect on. The manager accepts or connects it on
    // the I/O thread and waits there for the outcome, then hands it to Begin.
    boost::asio::ip::tcp::socket& Socket() { return socket; }
    // How the link keeps the queues on both ends. Short (the default): short, so that a chat
    // line never waits behind megabytes of file data; on a short path the receive buffer has
    // a fixed size, on a longer one the window follows the link. WindowOnEveryPath: the
    // window follows the link on a short path too (tests check the sizing over loopback).
    // System: the system sizes them alone, as the program used to (the benchmarks compare).
    enum class Queues { Short, WindowOnEveryPath, System };
    // Window thread, before Begin.
    void SetQueues(Queues how) { queues = how; }
    // Window thread, before Begin: how long the peer may send nothing before the link is taken
    // as gone. A peer sends a keep-alive every 20 seconds, idle or not.
    void SetSilenceLimit(std::chrono::milliseconds limit) { silenceLimit = limit; }
    // Window thread, once: readies the private link and sends its hello. `capabilities`, when
    // not zero, are announced first thing on the link: at once on a plain link, as the first
    // record once a private link stands.
    void Begin(secure::Role role, const WString& passphrase, std::uint32_t capabilities = 0,
               std::uint8_t handshakeFlags = secure::OwnHandshakeFlags());
    // Window thread, once, after Begin: reading and the timers start on the I/O thread.
    void Start(std::chrono::milliseconds keepAliveInterval,
               std::chrono::milliseconds handshakeTimeout);

    // Any thread.
    PrivateLink& Privacy() { return privateLink; }
    // Others may write: the private link (if any) stands, and the announcement is out, so
    // that it is the first thing the peer reads.
    bool ReadyToSend() const { return privateLink.ReadyToSend() && announced.load(); }
    // What both sides announced (zero until the peer's announcement has come).
    std::uint32_t SharedCapabilities() const { return ownCapabilities & peerCapabilities.load(); }
    // I/O thread: an announcement of the peer. Only the link's first one counts: features
    // decided on it (a folder on its way) must not change under a running transfer. Returns
    // 1 for the first, 2 for the second, and 3 for every one after.
    int SetPeerCapabilities(std::uint32_t bits) {
        if (announcementsSeen < 3) ++announcementsSeen;
        if (announcementsSeen > 1) return announcementsSeen;
        peerCapabilities = bits;
        peerAnnounced = true;
        return 1;
    }
    // Any thread: whether the peer's announcement has come (a copy of this program sends it
    // first thing; an original peer never does), and how long ago the link began (the
    // connection stood, so a server's wait for its peer does not count).
    bool PeerAnnounced() const { return peerAnnounced.load(); }
    std::chrono::steady_clock::duration Age() const {
        return std::chrono::steady_clock::now() - begun;
    }
    // Any thread. Ends reading and any write under way; the I/O thread then ends the link.
    void Shutdown();

    // I/O thread: sends one frame without waiting on the socket.
    WriteResult Send(const std::vector<boost::asio::const_buffer>& parts);
    // True the first time only: the user hears of a broken record once per link.
    bool FirstRecordFailure();
    // After a failed read: a sealed stream ended without the peer's final record (while this
    // side had not sent its own), so the link was cut rather than closed by the peer.
    bool WasCut() const;

    // Any other thread (the pump): these parts go out as one frame behind the queued ones;
    // blocks until the socket has taken them. Nothing goes out after a last write on a
    // private link.
    WriteResult Write(const std::vector<boost::asio::const_buffer>& parts, Last last = Last::No);
    // The pump: waits until the frames queued so far have gone out.
    WriteResult WriteQueued();

private:
    // Bytes waiting for the socket. `borrowed` is what goes out: a waiting writer's buffers, or
    // a view of the link's own bytes in `owned`.
    struct Outgoing {
        std::vector<std::uint8_t> owned;
        std::vector<boost::asio::const_buffer> borrowed;
        std::size_t total = 0;
        std::size_t sent = 0;
        std::uint64_t ticket = 0;
    };
    // The frame being read: its header came, its payload is being gathered.
    struct Incoming {
        FrameHeader header;
        std::array<std::uint8_t, FrameHeader::kBytes> raw;
        FramePlan plan;
        std::uint32_t left = 0;  // payload bytes still to come
        bool first = true;       // no piece of it handed on yet
        std::vector<std::uint8_t> gathered;
    };
    // What one step of the reading came to.
    enum class Step { Handled, Begun, NeedBytes, Stop };

    void OnStart(std::chrono::milliseconds handshakeTimeout);
    void ReadFrames();
    // The next frame's header: the handshake's, refused, or the owner's to plan.
    Step TakeHeader();
    // As much of the incoming frame's payload as the stream holds; Handled once it is whole.
    Step TakePayload(Incoming& frame);
    void ContinueReading();
    void OnRead(const boost::system::error_code& error, std::size_t got);
    // Now and then, from the reads: the advertised window follows the link.
    void SizeReceiveWindow();
    bool OnHandshakeFrame(const std::uint8_t* frame);
    void OnHandshakeTimer(const boost::system::error_code& error);
    void ArmKeepAlive();
    void OnKeepAliveTimer(const boost::system::error_code& error);
    void ArmSilenceTimer();
    void OnSilenceTimer(const boost::system::error_code& error);
    void Fail(PeerLinkOwner::Failure failure);
    // The end of reading: the timers stop, the last frames go out as far as the socket takes
    // them within a short grace, waiting writers fail and the socket closes.
    void Finish();

    enum class Wire { Plain, Sealed, Refused };

    // With the lock held: how these bytes go out; on a private link `out` receives the records
    // that carry them.
    Wire Seal(const std::vector<boost::asio::const_buffer>& parts,
              std::vector<std::uint8_t>& scratch, std::vector<std::uint8_t>& out, std::size_t& used,
              secure::RecordWriter::End end = secure::RecordWriter::End::No);
    // With the lock held: the bytes join the queue; returns their ticket.
    std::uint64_t EnqueueLocked(Outgoing outgoing);
    // Any thread but the I/O thread, with the lock held: the I/O thread writes the queue soon.
    void WakeWriterLocked();
    void OnWake();
    // I/O thread, with the lock held: writes the queue as far as the socket takes it now,
    // waits for room asynchronously when it is full; false once writing has failed. Lets the
    // lock go for a moment to wake the writers whose bytes went.
    bool WriteQueueLocked(std::unique_lock<std::mutex>& guard);
    void OnWritable(const boost::system::error_code& error);
    // With the lock held: nothing more goes out; the waiting writers return Failed.
    void FailQueueLocked();
    // With the lock held: waits until the frame with this ticket has gone out, or cannot.
    WriteResult AwaitTicket(std::unique_lock<std::mutex>& guard, std::uint64_t ticket);

    boost::asio::io_context& io;
    PeerLinkOwner& owner;
    const ThreadCheck& ioThread;

    // Begin sets it up on the window thread before any other thread can reach it; from
    // Start on, only the I/O thread operates on it.
    boost::asio::ip::tcp::socket socket;
    PrivateLink privateLink;
    std::uint32_t ownCapabilities = 0;  // fixed in Begin
    Queues queues = Queues::Short;      // fixed in Begin
    bool receiveBufferFixed = false;    // set in Begin
    std::atomic<std::uint32_t> peerCapabilities{0};
    std::atomic<bool> peerAnnounced{false};
    int announcementsSeen = 0;  // I/O thread only
    // Set in Begin, before the link is handed to any other thread.
    std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now();
    std::atomic<bool> announced{true};

    // I/O thread only.
    ReceiveStream stream;
    boost::asio::steady_timer keepAliveTimer;
    boost::asio::steady_timer handshakeTimer;
    std::chrono::milliseconds keepAliveInterval{0};
    std::chrono::milliseconds silenceLimit{60000};  // fixed in Begin
    boost::asio::steady_timer silenceTimer;
    // When the peer's last bytes came; the silence timer ends the link past the limit.
    std::chrono::steady_clock::time_point lastHeard;
    // The frame being read, while `midFrame`; kept between frames, so a frame costs no set-up.
    Incoming incoming;
    bool midFrame = false;
    bool recordFailureReported = false;
    bool ended = false;
    ReceiveWindowSizer windowSizer;
    std::uint64_t bytesAtLook = 0;
    std::chrono::steady_clock::time_point lastLook = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastClamp;
    std::vector<std::uint8_t> sendScratch;

    // One writer of the pump's kind at a time: its records stay in `writerSealed` until the
    // socket has taken them, and the writer waits for that.
    std::mutex writerTurn;
    std::vector<std::uint8_t> writerScratch;  // with writerTurn
    std::vector<std::uint8_t> writerSealed;   // with writerTurn

    // Guards the queue and what the threads tell each other about it. The I/O thread holds
    // it across its non-blocking writes, so that a writer that gives up (on a shutdown) can
    // drop the queue at any time; it is never held across a wait on the socket. Sealing
    // happens under it as well, so records join the queue in the order they were sealed.
    std::mutex lock;
    std::deque<Outgoing> queued;
    std::uint64_t lastTicket = 0;  // given to the newest queued bytes
    std::uint64_t doneTicket = 0;  // the socket has taken everything up to this one
    bool writeFailed = false;      // for good: nothing more goes out
    bool closing = false;          // the link is ending: nothing new joins the queue
    bool shutDown = false;
    bool wakePosted = false;
    bool writableAwaited = false;  // the I/O thread waits for room in the socket
    std::intptr_t handle = -1;     // the socket's, for Shutdown; -1 once closed
    std::condition_variable taken;
};

}  // namespace mirka
