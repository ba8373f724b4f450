#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <sodium.h>

struct evp_md_ctx_st;

// The digest of a whole file for verified delivery, fed in pieces as the file is read or
// written: BLAKE2b with a 32-byte output (libsodium's crypto_generichash), or SHA-256 through
// OpenSSL's EVP interface, which runs the processor's SHA instructions where it has them and
// so costs a fraction of BLAKE2b's CPU time per byte. Both give 32 bytes.
namespace mirka::secure {

inline constexpr std::size_t kFileDigestBytes = 32;
using FileDigest = std::array<std::uint8_t, kFileDigestBytes>;

enum class DigestKind { Blake2b256, Sha256 };

class FileHasher {
public:
    explicit FileHasher(DigestKind kind = DigestKind::Blake2b256);
    ~FileHasher();
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;
    // A hasher fed elsewhere (a kept part hashed off the link's threads) takes over here.
    FileHasher(FileHasher&&) noexcept = default;
    FileHasher& operator=(FileHasher&&) noexcept = default;

    // Chooses the algorithm and starts again from an empty file; Reset and Final keep it.
    void Use(DigestKind kind);
    DigestKind Kind() const { return kind; }
    // Starts again from an empty file.
    void Reset();
    void Update(const std::uint8_t* bytes, std::size_t n);
    // The digest of everything fed since the last Reset; the hasher then starts again.
    FileDigest Final();
    // The digest of everything fed so far, the hasher going on where it stands: a kept part's
    // digest, its stream then fed on with the rest of the file.
    FileDigest Peek() const;

private:
    struct FreeContext {
        void operator()(evp_md_ctx_st* context) const;
    };

    DigestKind kind;
    crypto_generichash_state blake2b;
    // Made the first time SHA-256 is chosen; kept for every later file of this hasher.
    std::unique_ptr<evp_md_ctx_st, FreeContext> sha256;
};

}  // namespace mirka::secure
