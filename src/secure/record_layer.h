#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <sodium.h>

// Length-prefixed records over crypto_secretstream_xchacha20poly1305, one stream per
// direction. Each record is a 4-byte little-endian length (of what follows), then the
// sealed bytes; the length is authenticated as associated data. The stream's own nonce
// sequence makes a replayed, dropped or reordered record fail its check, and a failed check
// ends the stream for good. A stream that ends on purpose ends with a final record (the
// secretstream's final tag): a reader can then tell an end from a cut, and any record after
// the final one fails.
namespace mirka::secure {

inline constexpr std::size_t kRecordLengthBytes = 4;
inline constexpr std::size_t kRecordTagBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
inline constexpr std::size_t kStreamHeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
inline constexpr std::size_t kStreamKeyBytes = crypto_secretstream_xchacha20poly1305_KEYBYTES;
// The largest plaintext one record carries; longer writes become several records.
inline constexpr std::size_t kMaxRecordPlainBytes = 64 * 1024;
inline constexpr std::size_t kMaxRecordBytes =
    kRecordLengthBytes + kMaxRecordPlainBytes + kRecordTagBytes;

using StreamKey = std::array<std::uint8_t, kStreamKeyBytes>;

class RecordWriter {
public:
    explicit RecordWriter(const StreamKey& key);
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
    crypto_secretstream_xchacha20poly1305_state state;
    std::array<std::uint8_t, kStreamHeaderBytes> header;
    bool headerSent = false;
    bool ended = false;
};

class RecordReader {
public:
    explicit RecordReader(const StreamKey& key);
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
    crypto_secretstream_xchacha20poly1305_state state;
    StreamKey key;  // kept until the stream header arrives
    bool headerRead = false;
    bool failed = false;
    bool ended = false;
};

}  // namespace mirka::secure
