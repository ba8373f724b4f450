#include "secure/file_digest.h"

#include <new>

#include <openssl/evp.h>

#include "secure/sodium_init.h"

namespace mirka::secure {

namespace {
// The EVP calls fail only when memory runs out (the default provider always has SHA-256),
// which is what std::bad_alloc says everywhere else.
void Check(int ok) {
    if (ok != 1) throw std::bad_alloc();
}
}  // namespace

void FileHasher::FreeContext::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

FileHasher::FileHasher(DigestKind kind) {
    EnsureSodium();
    Use(kind);
}

FileHasher::~FileHasher() = default;

void FileHasher::Use(DigestKind chosen) {
    kind = chosen;
    if (kind == DigestKind::Sha256 && !sha256) {
        sha256.reset(EVP_MD_CTX_new());
        if (!sha256) throw std::bad_alloc();
    }
    Reset();
}

void FileHasher::Reset() {
    if (kind == DigestKind::Sha256)
        Check(EVP_DigestInit_ex(sha256.get(), EVP_sha256(), nullptr));
    else
        crypto_generichash_init(&blake2b, nullptr, 0, kFileDigestBytes);
}

void FileHasher::Update(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0) return;
    if (kind == DigestKind::Sha256)
        Check(EVP_DigestUpdate(sha256.get(), bytes, n));
    else
        crypto_generichash_update(&blake2b, bytes, n);
}

FileDigest FileHasher::Final() {
    FileDigest digest;
    if (kind == DigestKind::Sha256) {
        unsigned int length = 0;
        Check(EVP_DigestFinal_ex(sha256.get(), digest.data(), &length));
    } else {
        crypto_generichash_final(&blake2b, digest.data(), digest.size());
    }
    Reset();
    return digest;
}

FileDigest FileHasher::Peek() const {
    FileDigest digest;
    if (kind == DigestKind::Sha256) {
        std::unique_ptr<evp_md_ctx_st, FreeContext> copy(EVP_MD_CTX_new());
        if (!copy) throw std::bad_alloc();
        Check(EVP_MD_CTX_copy_ex(copy.get(), sha256.get()));
        unsigned int length = 0;
        Check(EVP_DigestFinal_ex(copy.get(), digest.data(), &length));
    } else {
        crypto_generichash_state copy = blake2b;
        crypto_generichash_final(&copy, digest.data(), digest.size());
    }
    return digest;
}

}  // namespace mirka::secure
