#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "secure/handshake.h"
#include "secure/record_layer.h"
#include "toolkit/text.h"

// The stream layer of one link when a passphrase is set: the handshake state and, once it
// stands, the sealing side of the records. Without a passphrase it only recognises a peer's
// hello, so that the user hears why the link ends.
namespace mirka {

// Overwrites a secret text before it is let go.
void WipeText(std::u16string& text);

class PrivateLink {
public:
    enum class Mode { Plain, Handshaking, Sealed, Failed };
    // Where a frame read from the peer goes: to the handshake, to the link's owner (its
    // handlers), or nowhere, the link ending at once.
    enum class Route { Handshake, Owner, Refuse };

    PrivateLink() = default;
    PrivateLink(const PrivateLink&) = delete;
    PrivateLink& operator=(const PrivateLink&) = delete;

    // Window thread, once, before the link is read: the link in the given role; returns the
    // hello to send first when there is a passphrase (empty: the original plain wire).
    std::optional<secure::Frame> Begin(secure::Role role, const WString& passphrase,
                                       std::uint8_t flags = secure::OwnHandshakeFlags());
    // A link without a peer (a failed accept): nothing to agree on.
    void BeginWithoutPeer();

    // Any thread from here on.
    Mode CurrentMode() const { return mode.load(); }
    // This link was begun with a passphrase (and so must end sealed or not at all); fixed
    // before the link is read.
    bool Asked() const { return asked; }
    // With a passphrase for this link: nothing may go out in plain text.
    bool UsesPassphrase() const { return CurrentMode() != Mode::Plain; }
    bool Sealing() const { return CurrentMode() == Mode::Sealed; }
    // Sends may go out: no passphrase, or the handshake has ended well.
    bool ReadyToSend() const {
        Mode m = CurrentMode();
        return m == Mode::Plain || m == Mode::Sealed;
    }
    // The handshake has ended, well or not.
    bool Decided() const {
        Mode m = CurrentMode();
        return m == Mode::Sealed || m == Mode::Failed;
    }
    secure::Outcome Result() const;

    // I/O thread: where a received frame header goes, and the handshake's handling of it.
    // Only a link begun without a passphrase, or one sealed, routes frames to the owner. On
    // Established the reader of the peer's records is ready in TakeReader.
    Route RouteOf(const std::uint8_t* frame) const;
    secure::HandshakeStep OnPeerFrame(const std::uint8_t* frame);
    secure::Outcome OnTimeout();
    std::unique_ptr<secure::RecordReader> TakeReader();

    // Appends the records that carry `plain` to `out`. Callers hold the link's queue lock,
    // which keeps the records in the order they reach the socket.
    // The buffer only grows, so that it is not cleared for every write. With End::Final the
    // records end the stream, and nothing is sealed after them.
    void Seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out,
              std::size_t& used, secure::RecordWriter::End end = secure::RecordWriter::End::No);
    // Once sealed: the records' cipher.
    secure::Cipher RecordCipher() const { return recordCipher.load(); }
    // This side has sealed its final record: the link is ending on purpose.
    bool FinalSent() const { return finalSent.load(); }

private:
    void Finish(secure::Outcome outcome);

    // Guards the handshake, the record writer and reader and the outcome. The I/O thread
    // drives the handshake and takes the reader; the record writer seals on the thread that
    // writes (the I/O thread's answers, the pump's frames); the window thread begins the
    // link, reads the outcome, and ends a handshake that the I/O thread is late to end. Held
    // only for one step or one seal, never across a wait; the mode, the cipher and the final
    // mark are atomics beside it, read on every frame.
    mutable std::mutex lock;
    std::unique_ptr<secure::Handshake> handshake;
    std::unique_ptr<secure::RecordWriter> writer;
    std::unique_ptr<secure::RecordReader> reader;
    secure::Outcome outcome = secure::Outcome::Pending;
    std::atomic<Mode> mode{Mode::Plain};
    std::atomic<bool> finalSent{false};
    std::atomic<secure::Cipher> recordCipher{secure::Cipher::XChaCha20Poly1305};
    bool asked = false;
};

}  // namespace mirka
