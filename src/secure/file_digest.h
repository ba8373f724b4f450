#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <sodium.h>

// The digest of a whole file for verified delivery: BLAKE2b with a 32-byte output
// (libsodium's crypto_generichash), fed in pieces as the file is read or written.
namespace mirka::secure {

inline constexpr std::size_t kFileDigestBytes = 32;
using FileDigest = std::array<std::uint8_t, kFileDigestBytes>;

class FileHasher {
public:
    FileHasher();
    // Starts again from an empty file.
    void Reset();
    void Update(const std::uint8_t* bytes, std::size_t n);
    // The digest of everything fed since the last Reset; the hasher then starts again.
    FileDigest Final();

private:
    crypto_generichash_state state;
};

}  // namespace mirka::secure
