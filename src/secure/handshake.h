#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "secure/cpace.h"
#include "secure/record_layer.h"

// The private link's handshake, on 48-byte header-only frames whose code lies outside the
// original code table (an original peer skips them by reading only their header).
//
// Frame: code (2 bytes), two bytes left zero, then an 8-byte magic, a 16-bit version, a
// kind byte, a flags byte and a 32-byte body: the CPace share of a hello, the confirmation
// tag of a confirm, zero in a "no passphrase" answer.
//
// With a passphrase both sides send their hello at once; a hello from the peer gives the
// intermediate session key, and each side then sends its confirmation tag. The client is
// CPace's initiator, the server its responder (initiator-responder transcript). A copy
// without a passphrase answers a hello with "no passphrase".
//
// Works on byte buffers only, so two instances can run back to back without sockets.
namespace mirka::secure {

inline constexpr std::size_t kFrameBytes = 48;
inline constexpr std::uint16_t kHandshakeCode = 0x4B50;
inline constexpr std::uint16_t kHandshakeVersion = 1;
using Frame = std::array<std::uint8_t, kFrameBytes>;

enum class HandshakeKind : std::uint8_t { Hello = 1, NoPassphrase = 2, Confirm = 3 };
// The hello's flags byte, part of the transcript (an attacker who changes it fails the
// confirmation). Records use AES-256-GCM when both hellos offer it.
enum HandshakeFlag : std::uint8_t { kOffersAes = 1 };
// What this machine offers: AES-256-GCM where the processor runs it.
std::uint8_t OwnHandshakeFlags();
enum class Role { Initiator, Responder };

enum class Outcome {
    Pending,
    Established,
    WrongPassphrase,      // the confirmation tags differ
    PeerHasNoPassphrase,  // a "no passphrase" answer, another frame, or silence
    PeerWantsPassphrase,  // a hello reached a copy without a passphrase
    Broken,               // a malformed or reflected handshake frame or share
};

struct HandshakeStep {
    std::optional<Frame> reply;
    Outcome outcome = Outcome::Pending;
};

struct StreamKeys {
    StreamKey send{};
    StreamKey receive{};
};

// Builds a handshake frame; for tests and raw peers too.
Frame MakeHandshakeFrame(HandshakeKind kind, const std::array<std::uint8_t, 32>& body = {},
                         std::uint8_t flags = 0);
bool IsHandshakeFrame(const std::uint8_t* frame);

class Handshake {
public:
    // An empty passphrase: this side sends no hello and only answers the peer's. `flags`
    // go in the hello (a machine without AES hardware offers none).
    Handshake(Role role, ByteSpan passphrase, std::uint8_t flags = OwnHandshakeFlags());
    // The same with a given scalar instead of a random one, for tests.
    Handshake(Role role, ByteSpan passphrase, const Scalar& scalar, std::uint8_t flags = 0);
    ~Handshake();
    Handshake(const Handshake&) = delete;
    Handshake& operator=(const Handshake&) = delete;

    bool HasPassphrase() const { return hasPassphrase; }
    // The first frame to send (only with a passphrase).
    const Frame& Hello() const { return hello; }
    // Whether this frame from the peer is the handshake's to handle: with a passphrase every
    // frame until the outcome; without one, the handshake frames.
    bool Takes(const std::uint8_t* frame) const;
    HandshakeStep OnPeerFrame(const std::uint8_t* frame);
    // The deadline passed: silence before any frame means an original peer.
    Outcome OnTimeout();
    Outcome Result() const { return outcome; }
    // After Established: the keys of the two record streams, and their cipher.
    const StreamKeys& Keys() const { return keys; }
    Cipher RecordCipher() const { return cipher; }

private:
    HandshakeStep OnHello(const std::uint8_t* frame);
    HandshakeStep OnConfirm(const std::uint8_t* frame);
    HandshakeStep End(Outcome result);
    // Wipes what the passphrase gave but the stream keys.
    void WipeSecrets();

    Role role;
    bool hasPassphrase;
    Scalar scalar{};
    Frame hello{};
    bool confirmSent = false;
    Outcome outcome = Outcome::Pending;
    Cipher cipher = Cipher::XChaCha20Poly1305;
    std::array<std::uint8_t, 32> ownTag{};
    std::array<std::uint8_t, 32> expectedTag{};
    StreamKeys keys;
};

}  // namespace mirka::secure
