#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "link/frame.h"
#include "link/private_link.h"
#include "link/receive_stream.h"
#include "link/receive_window.h"
#include "link/thread_check.h"

namespace mirka {

class PeerLink;

// What a link tells the manager that made it. I/O thread; each call names its link, which
// may be one that a newer link has replaced.
class PeerLinkOwner {
public:
    // Cut: a sealed link's stream ended without the peer's final record.
    enum class Failure { ReadFailed, Cut, RecordFailed, HandlerFailed };

    // A frame header was read (its payload not yet); `raw` is its 48 bytes, valid during the
    // call until a payload is read. False stops the reading.
    virtual bool OnFrame(PeerLink& link, const FrameHeader& header, const std::uint8_t* raw) = 0;
    // The handshake moved on (or its deadline passed); false stops the reading.
    virtual bool OnHandshakeStep(PeerLink& link, secure::Outcome outcome) = 0;
    // The keep-alive interval passed (or the timer failed); false ends the keep-alive chain.
    virtual bool OnKeepAlive(PeerLink& link, const boost::system::error_code& error) = 0;
    // The link cannot go on; it ends right after.
    virtual void OnLinkFailure(PeerLink& link, Failure failure) = 0;
    // The link's reading is over and its socket closed.
    virtual void OnLinkEnded(PeerLink& link) = 0;
    // Any writer thread: frames wait in the link's queue for the pump.
    virtual void OnFramesQueued() = 0;

protected:
    ~PeerLinkOwner() = default;
};

// One TCP link to the peer: its socket, receive stream, keep-alive and handshake timers,
// private-link state and write path. Made by std::make_shared; its asynchronous handlers
// hold it, so it lives until the last of them has run, and a reconnect makes a new one.
//
// Writes: whole frames, never interleaved, one writer's turn at a time. The I/O thread never
// waits on the socket: its frames go out at once when the socket takes them and nobody else is
// writing, else they wait in a queue that the next writer (the pump) empties first.
class PeerLink : public std::enable_shared_from_this<PeerLink> {
public:
    enum class WriteResult { Done, Refused, Failed };
    // Whether a write is this side's last: on a private link it goes in the final record.
    enum class Last { No, Yes };

    PeerLink(boost::asio::io_context& io, PeerLinkOwner& owner, const ThreadCheck& ioThread);
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // Window thread, before Begin: the socket to accept or connect on.
    boost::asio::ip::tcp::socket& Socket() { return socket; }
    // Window thread, before Begin: whether the link keeps the queues on both ends short (the
    // default), so that a chat line never waits behind megabytes of file data. Off, the
    // system sizes them alone, as the program used to; the benchmarks compare the two.
    void SetShortQueues(bool on) { shortQueues = on; }
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
    // I/O thread: the peer's announcement.
    void SetPeerCapabilities(std::uint32_t bits) {
        peerCapabilities = bits;
        peerAnnounced = true;
    }
    // Any thread: whether the peer's announcement has come (a copy of this program sends it
    // first thing; an original peer never does), and how long ago the link began.
    bool PeerAnnounced() const { return peerAnnounced.load(); }
    std::chrono::steady_clock::duration Age() const {
        return std::chrono::steady_clock::now() - begun;
    }
    // Ends reading and any write under way; the I/O thread then ends the link.
    void Shutdown();

    // I/O thread, while handling a frame of this link.
    ReceiveStream& Stream();
    // Blocking read of exactly n payload bytes.
    bool ReadPayload(void* destination, std::size_t n);
    // Sends one frame without waiting on the socket.
    WriteResult Send(const std::vector<boost::asio::const_buffer>& parts);
    // True the first time only: the user hears of a broken record once per link.
    bool FirstRecordFailure();
    // After a failed read: a sealed stream ended without the peer's final record (while this
    // side had not sent its own), so the link was cut rather than closed by the peer.
    bool WasCut() const;

    // Any other thread (the pump, the window thread): writes the queued frames, then these
    // parts as one frame; blocks until the socket has taken them. Nothing goes out after a
    // last write on a private link.
    WriteResult Write(const std::vector<boost::asio::const_buffer>& parts, Last last = Last::No);
    // The pump: writes the queued frames.
    WriteResult WriteQueued();

private:
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        bool wireReady = false;  // a handshake frame, or sealed already
    };

    void OnStart(std::chrono::milliseconds handshakeTimeout);
    void ReadFrames();
    void ContinueReading();
    void OnRead(const boost::system::error_code& error, std::size_t got);
    // Now and then, from the reads: the advertised window follows the link.
    void SizeReceiveWindow();
    bool OnHandshakeFrame(const std::uint8_t* frame);
    void OnHandshakeTimer(const boost::system::error_code& error);
    void ArmKeepAlive();
    void OnKeepAliveTimer(const boost::system::error_code& error);
    void Fail(PeerLinkOwner::Failure failure);
    // The end of reading: the timers stop, the last frames go out as far as they can, and
    // the socket closes once no write is under way.
    void Finish();

    enum class Wire { Plain, Sealed, Refused };

    // One writer's turn on the socket; `patience` is how long to wait for it (none: as long
    // as it takes, zero: only if free now).
    class WriteTurn {
    public:
        explicit WriteTurn(PeerLink& link,
                           std::optional<std::chrono::milliseconds> patience = std::nullopt);
        ~WriteTurn();
        WriteTurn(const WriteTurn&) = delete;
        WriteTurn& operator=(const WriteTurn&) = delete;
        explicit operator bool() const { return held; }

    private:
        PeerLink& link;
        bool held = false;
    };

    // Writes the queued frames if no other writer has the socket, without waiting on it;
    // tells the owner when frames are left for the pump.
    WriteResult WriteQueuedNow();
    // During a write turn. Takes the queued frames in order; with `wait` false only what the
    // socket takes now, the rest staying first in the queue.
    WriteResult WriteQueuedInTurn(bool wait);
    // During a write turn: how these bytes go out; on a private link `sealed` holds the records
    // that carry them.
    Wire Seal(const std::vector<boost::asio::const_buffer>& parts, bool wireReady,
              boost::asio::const_buffer& sealed,
              secure::RecordWriter::End end = secure::RecordWriter::End::No);
    void Enqueue(Outgoing outgoing, bool first);
    bool HasQueued();

    boost::asio::io_context& io;
    PeerLinkOwner& owner;
    const ThreadCheck& ioThread;

    boost::asio::ip::tcp::socket socket;
    PrivateLink privateLink;
    std::uint32_t ownCapabilities = 0;  // fixed in Begin
    bool shortQueues = true;            // fixed in Begin
    std::atomic<std::uint32_t> peerCapabilities{0};
    std::atomic<bool> peerAnnounced{false};
    const std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now();
    std::atomic<bool> announced{true};

    // I/O thread only.
    ReceiveStream stream;
    boost::asio::steady_timer keepAliveTimer;
    boost::asio::steady_timer handshakeTimer;
    std::chrono::milliseconds keepAliveInterval{0};
    bool recordFailureReported = false;
    bool ended = false;
    ReceiveWindowSizer windowSizer;
    std::uint64_t bytesAtLook = 0;
    std::chrono::steady_clock::time_point lastLook = std::chrono::steady_clock::now();

    // Guards the queue, the write turn and the socket's shutdown against its close; never
    // held across a wait on the socket.
    std::mutex lock;
    std::deque<Outgoing> queued;
    bool writing = false;  // a writer has the turn; the close takes it too
    std::condition_variable turnFree;
    std::vector<std::uint8_t> sealScratch;  // during a write turn
    std::vector<std::uint8_t> sealedBytes;  // during a write turn
};

}  // namespace mirka
