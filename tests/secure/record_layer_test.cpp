// The record layer: what goes in comes out; any change to the byte stream ends it.
#include <gtest/gtest.h>

#include <numeric>

#include "secure/hex_text.h"
#include "secure/record_layer.h"

namespace mirka::secure {
namespace {

struct Item {
    std::size_t offset;
    std::size_t size;
};

StreamKey TestKey(std::uint8_t seed) {
    StreamKey key;
    std::iota(key.begin(), key.end(), seed);
    return key;
}

// The ciphers this machine runs.
std::vector<Cipher> Ciphers() {
    std::vector<Cipher> ciphers{Cipher::XChaCha20Poly1305};
    if (AesGcmAvailable()) ciphers.push_back(Cipher::Aes256Gcm);
    return ciphers;
}

// Splits a sealed stream into its header (empty with AES-256-GCM) and records.
std::vector<Item> Items(const std::vector<std::uint8_t>& stream,
                        Cipher cipher = Cipher::XChaCha20Poly1305) {
    std::size_t header = cipher == Cipher::Aes256Gcm ? 0 : kStreamHeaderBytes;
    std::vector<Item> items{{0, header}};
    for (std::size_t at = header; at < stream.size();) {
        std::size_t size =
            kRecordLengthBytes + (stream[at] | stream[at + 1] << 8 | stream[at + 2] << 16);
        items.push_back({at, size});
        at += size;
    }
    return items;
}

// Feeds the stream in pieces of `step` bytes; returns the plaintext, false at a failure.
bool OpenAll(RecordReader& reader, const std::vector<std::uint8_t>& stream,
             std::vector<std::uint8_t>& plain, std::size_t step = 1 << 20) {
    std::vector<std::uint8_t> pending;
    std::vector<std::uint8_t> out(kMaxRecordPlainBytes);
    for (std::size_t at = 0; at < stream.size(); at += step) {
        std::size_t n = std::min(step, stream.size() - at);
        pending.insert(pending.end(), stream.begin() + at, stream.begin() + at + n);
        for (;;) {
            std::size_t used = 0, produced = 0;
            auto result = reader.Next(pending, used, out.data(), produced);
            if (result == RecordReader::Result::Failed) return false;
            if (result == RecordReader::Result::NeedMore) break;
            plain.insert(plain.end(), out.begin(), out.begin() + produced);
            pending.erase(pending.begin(), pending.begin() + used);
        }
    }
    return pending.empty();
}

std::vector<std::uint8_t> SealedSample(std::vector<std::uint8_t>& plain,
                                       Cipher cipher = Cipher::XChaCha20Poly1305) {
    plain.resize(3 * kMaxRecordPlainBytes + 100);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
    RecordWriter writer(TestKey(1), cipher);
    std::vector<std::uint8_t> stream;
    writer.Seal(std::span(plain).first(10), stream);
    writer.Seal(std::span(plain).subspan(10), stream);
    return stream;
}

TEST(RecordLayer, CarriesTheBytesInBoundedRecords) {
    for (Cipher cipher : Ciphers()) {
        SCOPED_TRACE(static_cast<int>(cipher));
        std::vector<std::uint8_t> plain;
        std::vector<std::uint8_t> stream = SealedSample(plain, cipher);
        auto items = Items(stream, cipher);
        ASSERT_EQ(items.size(), 6u);  // header, 10 bytes, then 3 full records and the rest
        for (std::size_t i = 1; i < items.size(); ++i) EXPECT_LE(items[i].size, kMaxRecordBytes);
        for (std::size_t step : {std::size_t{1} << 20, std::size_t{7}, std::size_t{4096}}) {
            RecordReader reader(TestKey(1), cipher);
            std::vector<std::uint8_t> opened;
            ASSERT_TRUE(OpenAll(reader, stream, opened, step));
            EXPECT_EQ(opened, plain);
        }
        // No plaintext byte shows through.
        std::vector<std::uint8_t> window(plain.begin() + 1000, plain.begin() + 1016);
        EXPECT_EQ(std::search(stream.begin(), stream.end(), window.begin(), window.end()),
                  stream.end());
    }
}

TEST(RecordLayer, AnyChangeToTheStreamFails) {
    for (Cipher cipher : Ciphers()) {
        SCOPED_TRACE(static_cast<int>(cipher));
        std::vector<std::uint8_t> plain;
        const std::vector<std::uint8_t> stream = SealedSample(plain, cipher);
        auto items = Items(stream, cipher);
        auto fails = [&](const std::vector<std::uint8_t>& changed, const StreamKey& key) {
            RecordReader reader(key, cipher);
            std::vector<std::uint8_t> opened;
            return !OpenAll(reader, changed, opened);
        };
        EXPECT_TRUE(fails(stream, TestKey(2))) << "another key";
        for (std::size_t at : {std::size_t{3}, items[1].offset + 1, items[1].offset + 6,
                               items[2].offset + 500, stream.size() - 1}) {
            auto changed = stream;
            changed[at] ^= 0x01;
            EXPECT_TRUE(fails(changed, TestKey(1))) << "flipped byte " << at;
        }
        auto without = [&](std::size_t i) {
            auto changed = stream;
            changed.erase(changed.begin() + items[i].offset,
                          changed.begin() + items[i].offset + items[i].size);
            return changed;
        };
        EXPECT_TRUE(fails(without(2), TestKey(1))) << "dropped record";
        auto replayed = stream;
        replayed.insert(replayed.begin() + items[3].offset, stream.begin() + items[2].offset,
                        stream.begin() + items[2].offset + items[2].size);
        EXPECT_TRUE(fails(replayed, TestKey(1))) << "replayed record";
        auto reordered = without(2);
        reordered.insert(reordered.begin() + items[3].offset - items[2].size + items[3].size,
                         stream.begin() + items[2].offset,
                         stream.begin() + items[2].offset + items[2].size);
        EXPECT_TRUE(fails(reordered, TestKey(1))) << "reordered records";
    }
}

TEST(RecordLayer, LengthsOutsideTheBoundFailAtOnce) {
    std::vector<std::uint8_t> plain;
    std::vector<std::uint8_t> stream = SealedSample(plain);
    std::vector<std::uint8_t> out(kMaxRecordPlainBytes);
    for (std::uint32_t length :
         {std::uint32_t{0}, std::uint32_t{kRecordTagBytes},
          std::uint32_t{kMaxRecordPlainBytes + kRecordTagBytes + 1}, std::uint32_t{0xFFFFFFFF}}) {
        RecordReader reader(TestKey(1));
        std::size_t used = 0, produced = 0;
        ASSERT_EQ(reader.Next(stream, used, out.data(), produced), RecordReader::Result::Opened);
        std::vector<std::uint8_t> bad = {
            static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
        // Decided from the length alone, without waiting for the body.
        EXPECT_EQ(reader.Next(bad, used, out.data(), produced), RecordReader::Result::Failed)
            << length;
        // A failed stream stays failed.
        EXPECT_EQ(
            reader.Next(std::span(stream).subspan(kStreamHeaderBytes), used, out.data(), produced),
            RecordReader::Result::Failed);
    }
}

TEST(RecordLayer, OnlyAFinalRecordEndsTheStream) {
    for (Cipher cipher : Ciphers()) {
        SCOPED_TRACE(static_cast<int>(cipher));
        std::vector<std::uint8_t> plain(3 * kMaxRecordPlainBytes / 2, 0x5A);
        RecordWriter writer(TestKey(1), cipher);
        std::vector<std::uint8_t> stream;
        writer.Seal(std::span(plain).first(100), stream);
        std::size_t beforeLast = stream.size();
        writer.Seal(std::span(plain).subspan(100), stream, RecordWriter::End::Final);
        EXPECT_TRUE(writer.Ended());
        std::size_t ended = stream.size();
        writer.Seal(std::span(plain).first(10), stream);
        EXPECT_EQ(stream.size(), ended) << "nothing is sealed after the final record";

        auto open = [cipher](const std::vector<std::uint8_t>& bytes, bool& ok) {
            RecordReader reader(TestKey(1), cipher);
            std::vector<std::uint8_t> opened;
            ok = OpenAll(reader, bytes, opened);
            return reader.Ended();
        };
        bool ok = false;
        EXPECT_TRUE(open(stream, ok));
        EXPECT_TRUE(ok);
        // Cut before the final record (which a long write splits in two): the stream reads well
        // but has not ended, so the cut shows.
        auto items = Items(stream, cipher);
        for (std::size_t cut : {beforeLast, items.back().offset}) {
            EXPECT_FALSE(open(std::vector<std::uint8_t>(stream.begin(), stream.begin() + cut), ok));
            EXPECT_TRUE(ok) << cut;
        }
        // A record after the final one, taken from a stream that goes on, fails.
        RecordWriter going(TestKey(1), cipher);
        std::vector<std::uint8_t> longer;
        going.Seal(std::span(plain).first(100), longer);
        going.Seal(std::span(plain).subspan(100), longer);
        going.Seal(std::span(plain).first(10), longer);
        auto after = stream;
        auto longerItems = Items(longer, cipher);
        after.insert(after.end(), longer.begin() + longerItems.back().offset, longer.end());
        open(after, ok);
        EXPECT_FALSE(ok);
    }
}

TEST(RecordLayer, AesGcmMatchesPublishedVectors) {
    if (!AesGcmAvailable()) GTEST_SKIP() << "no AES instructions here";
    // Test cases 13 and 14 of McGrew and Viega's GCM paper: a zero key and a zero 96-bit nonce,
    // with no plaintext and with 16 zero bytes.
    StreamKey key{};
    std::array<std::uint8_t, crypto_aead_aes256gcm_NPUBBYTES> nonce{};
    std::array<std::uint8_t, 16 + kAesTagBytes> out;
    unsigned long long length = 0;
    crypto_aead_aes256gcm_encrypt(out.data(), &length, nullptr, 0, nullptr, 0, nullptr,
                                  nonce.data(), key.data());
    EXPECT_EQ(test::ToHex(std::vector<std::uint8_t>(out.begin(), out.begin() + length)),
              "530f8afbc74536b9a963b4f1c4cb738b");
    std::array<std::uint8_t, 16> zeros{};
    crypto_aead_aes256gcm_encrypt(out.data(), &length, zeros.data(), zeros.size(), nullptr, 0,
                                  nullptr, nonce.data(), key.data());
    EXPECT_EQ(test::ToHex(std::vector<std::uint8_t>(out.begin(), out.begin() + length)),
              "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");
    // The records' first nonce is the zero one: a record of 16 zero bytes under the zero key
    // carries exactly that ciphertext and tag behind its length.
    RecordWriter writer(key, Cipher::Aes256Gcm);
    std::vector<std::uint8_t> stream;
    writer.Seal(zeros, stream);
    ASSERT_EQ(stream.size(), kRecordLengthBytes + 32);
    EXPECT_EQ(test::ToHex(std::vector<std::uint8_t>(stream.begin(), stream.begin() + 4)),
              "20000000");
    // The ciphertext does not depend on the associated data, only the tag does.
    EXPECT_EQ(test::ToHex(std::vector<std::uint8_t>(stream.begin() + 4, stream.begin() + 20)),
              "cea7403d4d606b6e074ec5d3baf39d18");
}

}  // namespace
}  // namespace mirka::secure
