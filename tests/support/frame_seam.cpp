#include "support/frame_seam.h"

#include <algorithm>
#include <array>
#include <thread>

#include "link/wire/delivery_frames.h"
#include "toolkit/file_system.h"

namespace mirka::test {

SeamSide::SeamSide(FramePair& pair)
    : pair(pair),
      transfers(*this, slot, values),
      chat(*this, slot, values),
      router(chat, transfers, slot) {
    testThread.Bind(std::this_thread::get_id());
    values.SetReceiveFolder(inbox.WithSeparator());
    slot = &window;
}

SeamSide::~SeamSide() {
    transfers.StopDigestWorker();
    slot = nullptr;
}

int SeamSide::Send(const std::filesystem::path& path) {
    int row = window.Transfers().AddTransferRow(FromFsPath(path));
    transfers.SendFile(FromFsPath(path), row);
    return row;
}

void SeamSide::Inject(const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard<std::mutex> guard(wireLock);
        wire.insert(wire.end(), bytes.begin(), bytes.end());
    }
    pair.Poke();
}

bool SeamSide::WriteParts(const std::vector<boost::asio::const_buffer>& parts) {
    return WriteToPeer(parts, PeerLink::Last::No);
}

bool SeamSide::WriteToPeer(const std::vector<boost::asio::const_buffer>& parts, PeerLink::Last) {
    if (socketGone) {
        // A write on a link that has ended fails, and the manager closes the link.
        closed = true;
        return false;
    }
    if (closed || peer->socketGone) return false;
    std::vector<std::uint8_t> unit;
    for (const auto& part : parts) {
        const auto* data = static_cast<const std::uint8_t*>(part.data());
        unit.insert(unit.end(), data, data + part.size());
    }
    {
        std::lock_guard<std::mutex> guard(peer->wireLock);
        peer->wire.insert(peer->wire.end(), unit.begin(), unit.end());
    }
    pair.Poke();
    return true;
}

void SeamSide::CloseLink() {
    closed = true;
    pair.Poke();
}

void SeamSide::PostCommand(PumpCommand command) {
    {
        std::lock_guard<std::mutex> guard(wireLock);
        commands.push_back(std::move(command));
    }
    pair.Poke();
}

void SeamSide::PostToIoThread(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> guard(wireLock);
        ioJobs.push_back(std::move(job));
    }
    pair.Poke();
}

void SeamSide::Wake() {
    pair.Poke();
}

int SeamSide::SetPeerCapabilities(std::uint32_t bits) {
    if (announcementsSeen < 3) ++announcementsSeen;
    if (announcementsSeen > 1) return announcementsSeen;
    peerCapabilities = bits;
    return 1;
}

bool SeamSide::RunIoJobs() {
    std::vector<std::function<void()>> taken;
    {
        std::lock_guard<std::mutex> guard(wireLock);
        taken.swap(ioJobs);
    }
    // A job for a link that has ended still runs: the engine finds its tables emptied.
    for (auto& job : taken) job();
    return !taken.empty();
}

bool SeamSide::RunCommands() {
    std::vector<PumpCommand> taken;
    {
        std::lock_guard<std::mutex> guard(wireLock);
        taken.swap(commands);
    }
    for (auto& command : taken) command();
    return !taken.empty();
}

bool SeamSide::DeliverFrames() {
    if (reading && closed) {
        // A closed link stops reading; what the peer sends is never read.
        reading = false;
        socketGone = true;
        return true;
    }
    if (!reading) return false;
    {
        std::lock_guard<std::mutex> guard(wireLock);
        incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(readAt));
        readAt = 0;
        incoming.insert(incoming.end(), wire.begin(), wire.end());
        wire.clear();
    }
    bool moved = false;
    bool halfWay = false;
    // A frame is routed once all of it has come, as the link gathers it: a frame the peer
    // never finished is never handled, and the link ends once the peer went.
    while (reading && incoming.size() - readAt >= FrameHeader::kBytes) {
        const std::uint8_t* raw = incoming.data() + readAt;
        FrameHeader header = FrameHeader::Decode(raw);
        FramePlan plan = router.PlanOf(*this, header);
        if (incoming.size() - readAt - FrameHeader::kBytes < plan.bytes) {
            halfWay = true;
            break;
        }
        const std::uint8_t* bytes = raw + FrameHeader::kBytes;
        readAt += FrameHeader::kBytes + plan.bytes;
        bool goOn = true;
        switch (plan.kind) {
            case FramePlan::Kind::Whole: {
                FramePayload payload(bytes, plan.bytes);
                goOn = router.Route(*this, header, raw, payload);
                break;
            }
            case FramePlan::Kind::Skip: {
                FramePayload none;
                goOn = router.Route(*this, header, raw, none);
                break;
            }
            case FramePlan::Kind::Pieces:
                goOn = router.RoutePiece(*this, header, {bytes, plan.bytes, true, true});
                break;
        }
        if (!goOn) {
            // Reading stops and the link ends; the state is the handlers' to close.
            reading = false;
            socketGone = true;
        }
        moved = true;
    }
    // The peer's end went and everything it wrote has been read: the read fails and the
    // link closes, as a read of a closed socket does.
    if (reading && peer->socketGone &&
        (halfWay || incoming.size() - readAt < FrameHeader::kBytes)) {
        std::lock_guard<std::mutex> guard(wireLock);
        if (wire.empty()) {
            reading = false;
            socketGone = true;
            closed = true;
            moved = true;
        }
    }
    return moved;
}

bool SeamSide::PumpPass() {
    // A closed link's commands wait for a next link that never comes here.
    if (closed) return false;
    bool moved = RunCommands();
    return transfers.SenderPass() || moved;
}

bool SeamSide::EndLinkOnce() {
    if (reading || ended) return false;
    ended = true;
    transfers.EndTransfersWithLink();
    return true;
}

FramePair::FramePair() {
    a.peer = &b;
    b.peer = &a;
}

FramePair::~FramePair() {
    // Either worker's last answer may write to the other side.
    a.transfers.StopDigestWorker();
    b.transfers.StopDigestWorker();
}

void FramePair::Start() {
    for (SeamSide* side : {&a, &b}) {
        if (!side->capabilities) continue;
        auto announcement = EncodeCapabilities(side->capabilities);
        side->WriteParts({boost::asio::buffer(announcement)});
    }
    RunIdle();
}

void FramePair::Poke() {
    {
        std::lock_guard<std::mutex> guard(activityLock);
        ++activityCount;
    }
    activity.notify_all();
}

bool FramePair::Step() {
    bool moved = false;
    for (SeamSide* side : {&a, &b}) moved |= side->RunIoJobs();
    for (SeamSide* side : {&a, &b}) moved |= side->DeliverFrames();
    for (SeamSide* side : {&a, &b}) moved |= side->EndLinkOnce();
    for (SeamSide* side : {&a, &b}) moved |= side->PumpPass();
    return moved;
}

bool FramePair::RunUntil(const std::function<bool()>& done, int maxSteps) {
    // Waits for other threads add up to a minute at most: generous on a loaded machine.
    constexpr auto kPatience = std::chrono::seconds(60);
    auto waited = std::chrono::steady_clock::duration::zero();
    for (int step = 0; step < maxSteps; ++step) {
        if (done()) return true;
        std::uint64_t seen;
        {
            std::lock_guard<std::mutex> guard(activityLock);
            seen = activityCount;
        }
        if (Step()) continue;
        if (done()) return true;
        // Nothing moved here: only the digest worker can move things on.
        auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(activityLock);
        activity.wait_for(lock, std::chrono::milliseconds(200),
                          [&] { return activityCount != seen; });
        waited += std::chrono::steady_clock::now() - start;
        if (waited > kPatience) return done();
    }
    return done();
}

bool FramePair::RunIdle(int maxSteps) {
    for (int step = 0; step < maxSteps; ++step)
        if (!Step()) return true;
    return false;
}

}  // namespace mirka::test
