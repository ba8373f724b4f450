#include "secure/file_digest.h"

#include "secure/sodium_init.h"

namespace mirka::secure {

FileHasher::FileHasher() {
    EnsureSodium();
    Reset();
}

void FileHasher::Reset() {
    crypto_generichash_init(&state, nullptr, 0, kFileDigestBytes);
}

void FileHasher::Update(const std::uint8_t* bytes, std::size_t n) {
    if (n > 0) crypto_generichash_update(&state, bytes, n);
}

FileDigest FileHasher::Final() {
    FileDigest digest;
    crypto_generichash_final(&state, digest.data(), digest.size());
    Reset();
    return digest;
}

}  // namespace mirka::secure
