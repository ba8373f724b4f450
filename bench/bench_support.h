#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <vector>

// Pieces the benchmark programs share.
namespace mirka::bench {

// CPU seconds (user and system) this process has used so far, all its threads together.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A file of the given size whose 1 MiB blocks all differ.
inline void MakeFile(const std::filesystem::path& path, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    for (std::size_t left = bytes; left > 0;) {
        std::size_t n = std::min(left, block.size());
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
        block[0]++;
    }
}

}  // namespace mirka::bench
