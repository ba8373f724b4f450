#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "secure/file_digest.h"
#include "toolkit/open_file.h"

namespace mirka {

// Hashes the first bytes of open files on a thread of its own. A kept part of several GiB
// takes seconds to hash; on the link's I/O thread no chat line or keep-alive would be read
// meanwhile, and under the task table's lock no other transfer would move.
class DigestWorker {
public:
    struct Job {
        // A descriptor of its own: the transfer may close its file (a cancel) meanwhile.
        OpenFile file;
        std::int64_t bytes = 0;
        secure::DigestKind kind = secure::DigestKind::Sha256;
        // Set when the transfer ends: the job stops at its next block, and `done` is not run.
        std::shared_ptr<const std::atomic<bool>> cancelled;
        // Worker thread: the hasher fed with the first `bytes`, or nothing when the file gave
        // fewer.
        std::function<void(std::optional<secure::FileHasher>)> done;
    };

    DigestWorker() = default;
    DigestWorker(const DigestWorker&) = delete;
    DigestWorker& operator=(const DigestWorker&) = delete;
    ~DigestWorker() { Stop(); }

    // Any thread: the job runs after those before it; the thread starts with the first job.
    void Submit(Job job);
    // Ends the thread: a job under way stops at its next block, and no `done` runs after.
    void Stop();

private:
    void Main();
    bool Hash(const Job& job, secure::FileHasher& hasher, std::vector<std::uint8_t>& buffer);

    // Guards the queue, the stop and the thread's start: any thread submits, the worker takes.
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stopping = false;
    // Read by the worker between blocks without the lock.
    std::atomic<bool> stopNow{false};
    std::thread thread;
};

}  // namespace mirka
