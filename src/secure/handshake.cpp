#include "secure/handshake.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <sodium.h>

#include "secure/sodium_init.h"

namespace mirka::secure {

namespace {

constexpr std::size_t kMagicOffset = 4;
constexpr std::size_t kVersionOffset = 12;
constexpr std::size_t kKindOffset = 14;
constexpr std::size_t kFlagsOffset = 15;
constexpr std::size_t kBodyOffset = 16;
constexpr std::size_t kAdBytes = kBodyOffset - kMagicOffset;  // magic, version, kind, flags
constexpr std::string_view kMagic = "MIRKA-PL";
// CPace's channel identifier: the program and the version of this handshake.
constexpr std::string_view kChannelId = "mirka private link 1";
constexpr std::string_view kKdfContext = "MirkaLnk";
constexpr std::uint64_t kInitiatorStreamId = 1;  // client to server
constexpr std::uint64_t kResponderStreamId = 2;  // server to client

std::uint16_t Code(const std::uint8_t* frame) {
    return static_cast<std::uint16_t>(frame[0] | frame[1] << 8);
}

using Tag = std::array<std::uint8_t, 32>;

Tag ConfirmationTag(const Hash& macKey, Role role, const Hash& sidOutput) {
    // Section 10.4 of the draft, with the tag over the role and sid_output, which covers
    // both shares: a tag cannot be reflected back, nor moved to another session.
    ByteVector message =
        LvCat({AsBytes(role == Role::Initiator ? "initiator" : "responder"), sidOutput});
    crypto_auth_hmacsha512256_state state;
    crypto_auth_hmacsha512256_init(&state, macKey.data(), macKey.size());
    crypto_auth_hmacsha512256_update(&state, message.data(), message.size());
    Tag tag;
    crypto_auth_hmacsha512256_final(&state, tag.data());
    sodium_memzero(&state, sizeof state);
    return tag;
}

}  // namespace

std::uint8_t OwnHandshakeFlags() {
    return AesGcmAvailable() ? kOffersAes : 0;
}

Frame MakeHandshakeFrame(HandshakeKind kind, const std::array<std::uint8_t, 32>& body,
                         std::uint8_t flags) {
    Frame frame{};
    frame[0] = static_cast<std::uint8_t>(kHandshakeCode);
    frame[1] = static_cast<std::uint8_t>(kHandshakeCode >> 8);
    std::memcpy(frame.data() + kMagicOffset, kMagic.data(), kMagic.size());
    frame[kVersionOffset] = static_cast<std::uint8_t>(kHandshakeVersion);
    frame[kVersionOffset + 1] = static_cast<std::uint8_t>(kHandshakeVersion >> 8);
    frame[kKindOffset] = static_cast<std::uint8_t>(kind);
    frame[kFlagsOffset] = flags;
    std::copy(body.begin(), body.end(), frame.begin() + kBodyOffset);
    return frame;
}

bool IsHandshakeFrame(const std::uint8_t* frame) {
    return Code(frame) == kHandshakeCode;
}

Handshake::Handshake(Role role, ByteSpan passphrase, std::uint8_t flags)
    : Handshake(role, passphrase, SampleScalar(), flags) {}

Handshake::Handshake(Role role, ByteSpan passphrase, const Scalar& y, std::uint8_t flags)
    : role(role), hasPassphrase(!passphrase.empty()), scalar(y) {
    EnsureSodium();
    if (!hasPassphrase) return;
    // Section 7.2: no session id is agreed beforehand; sid_output from both shares
    // identifies the session afterwards.
    // The generator follows from the passphrase alone: it is needed for the share only.
    Element generator = CalculateGenerator(passphrase, AsBytes(kChannelId), {});
    Element share;
    if (!ScalarMultVfy(scalar, generator, share)) share.fill(0);  // cannot happen for y != 0
    sodium_memzero(generator.data(), generator.size());
    hello = MakeHandshakeFrame(HandshakeKind::Hello, share, flags);
}

Handshake::~Handshake() {
    WipeSecrets();
    sodium_memzero(&keys, sizeof keys);
}

void Handshake::WipeSecrets() {
    sodium_memzero(scalar.data(), scalar.size());
    sodium_memzero(ownTag.data(), ownTag.size());
    sodium_memzero(expectedTag.data(), expectedTag.size());
}

bool Handshake::Takes(const std::uint8_t* frame) const {
    if (hasPassphrase) return outcome == Outcome::Pending;
    return IsHandshakeFrame(frame);
}

HandshakeStep Handshake::End(Outcome result) {
    outcome = result;
    WipeSecrets();
    if (result != Outcome::Established) sodium_memzero(&keys, sizeof keys);
    HandshakeStep step;
    step.outcome = result;
    return step;
}

HandshakeStep Handshake::OnPeerFrame(const std::uint8_t* frame) {
    if (outcome != Outcome::Pending) return End(outcome);
    bool ours = IsHandshakeFrame(frame) &&
                std::memcmp(frame + kMagicOffset, kMagic.data(), kMagic.size()) == 0;
    auto kind = static_cast<HandshakeKind>(frame[kKindOffset]);
    if (!hasPassphrase) {
        // A hello asks for a passphrase this side does not have: say so, and end.
        if (ours && kind == HandshakeKind::Hello) {
            HandshakeStep step = End(Outcome::PeerWantsPassphrase);
            step.reply = MakeHandshakeFrame(HandshakeKind::NoPassphrase);
            return step;
        }
        return {};  // skipped like any other unknown code
    }
    if (!ours) {
        // Before the hello, anything else means a peer without a passphrase.
        return End(confirmSent ? Outcome::Broken : Outcome::PeerHasNoPassphrase);
    }
    std::uint16_t version =
        static_cast<std::uint16_t>(frame[kVersionOffset] | frame[kVersionOffset + 1] << 8);
    if (version != kHandshakeVersion) return End(Outcome::Broken);
    if (!confirmSent) {
        if (kind == HandshakeKind::Hello) return OnHello(frame);
        if (kind == HandshakeKind::NoPassphrase) return End(Outcome::PeerHasNoPassphrase);
        return End(Outcome::Broken);
    }
    if (kind == HandshakeKind::Confirm) return OnConfirm(frame);
    return End(Outcome::Broken);
}

HandshakeStep Handshake::OnHello(const std::uint8_t* frame) {
    Element peerShare;
    std::copy(frame + kBodyOffset, frame + kFrameBytes, peerShare.begin());
    // Our own hello sent back proves nothing about the peer.
    if (std::equal(peerShare.begin(), peerShare.end(), hello.begin() + kBodyOffset))
        return End(Outcome::Broken);
    Element k;
    // Section 7.2: abort when K is the neutral element or the share does not decode.
    if (!ScalarMultVfy(scalar, peerShare, k)) return End(Outcome::Broken);
    bool initiator = role == Role::Initiator;
    ByteSpan ownShare(hello.data() + kBodyOffset, kElementBytes);
    ByteSpan ownAd(hello.data() + kMagicOffset, kAdBytes);
    ByteSpan peerAd(frame + kMagicOffset, kAdBytes);
    ByteVector transcript = initiator ? TranscriptIr(ownShare, ownAd, peerShare, peerAd)
                                      : TranscriptIr(peerShare, peerAd, ownShare, ownAd);
    Hash isk = IntermediateSessionKey({}, k, transcript);
    Hash sidOutput = SidOutput(transcript);
    // Section 10.4: mac_key = H("CPaceMac" || sid || ISK), with sid_output as the sid.
    Hash macKey = Sha512({AsBytes("CPaceMac"), sidOutput, isk});
    ownTag = ConfirmationTag(macKey, role, sidOutput);
    expectedTag = ConfirmationTag(macKey, initiator ? Role::Responder : Role::Initiator, sidOutput);

    // Section 10.3: ISK goes through a key derivation before use. Master key: ISK hashed
    // with sid_output as the key; one subkey per direction.
    std::array<std::uint8_t, crypto_kdf_KEYBYTES> master;
    crypto_generichash(master.data(), master.size(), isk.data(), isk.size(), sidOutput.data(),
                       sidOutput.size());
    StreamKey initiatorKey, responderKey;
    crypto_kdf_derive_from_key(initiatorKey.data(), initiatorKey.size(), kInitiatorStreamId,
                               kKdfContext.data(), master.data());
    crypto_kdf_derive_from_key(responderKey.data(), responderKey.size(), kResponderStreamId,
                               kKdfContext.data(), master.data());
    keys.send = initiator ? initiatorKey : responderKey;
    keys.receive = initiator ? responderKey : initiatorKey;
    // Both hellos, flags included, are in the transcript: a changed flag fails the tags.
    bool bothOfferAes = (hello[kFlagsOffset] & frame[kFlagsOffset] & kOffersAes) != 0;
    cipher = bothOfferAes ? Cipher::Aes256Gcm : Cipher::XChaCha20Poly1305;

    sodium_memzero(k.data(), k.size());
    sodium_memzero(isk.data(), isk.size());
    sodium_memzero(macKey.data(), macKey.size());
    sodium_memzero(master.data(), master.size());
    sodium_memzero(initiatorKey.data(), initiatorKey.size());
    sodium_memzero(responderKey.data(), responderKey.size());
    sodium_memzero(scalar.data(), scalar.size());  // never reused (section 10.9)

    confirmSent = true;
    HandshakeStep step;
    step.reply = MakeHandshakeFrame(HandshakeKind::Confirm, ownTag);
    return step;
}

HandshakeStep Handshake::OnConfirm(const std::uint8_t* frame) {
    // Our own tag sent back is a reflection, not another passphrase.
    if (crypto_verify_32(frame + kBodyOffset, ownTag.data()) == 0) return End(Outcome::Broken);
    if (crypto_verify_32(frame + kBodyOffset, expectedTag.data()) != 0)
        return End(Outcome::WrongPassphrase);
    return End(Outcome::Established);
}

Outcome Handshake::OnTimeout() {
    if (outcome == Outcome::Pending && hasPassphrase)
        End(confirmSent ? Outcome::Broken : Outcome::PeerHasNoPassphrase);
    return outcome;
}

}  // namespace mirka::secure
