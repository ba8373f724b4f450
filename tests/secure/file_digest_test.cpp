// The file digest against published BLAKE2b values, fed whole and in pieces.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mirka::secure
