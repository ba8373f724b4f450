#include "link/peer_link.h"

#include <array>
#include <cstring>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "link/delivery_frames.h"
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
// How long the end of a link waits for a write under way before it cuts it off, so that the
// link's last frames still go out behind it.
constexpr std::chrono::milliseconds kLastWriteGrace{200};
}  // namespace

PeerLink::PeerLink(asio::io_context& io, PeerLinkOwner& owner, const ThreadCheck& ioThread)
    : io(io),
      owner(owner),
      ioThread(ioThread),
      socket(io),
      keepAliveTimer(io),
      handshakeTimer(io) {}

void PeerLink::Begin(secure::Role role, const WString& passphrase, std::uint32_t capabilities,
                     std::uint8_t handshakeFlags) {
    // After a failed accept there is no peer: the first read closes the link.
    if (!socket.is_open()) {
        privateLink.BeginWithoutPeer();
        return;
    }
    ownCapabilities = capabilities;
    // Set once here, so the first asynchronous read does not change the socket's mode while
    // another thread writes.
    boost::system::error_code error;
    socket.native_non_blocking(true, error);
    if (shortQueues) {
        LimitUnsentBytes(socket.native_handle(), kUnsentBytes);
        // Every write is whole frames, so nothing is gained by holding a small one back until
        // the last segment is acknowledged: an answer (an accept, a receipt, a chat line) goes
        // at once. The bytes on the wire stay the same; only how they are cut into segments
        // changes.
        socket.set_option(asio::ip::tcp::no_delay(true), error);
    }
    auto hello = privateLink.Begin(role, passphrase, handshakeFlags);
    WriteTurn turn(*this);
    if (!hello) {
        // The original wire, with the announcement first when there is one.
        if (capabilities != 0)
            asio::write(socket, asio::buffer(EncodeCapabilities(capabilities)), error);
        return;
    }
    // The hello goes first, alone; then the peer's first frame decides. The announcement
    // waits for the first record.
    announced = capabilities == 0;
    asio::write(socket, asio::buffer(*hello), error);
}

void PeerLink::Start(std::chrono::milliseconds interval,
                     std::chrono::milliseconds handshakeTimeout) {
    keepAliveInterval = interval;
    asio::post(io,
               [self = shared_from_this(), handshakeTimeout] { self->OnStart(handshakeTimeout); });
}

void PeerLink::OnStart(std::chrono::milliseconds handshakeTimeout) {
    ioThread.Assert();
    ArmKeepAlive();
    if (privateLink.Asked()) {
        handshakeTimer.expires_after(handshakeTimeout);
        handshakeTimer.async_wait([self = shared_from_this()](const boost::system::error_code& e) {
            self->OnHandshakeTimer(e);
        });
    }
    ContinueReading();
}

void PeerLink::Shutdown() {
    std::lock_guard<std::mutex> guard(lock);
    if (socket.is_open()) ShutdownSocketHandle(socket.native_handle());
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
    for (int handled = 0; handled < kFramesPerTurn; ++handled) {
        if (stream.Available() < FrameHeader::kBytes && !stream.OpenRecords())
            return Fail(PeerLinkOwner::Failure::RecordFailed);
        if (stream.Available() < FrameHeader::kBytes) {
            std::size_t room = 0;
            std::uint8_t* space = stream.PrepareFill(room);
            socket.async_read_some(
                asio::buffer(space, room),
                [self = shared_from_this()](const boost::system::error_code& error,
                                            std::size_t got) { self->OnRead(error, got); });
            return;
        }
        switch (privateLink.RouteOf(stream.Data())) {
            case PrivateLink::Route::Refuse:
                return Finish();
            case PrivateLink::Route::Handshake: {
                std::array<std::uint8_t, FrameHeader::kBytes> frame;
                std::memcpy(frame.data(), stream.Data(), frame.size());
                stream.Consume(frame.size());
                if (!OnHandshakeFrame(frame.data())) return Finish();
                break;
            }
            case PrivateLink::Route::Owner: {
                const std::uint8_t* raw = stream.Data();
                FrameHeader header = FrameHeader::Decode(raw);
                stream.Consume(FrameHeader::kBytes);  // the bytes stay until the next read
                if (!owner.OnFrame(*this, header, raw)) return Finish();
                break;
            }
        }
    }
    asio::post(io, [self = shared_from_this()] { self->ContinueReading(); });
}

void PeerLink::OnRead(const boost::system::error_code& error, std::size_t got) {
    if (error)
        return Fail(WasCut() ? PeerLinkOwner::Failure::Cut : PeerLinkOwner::Failure::ReadFailed);
    if (!stream.CommitFill(got)) return Fail(PeerLinkOwner::Failure::RecordFailed);
    SizeReceiveWindow();
    ContinueReading();
}

void PeerLink::SizeReceiveWindow() {
    if (!shortQueues) return;
    auto now = std::chrono::steady_clock::now();
    auto elapsed = now - lastLook;
    if (elapsed < ReceiveWindowSizer::kLookInterval) return;
    std::uint64_t received = stream.BytesFromSocket();
    auto window = windowSizer.Next(received - bytesAtLook,
                                   std::chrono::duration_cast<std::chrono::microseconds>(elapsed),
                                   ReceiveRoundTripMicros(socket.native_handle()));
    if (window) ClampReceiveWindow(socket.native_handle(), *window);
    bytesAtLook = received;
    lastLook = now;
}

bool PeerLink::OnHandshakeFrame(const std::uint8_t* frame) {
    secure::HandshakeStep step = privateLink.OnPeerFrame(frame);
    if (step.reply) {
        Enqueue({std::vector<std::uint8_t>(step.reply->begin(), step.reply->end()), true}, false);
        WriteQueuedNow();
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

void PeerLink::Fail(PeerLinkOwner::Failure failure) {
    owner.OnLinkFailure(*this, failure);
    Finish();
}

void PeerLink::Finish() {
    if (ended) return;
    ended = true;
    keepAliveTimer.cancel();
    handshakeTimer.cancel();
    {
        // This link's last frames (an answer to the peer's hello, say) go out first, as far
        // as the socket takes them now.
        WriteTurn turn(*this, kLastWriteGrace);
        if (turn) WriteQueuedInTurn(false);
    }
    // A write stuck on a peer that reads no more ends with the shutdown; the close waits for
    // it, so no write ever reaches a descriptor number that the system has meanwhile handed
    // to another file or socket.
    Shutdown();
    {
        WriteTurn turn(*this);
        std::lock_guard<std::mutex> guard(lock);
        boost::system::error_code ignored;
        socket.close(ignored);
    }
    owner.OnLinkEnded(*this);
}

ReceiveStream& PeerLink::Stream() {
    ioThread.Assert();
    return stream;
}

bool PeerLink::ReadPayload(void* destination, std::size_t n) {
    ioThread.Assert();
    boost::system::error_code error;
    return stream.ReadExact(socket, static_cast<std::uint8_t*>(destination), n, error);
}

bool PeerLink::FirstRecordFailure() {
    ioThread.Assert();
    return !std::exchange(recordFailureReported, true);
}

PeerLink::WriteResult PeerLink::Send(const std::vector<asio::const_buffer>& parts) {
    ioThread.Assert();
    if (privateLink.UsesPassphrase() && !privateLink.Sealing()) return WriteResult::Refused;
    Outgoing frame;
    frame.bytes.resize(asio::buffer_size(parts));
    asio::buffer_copy(asio::buffer(frame.bytes), parts);
    Enqueue(std::move(frame), false);
    return WriteQueuedNow();
}

PeerLink::WriteResult PeerLink::WriteQueuedNow() {
    WriteResult result = WriteResult::Done;
    {
        // Another writer has the socket: it, or the pump, takes the queue next.
        WriteTurn turn(*this, std::chrono::milliseconds(0));
        if (turn) result = WriteQueuedInTurn(false);
    }
    if (HasQueued()) owner.OnFramesQueued();
    return result;
}

PeerLink::WriteResult PeerLink::Write(const std::vector<asio::const_buffer>& parts, Last last) {
    WriteTurn turn(*this);
    if (WriteQueuedInTurn(true) == WriteResult::Failed) return WriteResult::Failed;
    asio::const_buffer sealed;
    Wire wire =
        Seal(parts, false, sealed,
             last == Last::Yes ? secure::RecordWriter::End::Final : secure::RecordWriter::End::No);
    if (wire == Wire::Refused) return WriteResult::Refused;
    boost::system::error_code error;
    if (wire == Wire::Sealed) {
        asio::write(socket, sealed, error);
    } else {
        asio::write(socket, parts, error);
    }
    return error ? WriteResult::Failed : WriteResult::Done;
}

PeerLink::WriteResult PeerLink::WriteQueued() {
    if (!HasQueued()) return WriteResult::Done;
    WriteTurn turn(*this);
    return WriteQueuedInTurn(true);
}

PeerLink::WriteResult PeerLink::WriteQueuedInTurn(bool wait) {
    for (;;) {
        Outgoing next;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (queued.empty()) return WriteResult::Done;
            next = std::move(queued.front());
            queued.pop_front();
        }
        asio::const_buffer wire = asio::buffer(next.bytes);
        asio::const_buffer sealed;
        Wire form = Seal({wire}, next.wireReady, sealed);
        if (form == Wire::Refused) continue;  // may not go out any more
        if (form == Wire::Sealed) wire = sealed;
        boost::system::error_code error;
        if (wait) {
            asio::write(socket, wire, error);
            if (error) return WriteResult::Failed;
            continue;
        }
        // Only what the socket takes now: this thread must not wait on the peer.
        socket.non_blocking(true, error);
        std::size_t written = error ? 0 : asio::write(socket, wire, error);
        // Back as Begin left it, so that no later read changes the mode while another
        // thread writes.
        boost::system::error_code ignored;
        socket.non_blocking(false, ignored);
        socket.native_non_blocking(true, ignored);
        if (error && error != asio::error::would_block) return WriteResult::Failed;
        if (written < wire.size()) {
            // The rest goes first with the next writer that may wait.
            const auto* rest = static_cast<const std::uint8_t*>(wire.data()) + written;
            Enqueue({std::vector<std::uint8_t>(rest, rest + (wire.size() - written)), true}, true);
            return WriteResult::Done;
        }
    }
}

PeerLink::Wire PeerLink::Seal(const std::vector<asio::const_buffer>& parts, bool wireReady,
                              asio::const_buffer& sealed, secure::RecordWriter::End end) {
    if (wireReady || !privateLink.UsesPassphrase()) return Wire::Plain;
    // Nothing goes out in plain text, nor before the handshake has ended well, nor after this
    // side's final record.
    if (!privateLink.Sealing() || privateLink.FinalSent()) return Wire::Refused;
    std::size_t used = 0;
    if (parts.size() == 1) {
        privateLink.Seal({static_cast<const std::uint8_t*>(parts[0].data()), parts[0].size()},
                         sealedBytes, used, end);
    } else {
        sealScratch.resize(asio::buffer_size(parts));
        asio::buffer_copy(asio::buffer(sealScratch), parts);
        privateLink.Seal(sealScratch, sealedBytes, used, end);
    }
    sealed = asio::buffer(sealedBytes.data(), used);
    return Wire::Sealed;
}

PeerLink::WriteTurn::WriteTurn(PeerLink& link, std::optional<std::chrono::milliseconds> patience)
    : link(link) {
    std::unique_lock<std::mutex> guard(link.lock);
    auto free = [&link] { return !link.writing; };
    if (patience) {
        held = link.turnFree.wait_for(guard, *patience, free);
    } else {
        link.turnFree.wait(guard, free);
        held = true;
    }
    if (held) link.writing = true;
}

PeerLink::WriteTurn::~WriteTurn() {
    if (!held) return;
    {
        std::lock_guard<std::mutex> guard(link.lock);
        link.writing = false;
    }
    link.turnFree.notify_all();
}

void PeerLink::Enqueue(Outgoing outgoing, bool first) {
    std::lock_guard<std::mutex> guard(lock);
    if (first) {
        queued.push_front(std::move(outgoing));
    } else {
        queued.push_back(std::move(outgoing));
    }
}

bool PeerLink::HasQueued() {
    std::lock_guard<std::mutex> guard(lock);
    return !queued.empty();
}

}  // namespace mirka
