#include "secure/record_layer.h"

#include <algorithm>
#include <limits>

#include "secure/sodium_init.h"

namespace mirka::secure {

namespace {
void PutLength(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetLength(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

using AesNonce = std::array<std::uint8_t, crypto_aead_aes256gcm_NPUBBYTES>;

// The record's number in its direction, little-endian, then zero bytes.
AesNonce NonceOf(std::uint64_t number) {
    AesNonce nonce{};
    for (int i = 0; i < 8; ++i) nonce[i] = static_cast<std::uint8_t>(number >> (8 * i));
    return nonce;
}

std::size_t TagBytes(Cipher cipher) {
    return cipher == Cipher::Aes256Gcm ? kAesTagBytes : kRecordTagBytes;
}

// The last number a stream may use: it ends before a nonce could come round again.
constexpr std::uint64_t kLastRecord = std::numeric_limits<std::uint64_t>::max();
}  // namespace

bool AesGcmAvailable() {
    EnsureSodium();
    return crypto_aead_aes256gcm_is_available() != 0;
}

RecordWriter::RecordWriter(const StreamKey& key, Cipher cipher) : cipher(cipher), aes{} {
    EnsureSodium();
    if (cipher == Cipher::Aes256Gcm) {
        crypto_aead_aes256gcm_beforenm(&aes, key.data());
        headerSent = true;  // no stream header
    } else {
        crypto_secretstream_xchacha20poly1305_init_push(&state, header.data(), key.data());
    }
}

RecordWriter::~RecordWriter() {
    sodium_memzero(&state, sizeof state);
    sodium_memzero(&aes, sizeof aes);
}

std::size_t RecordWriter::SealedSize(std::size_t plainBytes) const {
    std::size_t count = (plainBytes + kMaxRecordPlainBytes - 1) / kMaxRecordPlainBytes;
    return (headerSent ? 0 : kStreamHeaderBytes) + plainBytes +
           count * (kRecordLengthBytes + TagBytes(cipher));
}

std::size_t RecordWriter::Seal(std::span<const std::uint8_t> plain, std::uint8_t* out, End end) {
    std::uint8_t* at = out;
    if (!headerSent) {
        std::copy(header.begin(), header.end(), at);
        at += header.size();
        headerSent = true;
    }
    std::size_t tagBytes = TagBytes(cipher);
    // Nothing is sealed after the final record (the header went out with the first record).
    while (!plain.empty() && !ended) {
        std::size_t n = plain.size() < kMaxRecordPlainBytes ? plain.size() : kMaxRecordPlainBytes;
        bool last = n == plain.size() && end == End::Final;
        auto length = static_cast<std::uint32_t>(n + tagBytes);
        if (cipher == Cipher::Aes256Gcm) {
            // The last number ends the stream, so none is ever used twice.
            last = last || records == kLastRecord;
            PutLength(at, length | (last ? kFinalRecordBit : 0));
            AesNonce nonce = NonceOf(records++);
            crypto_aead_aes256gcm_encrypt_afternm(at + kRecordLengthBytes, nullptr, plain.data(), n,
                                                  at, kRecordLengthBytes, nullptr, nonce.data(),
                                                  &aes);
        } else {
            PutLength(at, length);
            crypto_secretstream_xchacha20poly1305_push(
                &state, at + kRecordLengthBytes, nullptr, plain.data(), n, at, kRecordLengthBytes,
                last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                     : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        }
        at += kRecordLengthBytes + n + tagBytes;
        plain = plain.subspan(n);
        ended = last;
    }
    return static_cast<std::size_t>(at - out);
}

void RecordWriter::Seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out,
                        End end) {
    std::size_t start = out.size();
    out.resize(start + SealedSize(plain.size()));
    out.resize(start + Seal(plain, out.data() + start, end));
}

RecordReader::RecordReader(const StreamKey& streamKey, Cipher cipher)
    : cipher(cipher), state{}, key(streamKey), aes{} {
    EnsureSodium();
    if (cipher == Cipher::Aes256Gcm) {
        crypto_aead_aes256gcm_beforenm(&aes, key.data());
        sodium_memzero(key.data(), key.size());
        headerRead = true;  // no stream header
    }
}

RecordReader::~RecordReader() {
    sodium_memzero(&state, sizeof state);
    sodium_memzero(&aes, sizeof aes);
    sodium_memzero(key.data(), key.size());
}

RecordReader::Result RecordReader::Fail() {
    failed = true;
    return Result::Failed;
}

RecordReader::Result RecordReader::Next(std::span<const std::uint8_t> input, std::size_t& used,
                                        std::uint8_t* out, std::size_t& produced) {
    used = 0;
    produced = 0;
    if (failed) return Result::Failed;
    if (ended) {
        // Nothing may follow the final record.
        if (input.empty()) return Result::NeedMore;
        return Fail();
    }
    if (cipher == Cipher::Aes256Gcm) return OpenAes(input, used, out, produced);
    if (!headerRead) {
        if (input.size() < kStreamHeaderBytes) return Result::NeedMore;
        bool ok =
            crypto_secretstream_xchacha20poly1305_init_pull(&state, input.data(), key.data()) == 0;
        sodium_memzero(key.data(), key.size());
        if (!ok) return Fail();
        headerRead = true;
        used = kStreamHeaderBytes;
        return Result::Opened;
    }
    if (input.size() < kRecordLengthBytes) return Result::NeedMore;
    std::uint32_t length = GetLength(input.data());
    // An empty record or one past the bound is never sent: the stream is broken.
    if (length <= kRecordTagBytes || length > kMaxRecordPlainBytes + kRecordTagBytes) return Fail();
    if (input.size() < kRecordLengthBytes + length) return Result::NeedMore;
    unsigned long long plainLength = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state, out, &plainLength, &tag,
                                                   input.data() + kRecordLengthBytes, length,
                                                   input.data(), kRecordLengthBytes) != 0 ||
        (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE &&
         tag != crypto_secretstream_xchacha20poly1305_TAG_FINAL))
        return Fail();
    ended = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
    used = kRecordLengthBytes + length;
    produced = static_cast<std::size_t>(plainLength);
    return Result::Opened;
}

RecordReader::Result RecordReader::OpenAes(std::span<const std::uint8_t> input, std::size_t& used,
                                           std::uint8_t* out, std::size_t& produced) {
    if (input.size() < kRecordLengthBytes) return Result::NeedMore;
    std::uint32_t header = GetLength(input.data());
    std::uint32_t length = header & ~kFinalRecordBit;
    if (length <= kAesTagBytes || length > kMaxRecordPlainBytes + kAesTagBytes) return Fail();
    if (input.size() < kRecordLengthBytes + length) return Result::NeedMore;
    AesNonce nonce = NonceOf(records);
    unsigned long long plainLength = 0;
    if (crypto_aead_aes256gcm_decrypt_afternm(
            out, &plainLength, nullptr, input.data() + kRecordLengthBytes, length, input.data(),
            kRecordLengthBytes, nonce.data(), &aes) != 0)
        return Fail();
    // The writer ends its stream with the last number at the latest.
    ended = (header & kFinalRecordBit) != 0 || records == kLastRecord;
    ++records;
    used = kRecordLengthBytes + length;
    produced = static_cast<std::size_t>(plainLength);
    return Result::Opened;
}

}  // namespace mirka::secure
