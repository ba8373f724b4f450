#include "secure/record_layer.h"

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

void RecordWriter::Seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out) {
    if (!headerSent) {
        out.insert(out.end(), header.begin(), header.end());
        headerSent = true;
    }
    while (!plain.empty()) {
        std::size_t n = plain.size() < kMaxRecordPlainBytes ? plain.size() : kMaxRecordPlainBytes;
        std::size_t start = out.size();
        out.resize(start + kRecordLengthBytes + n + kRecordTagBytes);
        std::uint8_t* length = out.data() + start;
        PutLength(length, static_cast<std::uint32_t>(n + kRecordTagBytes));
        crypto_secretstream_xchacha20poly1305_push(
            &state, length + kRecordLengthBytes, nullptr, plain.data(), n, length,
            kRecordLengthBytes, crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        plain = plain.subspan(n);
    }
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
        tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE) {
        failed = true;
        return Result::Failed;
    }
    used = kRecordLengthBytes + length;
    produced = static_cast<std::size_t>(plainLength);
    return Result::Opened;
}

}  // namespace mirka::secure
