// The cost of verified delivery's digest: 1 GiB hashed in 256 KiB pieces, the piece a file's
// reads and writes are gathered into, with BLAKE2b-256 (libsodium) and SHA-256 (libcrypto's
// EVP interface, which runs the processor's SHA instructions where it has them). The bytes
// come from memory, so only the hashing is measured. Best of the runs for each.
// Usage: bench_file_digest [MiB, default 1024] [runs, default 3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "secure/file_digest.h"

namespace {

using mirka::secure::DigestKind;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPieceBytes = 256 * 1024;
// Larger than the processor's caches, as a file's bytes are when they reach the hasher.
constexpr std::size_t kSourceBytes = 64 << 20;

struct Figures {
    double seconds = 0;
    double cpu = 0;
};

Figures HashOnce(DigestKind kind, const std::vector<std::uint8_t>& source, std::size_t bytes) {
    mirka::secure::FileHasher hasher(kind);
    double cpuBefore = mirka::bench::CpuSeconds();
    auto start = Clock::now();
    for (std::size_t done = 0, at = 0; done < bytes; done += kPieceBytes) {
        hasher.Update(source.data() + at, kPieceBytes);
        at = (at + kPieceBytes) % source.size();
    }
    auto digest = hasher.Final();
    Figures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.cpu = mirka::bench::CpuSeconds() - cpuBefore;
    // The digest is used, so no part of the work can be left out.
    if (digest[0] == 0 && digest[1] == 0 && digest[2] == 0) std::printf(" ");
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::size_t bytes = mib << 20;
    if (bytes < kPieceBytes || runs < 1) {
        std::fprintf(stderr, "usage: bench_file_digest [MiB] [runs]\n");
        return 2;
    }
    bytes -= bytes % kPieceBytes;
    std::vector<std::uint8_t> source(kSourceBytes);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint8_t>((i * 131 + 7) ^ (i >> 20));
    const double gib = static_cast<double>(bytes) / (1u << 30);
    struct Kind {
        const char* title;
        DigestKind kind;
        Figures best;
    } kinds[] = {{"BLAKE2b-256, libsodium", DigestKind::Blake2b256, {}},
                 {"SHA-256, libcrypto EVP", DigestKind::Sha256, {}}};
    std::printf("%zu MiB in %zu KiB pieces, best of %d\n", bytes >> 20, kPieceBytes / 1024, runs);
    for (int run = 0; run < runs; ++run) {
        for (Kind& kind : kinds) {
            Figures figures = HashOnce(kind.kind, source, bytes);
            if (run == 0 || figures.seconds < kind.best.seconds) kind.best = figures;
        }
    }
    for (const Kind& kind : kinds) {
        std::printf("%-24s %8.1f MB/s  %6.3f CPU s per GiB\n", kind.title,
                    static_cast<double>(bytes) / kind.best.seconds / 1e6, kind.best.cpu / gib);
    }
    std::printf("SHA-256 against BLAKE2b-256: %.2f times the speed\n",
                kinds[0].best.seconds / kinds[1].best.seconds);
    return 0;
}
