#include "secure/cpace.h"

#include <algorithm>
#include <string_view>

#include <sodium.h>

#include "secure/sodium_init.h"

namespace mirka::secure {

namespace {
constexpr std::string_view kDsi = "CPaceRistretto255";
}  // namespace

ByteSpan RistrettoDsi() {
    return AsBytes(kDsi);
}

ByteVector PrependLen(ByteSpan data) {
    ByteVector out;
    std::size_t length = data.size();
    do {
        std::uint8_t low = static_cast<std::uint8_t>(length & 0x7f);
        length >>= 7;
        out.push_back(length ? static_cast<std::uint8_t>(low | 0x80) : low);
    } while (length);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

ByteVector LvCat(std::initializer_list<ByteSpan> parts) {
    ByteVector out;
    for (ByteSpan part : parts) {
        ByteVector encoded = PrependLen(part);
        out.insert(out.end(), encoded.begin(), encoded.end());
    }
    return out;
}

ByteVector GeneratorString(ByteSpan dsi, ByteSpan prs, ByteSpan ci, ByteSpan sid,
                           std::size_t sInBytes) {
    // The padding fills the first hash block after DSI and PRS, so that the block holding
    // the passphrase has the same length whatever the passphrase's length.
    std::size_t used = PrependLen(prs).size() + PrependLen(dsi).size() + 1;
    ByteVector zeros(sInBytes > used ? sInBytes - used : 0, 0);
    return LvCat({dsi, prs, zeros, ci, sid});
}

Hash Sha512(std::initializer_list<ByteSpan> parts) {
    EnsureSodium();
    crypto_hash_sha512_state state;
    crypto_hash_sha512_init(&state);
    for (ByteSpan part : parts) crypto_hash_sha512_update(&state, part.data(), part.size());
    Hash out;
    crypto_hash_sha512_final(&state, out.data());
    sodium_memzero(&state, sizeof state);
    return out;
}

Element CalculateGenerator(ByteSpan prs, ByteSpan ci, ByteSpan sid) {
    ByteVector genString = GeneratorString(RistrettoDsi(), prs, ci, sid, kHashBlockBytes);
    Hash genHash = Sha512({genString});
    Element g;
    crypto_core_ristretto255_from_hash(g.data(), genHash.data());
    sodium_memzero(genString.data(), genString.size());
    sodium_memzero(genHash.data(), genHash.size());
    return g;
}

Scalar SampleScalar() {
    EnsureSodium();
    Scalar y;
    crypto_core_ristretto255_scalar_random(y.data());
    return y;
}

bool ScalarMultVfy(const Scalar& y, const Element& point, Element& result) {
    EnsureSodium();
    // libsodium refuses a point that does not decode and a product that is the identity.
    if (crypto_scalarmult_ristretto255(result.data(), y.data(), point.data()) != 0) {
        result.fill(0);
        return false;
    }
    return true;
}

ByteVector TranscriptIr(ByteSpan ya, ByteSpan ada, ByteSpan yb, ByteSpan adb) {
    ByteVector out = LvCat({ya, ada});
    ByteVector second = LvCat({yb, adb});
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

Hash IntermediateSessionKey(ByteSpan sid, const Element& k, ByteSpan transcript) {
    std::string dsiIsk(kDsi);
    dsiIsk += "_ISK";
    ByteVector prefix = LvCat({AsBytes(dsiIsk), sid, k});
    Hash isk = Sha512({prefix, transcript});
    sodium_memzero(prefix.data(), prefix.size());
    return isk;
}

Hash SidOutput(ByteSpan transcript) {
    return Sha512({AsBytes("CPaceSidOutput"), transcript});
}

}  // namespace mirka::secure
