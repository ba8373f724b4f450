#include "link/transfer/digest_worker.h"

#include <algorithm>

#include "toolkit/platform.h"

namespace mirka {

namespace {
// Large enough that the system call per block costs nothing beside the hashing, small
// enough that a cancel is seen within a fraction of a millisecond.
constexpr std::size_t kHashBlockBytes = 256 * 1024;
// The blocks waiting to be hashed, over all streams. Past it a transfer keeps its block and
// the worker reads the bytes back from the file: the memory stays bounded however far the
// hashing falls behind, and no transfer ever waits for it.
constexpr std::size_t kHeldBytesLimit = 16 * 1024 * 1024;
// Blocks a stream keeps for handing out again: a transfer that swaps one block per write
// needs one, a second covers the worker finishing a block just after the next was asked.
constexpr std::size_t kSparesKept = 2;
}  // namespace

void DigestWorker::Submit(Part part) {
    if (!part.stream) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) return;
        heldBytes += part.block.capacity();
        parts.push_back(std::move(part));
        if (!thread.joinable()) thread = std::thread(&DigestWorker::Main, this);
    }
    wake.notify_one();
}

void DigestWorker::HashFile(const StreamPtr& stream, std::int64_t at, std::int64_t bytes) {
    if (bytes <= 0) return;
    Part part;
    part.stream = stream;
    part.kind = PartKind::File;
    part.at = at;
    part.bytes = bytes;
    Submit(std::move(part));
}

void DigestWorker::HashBlock(const StreamPtr& stream, std::vector<char>& block, std::size_t n,
                             std::int64_t at) {
    if (n == 0) return;
    std::vector<char> next;
    bool handed = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) return;
        if (!stream->spares.empty()) {
            next = std::move(stream->spares.back());
            stream->spares.pop_back();
            handed = true;
        } else if (heldBytes + block.capacity() <= kHeldBytesLimit) {
            handed = true;
        }
    }
    if (!handed) {
        HashFile(stream, at, static_cast<std::int64_t>(n));
        return;
    }
    next.resize(block.size());
    Part part;
    part.stream = stream;
    part.kind = PartKind::Block;
    part.at = at;
    part.bytes = static_cast<std::int64_t>(n);
    part.block = std::move(block);
    block = std::move(next);
    Submit(std::move(part));
}

void DigestWorker::HashApart(const StreamPtr& stream,
                             std::vector<std::pair<std::int64_t, std::int64_t>> ranges, Done done) {
    Part part;
    part.stream = stream;
    part.kind = PartKind::Apart;
    part.ranges = std::move(ranges);
    part.done = std::move(done);
    Submit(std::move(part));
}

void DigestWorker::Mark(const StreamPtr& stream, Done done) {
    Part part;
    part.stream = stream;
    part.kind = PartKind::Mark;
    part.done = std::move(done);
    Submit(std::move(part));
}

void DigestWorker::Finish(const StreamPtr& stream, Done done) {
    Part part;
    part.stream = stream;
    part.kind = PartKind::Finish;
    part.done = std::move(done);
    Submit(std::move(part));
}

void DigestWorker::Stop() {
    std::thread ending;
    std::deque<Part> dropped;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        stopNow = true;
        dropped.swap(parts);
        heldBytes = 0;
        ending = std::move(thread);
    }
    wake.notify_one();
    if (ending.joinable()) ending.join();
}

bool DigestWorker::ReadBack(Stream& stream, secure::FileHasher& hasher, std::int64_t at,
                            std::int64_t bytes, std::vector<std::uint8_t>& buffer) {
    for (std::int64_t done = 0; done < bytes;) {
        if (stopNow || stream.cancelled) return true;  // nothing of it is answered
        std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(bytes - done, static_cast<std::int64_t>(buffer.size())));
        std::int64_t got = stream.file.ReadAt(buffer.data(), want, at + done);
        if (got <= 0) return false;
        hasher.Update(buffer.data(), static_cast<std::size_t>(got));
        done += got;
    }
    return true;
}

void DigestWorker::Main() {
    // Hashing a kept part of GiB takes a core for seconds; the link's threads must still get
    // it the moment a chat line or a keep-alive wakes them.
    YieldToOtherThreads();
    std::vector<std::uint8_t> buffer(kHashBlockBytes);
    for (;;) {
        Part part;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || !parts.empty(); });
            if (stopping) return;
            part = std::move(parts.front());
            parts.pop_front();
            heldBytes -= part.block.capacity();
        }
        Stream& stream = *part.stream;
        bool skip = stream.cancelled || stream.failed;
        switch (part.kind) {
            case PartKind::File:
                if (!skip && !ReadBack(stream, stream.hasher, part.at, part.bytes, buffer))
                    stream.failed = true;
                break;
            case PartKind::Apart: {
                if (stopNow || stream.cancelled) break;
                secure::FileHasher apart(stream.hasher.Kind());
                bool whole = true;
                for (auto [at, bytes] : part.ranges)
                    whole = whole && ReadBack(stream, apart, at, bytes, buffer);
                if (stopNow || stream.cancelled) break;
                part.done(whole ? std::optional(apart.Final()) : std::nullopt);
                break;
            }
            case PartKind::Block:
                if (!skip)
                    stream.hasher.Update(reinterpret_cast<const std::uint8_t*>(part.block.data()),
                                         static_cast<std::size_t>(part.bytes));
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (!stream.cancelled && stream.spares.size() < kSparesKept)
                        stream.spares.push_back(std::move(part.block));
                }
                break;
            case PartKind::Mark:
            case PartKind::Finish:
                if (stopNow || stream.cancelled) break;
                std::optional<secure::FileDigest> digest;
                if (!stream.failed)
                    digest =
                        part.kind == PartKind::Mark ? stream.hasher.Peek() : stream.hasher.Final();
                part.done(digest);
                break;
        }
    }
}

}  // namespace mirka
