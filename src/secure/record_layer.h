#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <sodium.h>

// Length-prefixed records, one stream per direction, in one of two ciphers:
// - crypto_secretstream_xchacha20poly1305 (everywhere): a 24-byte stream header first, then
//   records of a 4-byte little-endian length (of what follows) and the sealed bytes, the
//   length authenticated as associated data. The stream's own nonce sequence makes a
//   replayed, dropped or reordered record fail its check; its final tag ends the stream.
// - AES-256-GCM (crypto_aead_aes256gcm, where the processor has AES instructions): no
//   header; each record is a 4-byte little-endian length whose top bit marks the final
//   record, then the ciphertext and its 16-byte tag, the 4 bytes authenticated as associated
//   data. The nonce is the record's number in its direction (64 bits, little-endian, then
//   4 zero bytes), never sent and never reused: a replayed, dropped or reordered record
//   fails its check, and the stream ends before the number could wrap.
// A failed check ends the stream for good. A stream that ends on purpose ends with a final
// record: a reader can then tell an end from a cut, and any record after the final one fails.
namespace mirka::secure {

enum class Cipher : std::uint8_t { XChaCha20Poly1305, Aes256Gcm };
// Whether this processor runs AES-256-GCM in hardware (libsodium's own check).
bool AesGcmAvailable();

inline constexpr std::size_t kRecordLengthBytes = 4;
// The larger of the two ciphers' tags: the bound of a record's length.
inline constexpr std::size_t kRecordTagBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
inline constexpr std::size_t kAesTagBytes = crypto_aead_aes256gcm_ABYTES;
inline constexpr std::uint32_t kFinalRecordBit = 0x80000000u;
inline constexpr std::size_t kStreamHeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
inline constexpr std::size_t kStreamKeyBytes = crypto_secretstream_xchacha20poly1305_KEYBYTES;
// The largest plaintext one record carries; longer writes become several records.
inline constexpr std::size_t kMaxRecordPlainBytes = 64 * 1024;
inline constexpr std::size_t kMaxRecordBytes =
    kRecordLengthBytes + kMaxRecordPlainBytes + kRecordTagBytes;

using StreamKey = std::array<std::uint8_t, kStreamKeyBytes>;

class RecordWriter {
public:
    explicit RecordWriter(const StreamKey& key, Cipher cipher = Cipher::XChaCha20Poly1305);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    enum class End { No, Final };

    // Appends to `out` the stream header (before the first record only), then the plaintext
    // in records of at most kMaxRecordPlainBytes; with End::Final the last of them ends the
    // stream. Once the stream has ended nothing more is sealed.
    void Seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out,
              End end = End::No);
    // The same into `out`, which has room for SealedSize(plain.size()); returns the bytes
    // written. Lets a caller reuse one buffer without clearing it for every write.
    std::size_t SealedSize(std::size_t plainBytes) const;
    std::size_t Seal(std::span<const std::uint8_t> plain, std::uint8_t* out, End end = End::No);
    // The final record has been sealed.
    bool Ended() const { return ended; }

private:
    Cipher cipher;
    crypto_secretstream_xchacha20poly1305_state state;
    std::array<std::uint8_t, kStreamHeaderBytes> header;
    bool headerSent = false;
    bool ended = false;
    // AES-256-GCM: the expanded key and the next record's number.
    crypto_aead_aes256gcm_state aes;
    std::uint64_t records = 0;
};

class RecordReader {
public:
    explicit RecordReader(const StreamKey& key, Cipher cipher = Cipher::XChaCha20Poly1305);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    enum class Result { NeedMore, Opened, Failed };
    // Takes the stream header or one whole record from the front of `input`: `used` tells
    // how many bytes it took, `produced` how many plaintext bytes went to `out`, which must
    // have room for kMaxRecordPlainBytes. Failed is final: every later call fails too, and
    // so does any record after the final one.
    Result Next(std::span<const std::uint8_t> input, std::size_t& used, std::uint8_t* out,
                std::size_t& produced);
    // The final record has been opened: the writer ended the stream on purpose.
    bool Ended() const { return ended; }

private:
    Result OpenAes(std::span<const std::uint8_t> input, std::size_t& used, std::uint8_t* out,
                   std::size_t& produced);
    Result Fail();

    Cipher cipher;
    crypto_secretstream_xchacha20poly1305_state state;
    StreamKey key;  // kept until the stream header arrives
    bool headerRead = false;
    bool failed = false;
    bool ended = false;
    crypto_aead_aes256gcm_state aes;
    std::uint64_t records = 0;
};

}  // namespace mirka::secure
