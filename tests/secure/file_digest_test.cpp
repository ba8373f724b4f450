// The file digest against published BLAKE2b and SHA-256 values, fed whole and in pieces.
#include <gtest/gtest.h>

#include <string>

#include "secure/file_digest.h"
#include "secure/hex_text.h"

namespace mirka::secure {
namespace {

TEST(FileDigest, MatchesPublishedBlake2bValuesInAnyPieces) {
    // BLAKE2b-512("abc") from RFC 7693, appendix A: the library's function itself.
    std::array<std::uint8_t, 64> rfc;
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    crypto_generichash(rfc.data(), rfc.size(), abc, sizeof abc, nullptr, 0);
    EXPECT_EQ(test::ToHex(rfc),
              "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
              "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923");
    // BLAKE2b-256 of the empty input, the digest of an empty file.
    FileHasher hasher;
    EXPECT_EQ(test::ToHex(hasher.Final()),
              "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
    // Pieces of any size give the digest of the whole, and Final starts again.
    std::vector<std::uint8_t> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31);
    FileDigest whole;
    crypto_generichash(whole.data(), whole.size(), bytes.data(), bytes.size(), nullptr, 0);
    for (std::size_t piece : {std::size_t{1}, std::size_t{2048}, std::size_t{65537}}) {
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            hasher.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(hasher.Final(), whole) << piece;
    }
    hasher.Update(bytes.data(), 1);
    EXPECT_NE(hasher.Final(), whole);
}

TEST(FileDigest, MatchesTheNistSha256ExamplesInAnyPiecesAndKeepsItsKind) {
    // FIPS 180-4's examples (NIST's example values): "abc", the 448-bit message, a million
    // 'a', and the empty input.
    struct Example {
        std::string message;
        const char* digest;
    };
    const Example examples[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    };
    FileHasher hasher(DigestKind::Sha256);
    for (const Example& example : examples) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(example.message.data());
        std::size_t size = example.message.size();
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{7}, std::size_t{65537}, std::size_t{256 * 1024}}) {
            for (std::size_t at = 0; at < size; at += piece)
                hasher.Update(bytes + at, std::min(piece, size - at));
            // Final starts again with the same algorithm.
            EXPECT_EQ(test::ToHex(hasher.Final()), example.digest) << size << " by " << piece;
        }
    }
    // A Reset drops what was fed and keeps the algorithm; choosing again switches it.
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    hasher.Update(abc, 1);
    hasher.Reset();
    hasher.Update(abc, sizeof abc);
    EXPECT_EQ(test::ToHex(hasher.Final()), examples[0].digest);
    hasher.Update(abc, 1);
    hasher.Use(DigestKind::Blake2b256);
    EXPECT_EQ(test::ToHex(hasher.Final()),
              "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
    hasher.Use(DigestKind::Sha256);
    EXPECT_EQ(test::ToHex(hasher.Final()), examples[3].digest);
}

}  // namespace
}  // namespace mirka::secure
