#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// CPace over ristretto255 with SHA-512 (CFRG draft "CPace, a balanced composable PAKE",
// cipher suite CPACE-RISTR255-SHA512), composed from libsodium's group and hash functions.
// The names follow the draft's; the step functions are public so that the tests can check
// each one against the draft's published test vectors.
namespace mirka::secure {

using ByteVector = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

inline constexpr std::size_t kElementBytes = 32;  // an encoded ristretto255 element
inline constexpr std::size_t kScalarBytes = 32;
inline constexpr std::size_t kHashBytes = 64;        // SHA-512: H.b_in_bytes
inline constexpr std::size_t kHashBlockBytes = 128;  // SHA-512: H.s_in_bytes

using Element = std::array<std::uint8_t, kElementBytes>;
using Scalar = std::array<std::uint8_t, kScalarBytes>;
using Hash = std::array<std::uint8_t, kHashBytes>;

// G_Ristretto255.DSI.
ByteSpan RistrettoDsi();

// Appendix A.1: the LEB128 length, then the bytes; lv_cat of several strings.
ByteVector PrependLen(ByteSpan data);
ByteVector LvCat(std::initializer_list<ByteSpan> parts);

// Section 8.1 / A.2: lv_cat(DSI, PRS, zero_bytes(len_zpad), CI, sid).
ByteVector GeneratorString(ByteSpan dsi, ByteSpan prs, ByteSpan ci, ByteSpan sid,
                           std::size_t sInBytes);

// Section 8.3: the generator string hashed to 64 bytes, then ristretto255's element
// derivation (libsodium's from_hash). Returns the encoded generator.
Element CalculateGenerator(ByteSpan prs, ByteSpan ci, ByteSpan sid);

// Section 8.3: a scalar uniform in 1 .. group_order - 1.
Scalar SampleScalar();

// G.scalar_mult_vfy: false (G.I) when the point does not decode or the product is the
// neutral element. G.scalar_mult on an encoded generator is the same operation.
bool ScalarMultVfy(const Scalar& y, const Element& point, Element& result);

// Section 6.3 / A.3.4: lv_cat(Ya, ADa) || lv_cat(Yb, ADb).
ByteVector TranscriptIr(ByteSpan ya, ByteSpan ada, ByteSpan yb, ByteSpan adb);

// Section 7.2: ISK = H(lv_cat(DSI || "_ISK", sid, K) || transcript).
Hash IntermediateSessionKey(ByteSpan sid, const Element& k, ByteSpan transcript);

// Section 10.6: sid_output = H("CPaceSidOutput" || transcript).
Hash SidOutput(ByteSpan transcript);

// SHA-512 of the concatenated parts.
Hash Sha512(std::initializer_list<ByteSpan> parts);

inline ByteSpan AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace mirka::secure
