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
#include <utility>
#include <vector>

#include "secure/file_digest.h"
#include "toolkit/open_file.h"

namespace mirka {

// Hashes the files of verified transfers on a thread of its own. A kept part of several GiB
// takes seconds to hash, and every byte sent or received costs about as much to hash as to
// move; on the link's I/O thread no chat line or keep-alive would be read meanwhile, under
// the task table's lock no other transfer would move, and on the pump no data would go.
//
// Each transfer feeds one stream, in file order: parts to read back from the file itself (a
// kept part, or bytes the worker had no room to hold), and blocks the transfer has just
// written or sent, handed over without a copy. The worker hashes each stream's parts in
// the order given and answers a mark (the digest so far) or the end (the whole digest) on
// its own thread.
class DigestWorker {
public:
    // The digest, or nothing when the file gave fewer bytes than asked (it changed).
    using Done = std::function<void(std::optional<secure::FileDigest>)>;

    class Stream {
    public:
        Stream(secure::DigestKind kind, OpenFile file) : hasher(kind), file(std::move(file)) {}

    private:
        friend class DigestWorker;
        secure::FileHasher hasher;  // worker thread
        OpenFile file;              // read at offsets only, by the worker
        bool failed = false;        // worker thread
        std::atomic<bool> cancelled{false};
        // Blocks hashed and ready to be handed out again; the worker's lock held.
        std::vector<std::vector<char>> spares;
    };
    using StreamPtr = std::shared_ptr<Stream>;

    DigestWorker() = default;
    DigestWorker(const DigestWorker&) = delete;
    DigestWorker& operator=(const DigestWorker&) = delete;
    ~DigestWorker() { Stop(); }

    // Any thread: a stream that reads back through `file` (a descriptor of its own, as the
    // transfer may close its file meanwhile).
    static StreamPtr Open(secure::DigestKind kind, OpenFile file) {
        return std::make_shared<Stream>(kind, std::move(file));
    }
    // The stream's remaining parts are dropped and none of its answers runs.
    static void Cancel(Stream& stream) { stream.cancelled = true; }

    // The one thread that feeds a stream (the stream's parts keep the order of these calls).
    // The file's bytes [at, at + bytes) are read back and hashed.
    void HashFile(const StreamPtr& stream, std::int64_t at, std::int64_t bytes);
    // The first `n` bytes of `block` (the file's bytes from `at`, already in the file) are
    // hashed. The block is taken and `block` comes back as another of its size; when the
    // memory held for hashing is at its bound, `block` stays and the bytes are read back from
    // the file instead.
    void HashBlock(const StreamPtr& stream, std::vector<char>& block, std::size_t n,
                   std::int64_t at);
    // `done` runs on the worker with the digest of the file's bytes in `ranges` (offset,
    // length), in order, taken apart from the stream's own: a quick look at a kept part.
    void HashApart(const StreamPtr& stream,
                   std::vector<std::pair<std::int64_t, std::int64_t>> ranges, Done done);
    // `done` runs on the worker with the digest of everything before it; the stream goes on.
    void Mark(const StreamPtr& stream, Done done);
    // `done` runs on the worker with the digest of the whole stream, which then ends.
    void Finish(const StreamPtr& stream, Done done);

    // Ends the thread: the part under way stops at its next block, and no answer runs after.
    void Stop();

private:
    enum class PartKind { File, Block, Apart, Mark, Finish };
    struct Part {
        StreamPtr stream;
        PartKind kind = PartKind::File;
        std::int64_t at = 0;
        std::int64_t bytes = 0;
        std::vector<char> block;
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // Apart
        Done done;
    };

    void Submit(Part part);
    void Main();
    // Worker thread: false when the file gave fewer bytes; stops early on a cancel or a stop.
    bool ReadBack(Stream& stream, secure::FileHasher& hasher, std::int64_t at, std::int64_t bytes,
                  std::vector<std::uint8_t>& buffer);

    // Guards the parts, the held bytes, the spares, the stop and the thread's start: the
    // feeding threads add parts, the worker takes them.
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Part> parts;
    std::size_t heldBytes = 0;  // the blocks waiting in `parts`
    bool stopping = false;
    // Read by the worker between blocks without the lock.
    std::atomic<bool> stopNow{false};
    std::thread thread;
};

}  // namespace mirka
