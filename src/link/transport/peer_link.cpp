#include "link/transport/peer_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include <boost/asio/post.hpp>

#include "link/wire/delivery_frames.h"
#include "toolkit/platform.h"

namespace mirka {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {
// Frames handled in one go before the I/O thread lets its timers run.
constexpr int kFramesPerTurn = 64;
// Unsent bytes the system keeps in the send queue: a frame written after file data waits
// behind little of it (the data in flight is not limited by it).
constexpr int kUnsentBytes = 128 * 1024;
// How long the end of a link goes on writing its queue (a write under way, then the link's
// last frames behind it) before it cuts it off.
constexpr std::chrono::milliseconds kLastWriteGrace{200};
// The smallest piece of a data frame handed on, unless it is the frame's last.
constexpr std::size_t kSmallestPiece = 64 * 1024;
// The stream holds that much at once on a private link too, where records open only into
// room for a whole one.
static_assert(kSmallestPiece + secure::kMaxRecordPlainBytes <= ReceiveStream::kCapacity);
}  // namespace

PeerLink::PeerLink(asio::io_context& io, PeerLinkOwner& owner, const ThreadCheck& ioThread)
    : io(io),
      owner(owner),
      ioThread(ioThread),
      socket(io),
      keepAliveTimer(io),
      handshakeTimer(io),
      silenceTimer(io) {}

void PeerLink::Begin(secure::Role role, const WString& passphrase, std::uint32_t capabilities,
                     std::uint8_t handshakeFlags) {
    begun = std::chrono::steady_clock::now();
    // After a failed accept there is no peer: the first read closes the link.
    if (!socket.is_open()) {
        privateLink.BeginWithoutPeer();
        return;
    }
    ownCapabilities = capabilities;
    // The socket is set up here on the window thread: no other thread has the link yet, and
    // Start hands the socket to the I/O thread. Its own reads and writes never wait inside
    // the system; where they must wait, it is for readiness, on the I/O thread's terms.
    boost::system::error_code error;
    socket.non_blocking(true, error);
    if (queues != Queues::System) {
        LimitUnsentBytes(socket.native_handle(), kUnsentBytes);
        // Every write is whole frames, so nothing is gained by holding a small one back until
        // the last segment is acknowledged: an answer (an accept, a receipt, a chat line) goes
        // at once. The bytes on the wire stay the same; only how they are cut into segments
        // changes.
        socket.set_option(asio::ip::tcp::no_delay(true), error);
        // A write to a peer that vanished fails after the silence limit too, not after the
        // system's own retries (about a quarter of an hour).
        LimitUnacknowledgedTime(socket.native_handle(), silenceLimit);
        // A path this short gets a receive buffer of fixed size. The system's own tuning
        // grows the buffer to megabytes whenever this side reads slower than the peer sends
        // (a slow disk, say), and a chat line waits behind all of it; the window clamp does
        // not help there, as it bounds the bytes in flight, not the bytes waiting to be read.
        // A fixed size ends the system's tuning for good, so a longer path keeps it.
        if (queues == Queues::Short &&
            ReceiveWindowSizer::IsLocalPath(PathRoundTripMicros(socket.native_handle()))) {
            socket.set_option(
                asio::socket_base::receive_buffer_size(ReceiveWindowSizer::kLocalBufferBytes),
                error);
            receiveBufferFixed = !error;
        }
    }
    auto hello = privateLink.Begin(role, passphrase, handshakeFlags);
    Outgoing first;
    if (!hello) {
        // The original wire, with the announcement first when there is one.
        if (capabilities != 0) {
            auto frame = EncodeCapabilities(capabilities);
            first.owned.assign(frame.begin(), frame.end());
        }
    } else {
        // The hello goes first, alone; then the peer's first frame decides. The announcement
        // waits for the first record.
        announced = capabilities == 0;
        first.owned.assign(hello->begin(), hello->end());
    }
    std::unique_lock<std::mutex> guard(lock);
    handle = socket.native_handle();
    // It goes out once the I/O thread starts, ahead of anything else.
    if (!first.owned.empty()) EnqueueLocked(std::move(first));
}

void PeerLink::Start(std::chrono::milliseconds interval,
                     std::chrono::milliseconds handshakeTimeout) {
    keepAliveInterval = interval;
    asio::post(io,
               [self = shared_from_this(), handshakeTimeout] { self->OnStart(handshakeTimeout); });
}

void PeerLink::OnStart(std::chrono::milliseconds handshakeTimeout) {
    ioThread.Assert();
    {
        std::unique_lock<std::mutex> guard(lock);
        WriteQueueLocked(guard);
    }
    ArmKeepAlive();
    lastHeard = std::chrono::steady_clock::now();
    ArmSilenceTimer();
    if (privateLink.Asked()) {
        handshakeTimer.expires_after(handshakeTimeout);
        handshakeTimer.async_wait([self = shared_from_this()](const boost::system::error_code& e) {
            self->OnHandshakeTimer(e);
        });
    }
    ContinueReading();
}

void PeerLink::Shutdown() {
    {
        // A system call on the descriptor, not an operation on the socket object, so it is
        // safe beside the I/O thread's; under the lock because Finish clears `handle` before
        // it closes the socket, so the number is never one that the system reused meanwhile.
        // It wakes a read the I/O thread waits in, and fails its writes.
        std::unique_lock<std::mutex> guard(lock);
        shutDown = true;
        ShutdownSocketHandle(handle);
    }
    // A writer waiting for the socket gives up now: the I/O thread may be busy elsewhere, or
    // stopped for good.
    taken.notify_all();
}

void PeerLink::ContinueReading() {
    try {
        ReadFrames();
    } catch (const std::exception&) {
        Fail(PeerLinkOwner::Failure::HandlerFailed);
    }
}

// The gate. This loop is the only place where a frame read from the peer reaches the owner's
// handlers, and it asks the private link for every one: a link begun without a passphrase
// passes frames on (a peer's hello goes to the handshake, to be answered); with a passphrase
// every frame belongs to the handshake until it is decided, and only a sealed link passes
// frames, which then come from records that passed their check. Any other end of the
// handshake refuses the frame and ends the link here, so nothing read after it is handled.
void PeerLink::ReadFrames() {
    ioThread.Assert();
    for (int handled = 0; handled < kFramesPerTurn;) {
        switch (midFrame ? TakePayload(incoming) : TakeHeader()) {
            case Step::Handled:
                midFrame = false;
                ++handled;
                continue;
            case Step::Begun:
                continue;
            case Step::Stop:
                return Finish();
            case Step::NeedBytes:
                break;
        }
        // More bytes are needed: first those the records already here give, then the
        // socket's. The read only asks; the timers and the writes go on while it waits.
        std::size_t had = stream.Available();
        if (!stream.OpenRecords()) return Fail(PeerLinkOwner::Failure::RecordFailed);
        if (stream.Available() > had) continue;
        std::size_t room = 0;
        std::uint8_t* space = stream.PrepareFill(room);
        socket.async_read_some(
            asio::buffer(space, room),
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t got) {
                self->OnRead(error, got);
            });
        return;
    }
    asio::post(io, [self = shared_from_this()] { self->ContinueReading(); });
}

PeerLink::Step PeerLink::TakeHeader() {
    if (stream.Available() < FrameHeader::kBytes) return Step::NeedBytes;
    switch (privateLink.RouteOf(stream.Data())) {
        case PrivateLink::Route::Refuse:
            return Step::Stop;
        case PrivateLink::Route::Handshake: {
            std::array<std::uint8_t, FrameHeader::kBytes> frame;
            std::memcpy(frame.data(), stream.Data(), frame.size());
            stream.Consume(frame.size());
            return OnHandshakeFrame(frame.data()) ? Step::Handled : Step::Stop;
        }
        case PrivateLink::Route::Owner:
            break;
    }
    Incoming& frame = incoming;
    midFrame = true;
    frame.first = true;
    // A chat line's megabyte is not kept for the frames after it.
    if (frame.gathered.capacity() > kSmallestPiece) frame.gathered = {};
    frame.gathered.clear();
    std::memcpy(frame.raw.data(), stream.Data(), frame.raw.size());
    stream.Consume(FrameHeader::kBytes);
    frame.header = FrameHeader::Decode(frame.raw.data());
    frame.plan = owner.PlanOf(*this, frame.header);
    frame.left = frame.plan.bytes;
    // Whatever a plan says, no frame is gathered past the bound.
    if (frame.plan.kind == FramePlan::Kind::Whole && frame.left > FramePlan::kMostWholeBytes)
        return Step::Stop;
    return Step::Begun;
}

PeerLink::Step PeerLink::TakePayload(Incoming& frame) {
    std::size_t take = std::min<std::size_t>(frame.left, stream.Available());
    switch (frame.plan.kind) {
        case FramePlan::Kind::Whole: {
            if (frame.gathered.empty() && take == frame.left) {
                // All of it in the buffer already (the usual case): handed on from there.
                FramePayload payload(stream.Data(), take);
                bool goOn = owner.OnFrame(*this, frame.header, frame.raw.data(), payload);
                stream.Consume(take);
                return goOn ? Step::Handled : Step::Stop;
            }
            // Bounded by the plan (a chat line's megabyte at most): gathered in memory.
            frame.gathered.reserve(frame.plan.bytes);
            frame.gathered.insert(frame.gathered.end(), stream.Data(), stream.Data() + take);
            stream.Consume(take);
            frame.left -= static_cast<std::uint32_t>(take);
            if (frame.left > 0) return Step::NeedBytes;
            FramePayload payload(frame.gathered.data(), frame.gathered.size());
            return owner.OnFrame(*this, frame.header, frame.raw.data(), payload) ? Step::Handled
                                                                                 : Step::Stop;
        }
        case FramePlan::Kind::Skip: {
            stream.Consume(take);
            frame.left -= static_cast<std::uint32_t>(take);
            if (frame.left > 0) return Step::NeedBytes;
            FramePayload none;
            return owner.OnFrame(*this, frame.header, frame.raw.data(), none) ? Step::Handled
                                                                              : Step::Stop;
        }
        case FramePlan::Kind::Pieces:
            break;
    }
    // A piece is a sizeable run of bytes unless it ends the frame: each costs the engine a
    // lock and a write of its own.
    if (take < std::min<std::size_t>(frame.left, kSmallestPiece)) return Step::NeedBytes;
    DataPiece piece{stream.Data(), take, frame.first, take == frame.left};
    frame.first = false;
    frame.left -= static_cast<std::uint32_t>(take);
    bool goOn = owner.OnFramePiece(*this, frame.header, piece);
    stream.Consume(take);
    if (!goOn) return Step::Stop;
    return piece.last ? Step::Handled : Step::Begun;
}

void PeerLink::OnRead(const boost::system::error_code& error, std::size_t got) {
    if (ended) return;
    // The system ends a socket whose bytes stayed unacknowledged past the limit this way.
    if (error == asio::error::timed_out) return Fail(PeerLinkOwner::Failure::Silent);
    if (error)
        return Fail(WasCut() ? PeerLinkOwner::Failure::Cut : PeerLinkOwner::Failure::ReadFailed);
    lastHeard = std::chrono::steady_clock::now();
    if (!stream.CommitFill(got)) return Fail(PeerLinkOwner::Failure::RecordFailed);
    SizeReceiveWindow();
    ContinueReading();
}

void PeerLink::SizeReceiveWindow() {
    if (queues == Queues::System || receiveBufferFixed) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastLook >= ReceiveWindowSizer::kLookInterval) {
        std::uint64_t received = stream.BytesFromSocket();
        // The path's smallest round trip, not the last one measured: a reader that falls
        // behind makes the data wait in this side's buffer, and a round trip that counted
        // that wait would widen the window, which lets more wait, which widens it again.
        windowSizer.Next(received - bytesAtLook,
                         std::chrono::duration_cast<std::chrono::microseconds>(now - lastLook),
                         PathRoundTripMicros(socket.native_handle()));
        bytesAtLook = received;
        lastLook = now;
    }
    if (windowSizer.Current() != 0 && now - lastClamp >= ReceiveWindowSizer::kRenewInterval) {
        ClampReceiveWindow(socket.native_handle(), windowSizer.Current());
        lastClamp = now;
    }
}

bool PeerLink::OnHandshakeFrame(const std::uint8_t* frame) {
    secure::HandshakeStep step = privateLink.OnPeerFrame(frame);
    if (step.reply) {
        Outgoing reply;
        reply.owned.assign(step.reply->begin(), step.reply->end());
        bool left = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            if (!closing) {
                EnqueueLocked(std::move(reply));
                WriteQueueLocked(guard);
                left = !queued.empty();
            }
        }
        if (left) owner.OnFramesQueued();
    }
    if (step.outcome == secure::Outcome::Established) {
        // The rest of the peer's bytes are records.
        stream.BeginRecords(privateLink.TakeReader());
        handshakeTimer.cancel();
        // The announcement is the first record; others may write after it.
        if (!announced) {
            auto frame = EncodeCapabilities(ownCapabilities);
            Send({asio::buffer(frame)});
            announced = true;
        }
    }
    bool goOn = owner.OnHandshakeStep(*this, step.outcome);
    // Any end but an established link ends the link, whatever the owner says.
    return goOn && (step.outcome == secure::Outcome::Pending ||
                    step.outcome == secure::Outcome::Established);
}

void PeerLink::OnHandshakeTimer(const boost::system::error_code& error) {
    if (error || ended || privateLink.Decided()) return;
    // An original peer sends nothing until its first keep-alive; a silent peer gets no
    // plain text either: the deadline ends the link here and now.
    owner.OnHandshakeStep(*this, privateLink.OnTimeout());
    Finish();
}

bool PeerLink::WasCut() const {
    ioThread.Assert();
    // A sealed stream that the peer did not end with its final record, while this side had
    // not ended its own either.
    return privateLink.Sealing() && !stream.Ended() && !privateLink.FinalSent();
}

void PeerLink::ArmKeepAlive() {
    keepAliveTimer.expires_after(keepAliveInterval);
    keepAliveTimer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        self->OnKeepAliveTimer(error);
    });
}

void PeerLink::OnKeepAliveTimer(const boost::system::error_code& error) {
    if (ended) return;
    if (owner.OnKeepAlive(*this, error)) ArmKeepAlive();
}

void PeerLink::ArmSilenceTimer() {
    silenceTimer.expires_at(lastHeard + silenceLimit);
    silenceTimer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        self->OnSilenceTimer(error);
    });
}

void PeerLink::OnSilenceTimer(const boost::system::error_code& error) {
    if (error || ended) return;
    // Bytes that came meanwhile moved the deadline on.
    if (std::chrono::steady_clock::now() - lastHeard < silenceLimit) return ArmSilenceTimer();
    // A read is waiting (for a header, or the rest of a frame stalled half-way): it ends
    // with the socket, and the link with it.
    Fail(PeerLinkOwner::Failure::Silent);
}

void PeerLink::Fail(PeerLinkOwner::Failure failure) {
    owner.OnLinkFailure(*this, failure);
    Finish();
}

void PeerLink::Finish() {
    if (ended) return;
    ended = true;
    keepAliveTimer.cancel();
    silenceTimer.cancel();
    handshakeTimer.cancel();
    {
        std::unique_lock<std::mutex> guard(lock);
        closing = true;
        // This link's last frames (an answer to the peer's hello, say) go out first, as far
        // as the socket takes them within the grace; a peer that reads no more does not hold
        // the link's end up for longer.
        auto deadline = std::chrono::steady_clock::now() + kLastWriteGrace;
        while (WriteQueueLocked(guard) && !queued.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            std::intptr_t native = handle;
            guard.unlock();
            WaitUntilWritable(native, left);
            guard.lock();
        }
        // A writer still waiting fails now, and no write ever reaches a descriptor number
        // that the system hands to another file or socket after the close.
        FailQueueLocked();
        ShutdownSocketHandle(handle);
        handle = -1;
        boost::system::error_code ignored;
        socket.close(ignored);
    }
    taken.notify_all();
    owner.OnLinkEnded(*this);
}

bool PeerLink::FirstRecordFailure() {
    ioThread.Assert();
    return !std::exchange(recordFailureReported, true);
}

PeerLink::WriteResult PeerLink::Send(const std::vector<asio::const_buffer>& parts) {
    ioThread.Assert();
    if (privateLink.UsesPassphrase() && !privateLink.Sealing()) return WriteResult::Refused;
    Outgoing frame;
    WriteResult result = WriteResult::Done;
    bool left = false;
    {
        std::unique_lock<std::mutex> guard(lock);
        if (closing || writeFailed) return WriteResult::Failed;
        std::size_t used = 0;
        Wire wire = Seal(parts, sendScratch, frame.owned, used);
        if (wire == Wire::Refused) return WriteResult::Refused;
        if (wire == Wire::Sealed) {
            frame.owned.resize(used);
        } else {
            frame.owned.resize(asio::buffer_size(parts));
            asio::buffer_copy(asio::buffer(frame.owned), parts);
        }
        EnqueueLocked(std::move(frame));
        if (!WriteQueueLocked(guard)) result = WriteResult::Failed;
        left = !queued.empty();
    }
    if (left) owner.OnFramesQueued();
    return result;
}

PeerLink::WriteResult PeerLink::Write(const std::vector<asio::const_buffer>& parts, Last last) {
    // The records are sealed here, on the writer's thread, rather than on the I/O thread:
    // sealing a batch takes about as long as writing it, and the I/O thread has the peer's
    // records to open. The queue's lock keeps the order of sealing that of the queue.
    std::lock_guard<std::mutex> turn(writerTurn);
    std::unique_lock<std::mutex> guard(lock);
    if (closing || writeFailed || shutDown) return WriteResult::Failed;
    std::size_t used = 0;
    Wire wire =
        Seal(parts, writerScratch, writerSealed, used,
             last == Last::Yes ? secure::RecordWriter::End::Final : secure::RecordWriter::End::No);
    if (wire == Wire::Refused) return WriteResult::Refused;
    Outgoing frame;
    if (wire == Wire::Sealed) {
        frame.borrowed.push_back(asio::buffer(writerSealed.data(), used));
    } else {
        // The caller's bytes themselves: it waits until the socket has taken them.
        frame.borrowed = parts;
    }
    std::uint64_t ticket = EnqueueLocked(std::move(frame));
    WakeWriterLocked();
    return AwaitTicket(guard, ticket);
}

PeerLink::WriteResult PeerLink::WriteQueued() {
    std::unique_lock<std::mutex> guard(lock);
    if (queued.empty()) return WriteResult::Done;
    return AwaitTicket(guard, lastTicket);
}

PeerLink::WriteResult PeerLink::AwaitTicket(std::unique_lock<std::mutex>& guard,
                                            std::uint64_t ticket) {
    taken.wait(guard, [&] { return doneTicket >= ticket || writeFailed || shutDown; });
    if (doneTicket >= ticket) return WriteResult::Done;
    // After a shutdown nothing more can go out; the queue goes now, so that no buffer of a
    // writer that returns stays in it. The I/O thread writes only under the lock, so it is not
    // writing from it at this moment.
    FailQueueLocked();
    return WriteResult::Failed;
}

std::uint64_t PeerLink::EnqueueLocked(Outgoing outgoing) {
    if (outgoing.borrowed.empty()) outgoing.borrowed.push_back(asio::buffer(outgoing.owned));
    outgoing.total = asio::buffer_size(outgoing.borrowed);
    outgoing.ticket = ++lastTicket;
    queued.push_back(std::move(outgoing));
    // A moved vector keeps its bytes where they were, so the view still points at them.
    return lastTicket;
}

void PeerLink::WakeWriterLocked() {
    // One wake covers every write queued until it runs; while the I/O thread waits for room
    // in the socket, that wait covers them.
    if (wakePosted || writableAwaited) return;
    wakePosted = true;
    asio::post(io, [self = shared_from_this()] { self->OnWake(); });
}

void PeerLink::OnWake() {
    ioThread.Assert();
    std::unique_lock<std::mutex> guard(lock);
    wakePosted = false;
    WriteQueueLocked(guard);
}

void PeerLink::OnWritable(const boost::system::error_code& error) {
    ioThread.Assert();
    std::unique_lock<std::mutex> guard(lock);
    writableAwaited = false;
    if (error == asio::error::operation_aborted || handle < 0) return;
    WriteQueueLocked(guard);
}

bool PeerLink::WriteQueueLocked(std::unique_lock<std::mutex>& guard) {
    ioThread.Assert();
    bool wroteAny = false;
    while (!writeFailed && !queued.empty()) {
        Outgoing& front = queued.front();
        // Only what the socket takes now: this thread must not wait on the peer.
        boost::system::error_code error;
        std::size_t written = 0;
        if (shutDown) {
            error = asio::error::shut_down;
        } else {
            // What is left of the frame; one that has more parts goes out over more calls.
            std::array<asio::const_buffer, 4> rest{};
            std::size_t count = 0;
            std::size_t skip = front.sent;
            for (const auto& part : front.borrowed) {
                if (skip >= part.size()) {
                    skip -= part.size();
                    continue;
                }
                if (count == rest.size()) break;
                rest[count++] = part + skip;
                skip = 0;
            }
            written = socket.write_some(rest, error);
            // Took less than it was given: it is full, and asking again now would only be
            // told so.
            if (!error && written < asio::buffer_size(rest)) error = asio::error::would_block;
        }
        front.sent += written;
        if (error == asio::error::would_block) {
            if (!writableAwaited) {
                writableAwaited = true;
                socket.async_wait(tcp::socket::wait_write,
                                  [self = shared_from_this()](const boost::system::error_code& e) {
                                      self->OnWritable(e);
                                  });
            }
            break;
        }
        if (error) {
            FailQueueLocked();
            break;
        }
        if (front.sent == front.total) {
            doneTicket = front.ticket;
            queued.pop_front();
            wroteAny = true;
        }
    }
    if (wroteAny) {
        // Woken with the lock free, a writer does not wait for it right after.
        guard.unlock();
        taken.notify_all();
        guard.lock();
    }
    return !writeFailed;
}

void PeerLink::FailQueueLocked() {
    writeFailed = true;
    queued.clear();
    taken.notify_all();
}

PeerLink::Wire PeerLink::Seal(const std::vector<asio::const_buffer>& parts,
                              std::vector<std::uint8_t>& scratch, std::vector<std::uint8_t>& out,
                              std::size_t& used, secure::RecordWriter::End end) {
    if (!privateLink.UsesPassphrase()) return Wire::Plain;
    // Nothing goes out in plain text, nor before the handshake has ended well, nor after this
    // side's final record.
    if (!privateLink.Sealing() || privateLink.FinalSent()) return Wire::Refused;
    if (parts.size() == 1) {
        privateLink.Seal({static_cast<const std::uint8_t*>(parts[0].data()), parts[0].size()}, out,
                         used, end);
    } else {
        scratch.resize(asio::buffer_size(parts));
        asio::buffer_copy(asio::buffer(scratch), parts);
        privateLink.Seal(scratch, out, used, end);
    }
    return Wire::Sealed;
}

}  // namespace mirka
