// The digest worker's streams: parts hashed in the order given whether the worker holds the
// blocks or reads them back, marks on the way, a cancel, and a file shorter than asked.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "link/transfer/digest_worker.h"
#include "raw_peer_link.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using secure::DigestKind;
using secure::FileDigest;

constexpr std::size_t kBlock = 256 * 1024;

TEST(DigestWorker, AStreamHashesInFileOrderWhetherItHoldsTheBlocksOrReadsThemBack) {
    // More than the worker holds (16 MiB): with the worker held up, later blocks stay with
    // the feeder and are read back from the file.
    constexpr std::size_t kSize = 24 * 1024 * 1024 + 1000;
    constexpr std::size_t kKept = 3 * kBlock + 17;
    auto bytes = test::RandomBytes(kSize, 31);
    test::TempFolder folder;
    auto path = folder.Path() / "f.bin";
    test::WriteFile(path, bytes);
    auto open = [&] { return OpenFile::OpenForReading(FromFsPath(path)).value(); };

    DigestWorker worker;
    auto stream = DigestWorker::Open(DigestKind::Sha256, open());
    std::mutex lock;
    std::condition_variable wake;
    bool release = false;
    std::promise<std::optional<FileDigest>> kept;
    std::promise<std::optional<FileDigest>> whole;
    worker.HashFile(stream, 0, static_cast<std::int64_t>(kKept));
    worker.Mark(stream, [&](std::optional<FileDigest> digest) {
        kept.set_value(digest);
        std::unique_lock<std::mutex> guard(lock);
        wake.wait(guard, [&] { return release; });
    });
    // Blocks as a transfer hands them over: the first bytes of each are the file's.
    std::vector<char> block(kBlock);
    std::size_t keptBack = 0;
    for (std::size_t at = kKept; at < kSize;) {
        std::size_t n = std::min(kBlock, kSize - at);
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + n), block.begin());
        const char* before = block.data();
        worker.HashBlock(stream, block, n, static_cast<std::int64_t>(at));
        EXPECT_EQ(block.size(), kBlock);
        if (block.data() == before) ++keptBack;
        at += n;
    }
    EXPECT_GT(keptBack, 0u) << "past the bound the feeder keeps its block";
    worker.Finish(stream, [&](std::optional<FileDigest> digest) { whole.set_value(digest); });
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    wake.notify_all();
    EXPECT_EQ(kept.get_future().get(), test::DigestOf(DigestKind::Sha256, bytes, kKept));
    EXPECT_EQ(whole.get_future().get(), test::DigestOf(DigestKind::Sha256, bytes));

    // A file shorter than the part asked for: the mark and the end say so. A cancelled
    // stream answers nothing, and the worker goes on with the next.
    auto shortStream = DigestWorker::Open(DigestKind::Blake2b256, open());
    std::promise<std::optional<FileDigest>> shortMark;
    std::promise<std::optional<FileDigest>> shortEnd;
    worker.HashFile(shortStream, 0, static_cast<std::int64_t>(kSize + 1));
    worker.Mark(shortStream, [&](std::optional<FileDigest> d) { shortMark.set_value(d); });
    worker.Finish(shortStream, [&](std::optional<FileDigest> d) { shortEnd.set_value(d); });
    EXPECT_FALSE(shortMark.get_future().get());
    EXPECT_FALSE(shortEnd.get_future().get());

    auto cancelled = DigestWorker::Open(DigestKind::Sha256, open());
    bool answered = false;
    worker.HashFile(cancelled, 0, static_cast<std::int64_t>(kSize));
    DigestWorker::Cancel(*cancelled);
    worker.Finish(cancelled, [&](std::optional<FileDigest>) { answered = true; });
    auto next = DigestWorker::Open(DigestKind::Blake2b256, open());
    std::promise<std::optional<FileDigest>> nextEnd;
    worker.HashFile(next, 0, 5000);
    worker.Finish(next, [&](std::optional<FileDigest> d) { nextEnd.set_value(d); });
    EXPECT_EQ(nextEnd.get_future().get(), test::DigestOf(DigestKind::Blake2b256, bytes, 5000));
    EXPECT_FALSE(answered);
    worker.Stop();
}

}  // namespace
}  // namespace mirka
