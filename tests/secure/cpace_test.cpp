// CPace steps against the test vectors the CFRG draft publishes for CPACE-RISTR255-SHA512
// (appendix B.3) and for its string functions (appendix A).
#include <gtest/gtest.h>

#include "secure/cpace.h"
#include "secure/hex_text.h"

namespace mirka::secure {
namespace {

using test::FromHex;
using test::ToHex;

template <typename Array>
Array ArrayFromHex(std::string_view text) {
    auto bytes = FromHex(text);
    Array out{};
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

const ByteVector kPrs = FromHex("50617373776f7264");  // b"Password"
const ByteVector kCi = FromHex("0b415f696e69746961746f720b425f726573706f6e646572");
const ByteVector kSid = FromHex("7e4b4791d6a8ef019b936c79fb7f2c57");
const ByteVector kAda = FromHex("414461");
const ByteVector kAdb = FromHex("414462");
const char kYa[] = "da3d23700a9e5699258aef94dc060dfda5ebb61f02a5ea77fad53f4ff0976d08";
const char kYb[] = "d2316b454718c35362d83d69df6320f38578ed5984651435e2949762d900b80d";
const char kShareA[] = "d6bac480f2c386c394efc7c47adb9925dcd2630b64f240c50f8d0eec482b9157";
const char kShareB[] = "3ea7e0b19560d7c0b0f5734f63b955286dfa8232b5ebe63324e2d9e7433f7258";
const char kK[] = "80b69a8a76457ab6a4d7f887a4bf6b55a2f80ac19c333f917a05fc9887c8b40f";

TEST(CPaceVectors, StringFunctions) {
    EXPECT_EQ(ToHex(PrependLen({})), "00");
    EXPECT_EQ(ToHex(PrependLen(AsBytes("1234"))), "0431323334");
    ByteVector range128(128);
    for (int i = 0; i < 128; ++i) range128[i] = static_cast<std::uint8_t>(i);
    ByteVector long127 = PrependLen(ByteSpan(range128).first(127));
    EXPECT_EQ(long127.size(), 128u);
    EXPECT_EQ(long127[0], 0x7f);
    ByteVector long128 = PrependLen(range128);
    EXPECT_EQ(long128.size(), 130u);
    EXPECT_EQ(ToHex(ByteSpan(long128).first(4)), "80010001");
    EXPECT_EQ(ToHex(LvCat({AsBytes("1234"), AsBytes("5"), {}, AsBytes("678")})),
              "043132333401350003363738");
    EXPECT_EQ(
        ToHex(TranscriptIr(AsBytes("123"), AsBytes("PartyA"), AsBytes("234"), AsBytes("PartyB"))),
        "03313233065061727479410332333406506172747942");
    EXPECT_EQ(
        ToHex(TranscriptIr(AsBytes("3456"), AsBytes("PartyA"), AsBytes("2345"), AsBytes("PartyB"))),
        "043334353606506172747941043233343506506172747942");
}

TEST(CPaceVectors, GeneratorOfRistretto255) {
    ByteVector genString = GeneratorString(RistrettoDsi(), kPrs, kCi, kSid, kHashBlockBytes);
    EXPECT_EQ(genString.size(), 170u);
    EXPECT_EQ(
        ToHex(genString),
        "11435061636552697374726574746f3235350850617373776f726464" + std::string(200, '0') +
            "180b415f696e69746961746f720b425f726573706f6e646572107e4b4791d6a8ef019b936c79fb7f2c57");
    EXPECT_EQ(
        ToHex(Sha512({genString})),
        "da6d3ddc8802fca9058755ffd3ebde08a9c2c74945901a258482a288b6663af06bf645c93cd1c51512307199"
        "c80e84908916d983b34af77205f90851a657ee27");
    EXPECT_EQ(ToHex(CalculateGenerator(kPrs, kCi, kSid)),
              "222b6b195fe84b1652badb6f6a3ae3d24341e7306967f0b8115b40d5698c7e56");
}

TEST(CPaceVectors, SharesSecretPointAndSessionKey) {
    Element g = CalculateGenerator(kPrs, kCi, kSid);
    Element ya, yb, ka, kb;
    ASSERT_TRUE(ScalarMultVfy(ArrayFromHex<Scalar>(kYa), g, ya));
    ASSERT_TRUE(ScalarMultVfy(ArrayFromHex<Scalar>(kYb), g, yb));
    EXPECT_EQ(ToHex(ya), kShareA);
    EXPECT_EQ(ToHex(yb), kShareB);
    ASSERT_TRUE(ScalarMultVfy(ArrayFromHex<Scalar>(kYa), yb, ka));
    ASSERT_TRUE(ScalarMultVfy(ArrayFromHex<Scalar>(kYb), ya, kb));
    EXPECT_EQ(ToHex(ka), kK);
    EXPECT_EQ(ToHex(kb), kK);

    ByteVector transcript = TranscriptIr(ya, kAda, yb, kAdb);
    EXPECT_EQ(ToHex(transcript),
              std::string("20") + kShareA + "03414461" + "20" + kShareB + "03414462");
    EXPECT_EQ(
        ToHex(IntermediateSessionKey(kSid, ka, transcript)),
        "b69effbf61b51d56401c0f65601abe428de8206feaaf0e32198896dcae7b35cd2b38950a39dfd5d4a7916461"
        "4c2984f7daa460b588c1e80c3fa2068af7900447");
    EXPECT_EQ(
        ToHex(SidOutput(transcript)),
        "bb1c449b35f0ea79a65c209f329a693d475e0ce2387bed9fe4b78f60b2a27c219813fb2cfe175ef40d2222d9"
        "261e66da7d78f7c55a303b1b8611dcdfab880c47");
}

TEST(CPaceVectors, ScalarMultVerifiesItsInput) {
    auto s =
        ArrayFromHex<Scalar>("7cd0e075fa7955ba52c02759a6c90dbbfc10e6d40aea8d283e407d88cf538a05");
    Element out;
    ASSERT_TRUE(ScalarMultVfy(
        s,
        ArrayFromHex<Element>("2c3c6b8c4f3800e7aef6864025b4ed79bd599117e427c41bd47d93d654b4a51c"),
        out));
    EXPECT_EQ(ToHex(out), "7c13645fe790a468f62c39beb7388e541d8405d1ade69d1778c5fe3e7f6b600e");
    // A string that does not decode, and the neutral element, give G.I: the run aborts.
    EXPECT_FALSE(ScalarMultVfy(
        s,
        ArrayFromHex<Element>("2b3c6b8c4f3800e7aef6864025b4ed79bd599117e427c41bd47d93d654b4a51c"),
        out));
    EXPECT_EQ(ToHex(out), std::string(64, '0'));
    EXPECT_FALSE(ScalarMultVfy(s, Element{}, out));
}

}  // namespace
}  // namespace mirka::secure
