#include "link/digest_worker.h"

#include <algorithm>

namespace mirka {

namespace {
// Large enough that the system call per block costs nothing beside the hashing, small
// enough that a cancel is seen within a fraction of a millisecond.
constexpr std::size_t kHashBlockBytes = 256 * 1024;
}  // namespace

void DigestWorker::Submit(Job job) {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) return;
        jobs.push_back(std::move(job));
        if (!thread.joinable()) thread = std::thread(&DigestWorker::Main, this);
    }
    wake.notify_one();
}

void DigestWorker::Stop() {
    std::thread ending;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        stopNow = true;
        jobs.clear();
        ending = std::move(thread);
    }
    wake.notify_one();
    if (ending.joinable()) ending.join();
}

bool DigestWorker::Hash(const Job& job, secure::FileHasher& hasher,
                        std::vector<std::uint8_t>& buffer) {
    for (std::int64_t at = 0; at < job.bytes;) {
        if (stopNow || (job.cancelled && *job.cancelled)) return false;
        std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(job.bytes - at, static_cast<std::int64_t>(buffer.size())));
        std::int64_t got = job.file.ReadAt(buffer.data(), want, at);
        if (got <= 0) return false;
        hasher.Update(buffer.data(), static_cast<std::size_t>(got));
        at += got;
    }
    return true;
}

void DigestWorker::Main() {
    std::vector<std::uint8_t> buffer(kHashBlockBytes);
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || !jobs.empty(); });
            if (stopping) return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        std::optional<secure::FileHasher> hasher(std::in_place, job.kind);
        bool whole = Hash(job, *hasher, buffer);
        if (stopNow || (job.cancelled && *job.cancelled)) continue;
        if (!whole) hasher.reset();
        job.done(std::move(hasher));
    }
}

}  // namespace mirka
