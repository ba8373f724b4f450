#include "secure/record_layer.h"

#include <algorithm>

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
}  // namespace

RecordWriter::RecordWriter(const StreamKey& key) {
    EnsureSodium();
    crypto_secretstream_xchacha20poly1305_init_push(&state, header.data(), key.data());
}

RecordWriter::~RecordWriter() {
    sodium_memzero(&state, sizeof state);
}

std::size_t RecordWriter::SealedSize(std::size_t plainBytes) const {
    std::size_t records = (plainBytes + kMaxRecordPlainBytes - 1) / kMaxRecordPlainBytes;
    return (headerSent ? 0 : kStreamHeaderBytes) + plainBytes +
           records * (kRecordLengthBytes + kRecordTagBytes);
}

std::size_t RecordWriter::Seal(std::span<const std::uint8_t> plain, std::uint8_t* out, End end) {
    if (ended) return 0;
    std::uint8_t* at = out;
    if (!headerSent) {
        std::copy(header.begin(), header.end(), at);
        at += header.size();
        headerSent = true;
    }
    while (!plain.empty()) {
        std::size_t n = plain.size() < kMaxRecordPlainBytes ? plain.size() : kMaxRecordPlainBytes;
        bool last = n == plain.size() && end == End::Final;
        PutLength(at, static_cast<std::uint32_t>(n + kRecordTagBytes));
        crypto_secretstream_xchacha20poly1305_push(
            &state, at + kRecordLengthBytes, nullptr, plain.data(), n, at, kRecordLengthBytes,
            last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                 : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        at += kRecordLengthBytes + n + kRecordTagBytes;
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

RecordReader::RecordReader(const StreamKey& streamKey) : state{}, key(streamKey) {
    EnsureSodium();
}

RecordReader::~RecordReader() {
    sodium_memzero(&state, sizeof state);
    sodium_memzero(key.data(), key.size());
}

RecordReader::Result RecordReader::Next(std::span<const std::uint8_t> input, std::size_t& used,
                                        std::uint8_t* out, std::size_t& produced) {
    used = 0;
    produced = 0;
    if (failed) return Result::Failed;
    if (ended) {
        // Nothing may follow the final record.
        if (input.empty()) return Result::NeedMore;
        failed = true;
        return Result::Failed;
    }
    if (!headerRead) {
        if (input.size() < kStreamHeaderBytes) return Result::NeedMore;
        bool ok =
            crypto_secretstream_xchacha20poly1305_init_pull(&state, input.data(), key.data()) == 0;
        sodium_memzero(key.data(), key.size());
        if (!ok) {
            failed = true;
            return Result::Failed;
        }
        headerRead = true;
        used = kStreamHeaderBytes;
        return Result::Opened;
    }
    if (input.size() < kRecordLengthBytes) return Result::NeedMore;
    std::uint32_t length = GetLength(input.data());
    // An empty record or one past the bound is never sent: the stream is broken.
    if (length <= kRecordTagBytes || length > kMaxRecordPlainBytes + kRecordTagBytes) {
        failed = true;
        return Result::Failed;
    }
    if (input.size() < kRecordLengthBytes + length) return Result::NeedMore;
    unsigned long long plainLength = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state, out, &plainLength, &tag,
                                                   input.data() + kRecordLengthBytes, length,
                                                   input.data(), kRecordLengthBytes) != 0 ||
        (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE &&
         tag != crypto_secretstream_xchacha20poly1305_TAG_FINAL)) {
        failed = true;
        return Result::Failed;
    }
    ended = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
    used = kRecordLengthBytes + length;
    produced = static_cast<std::size_t>(plainLength);
    return Result::Opened;
}

}  // namespace mirka::secure
