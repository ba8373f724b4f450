#include "link/transport/private_link.h"

#include <sodium.h>

namespace mirka {

void WipeText(std::u16string& text) {
    if (!text.empty()) sodium_memzero(text.data(), text.size() * sizeof(char16_t));
    text.clear();
}

std::optional<secure::Frame> PrivateLink::Begin(secure::Role role, const WString& passphrase,
                                                std::uint8_t flags) {
    std::lock_guard<std::mutex> guard(lock);
    // Reserved in full first: a growing string would leave unwiped copies of the passphrase.
    std::string prs;
    prs.reserve(passphrase.size() * kMaxUtf8BytesPerUnit);
    AppendUtf8(passphrase, prs);
    handshake = std::make_unique<secure::Handshake>(
        role, secure::ByteSpan(reinterpret_cast<const std::uint8_t*>(prs.data()), prs.size()),
        flags);
    if (!prs.empty()) sodium_memzero(prs.data(), prs.size());
    asked = handshake->HasPassphrase();
    if (!asked) return std::nullopt;
    mode = Mode::Handshaking;
    return handshake->Hello();
}

void PrivateLink::BeginWithoutPeer() {
    std::lock_guard<std::mutex> guard(lock);
    handshake.reset();
}

secure::Outcome PrivateLink::Result() const {
    std::lock_guard<std::mutex> guard(lock);
    return outcome;
}

PrivateLink::Route PrivateLink::RouteOf(const std::uint8_t* frame) const {
    // Asked for every frame: the common cases go without the lock.
    switch (mode.load()) {
        case Mode::Sealed:
            return Route::Owner;  // opened from records that passed their check
        case Mode::Handshaking:
            return Route::Handshake;  // every frame until the handshake is decided
        case Mode::Failed:
            return Route::Refuse;
        case Mode::Plain:
            break;
    }
    // No passphrase here: only a peer's hello is the handshake's, to be answered.
    if (!secure::IsHandshakeFrame(frame)) return Route::Owner;
    std::lock_guard<std::mutex> guard(lock);
    return handshake && handshake->Takes(frame) ? Route::Handshake : Route::Owner;
}

void PrivateLink::Finish(secure::Outcome result) {
    if (result == secure::Outcome::Pending) return;
    outcome = result;
    if (result == secure::Outcome::Established) {
        secure::Cipher cipher = handshake->RecordCipher();
        writer = std::make_unique<secure::RecordWriter>(handshake->Keys().send, cipher);
        reader = std::make_unique<secure::RecordReader>(handshake->Keys().receive, cipher);
        recordCipher = cipher;
        mode = Mode::Sealed;
    } else {
        mode = Mode::Failed;
    }
    // Whatever the outcome, what the passphrase gave (scalar, keys, tags) goes now.
    handshake.reset();
}

secure::HandshakeStep PrivateLink::OnPeerFrame(const std::uint8_t* frame) {
    std::lock_guard<std::mutex> guard(lock);
    if (!handshake) return {};
    secure::HandshakeStep step = handshake->OnPeerFrame(frame);
    Finish(step.outcome);
    return step;
}

secure::Outcome PrivateLink::OnTimeout() {
    std::lock_guard<std::mutex> guard(lock);
    if (mode != Mode::Handshaking || !handshake) return outcome;
    Finish(handshake->OnTimeout());
    return outcome;
}

std::unique_ptr<secure::RecordReader> PrivateLink::TakeReader() {
    std::lock_guard<std::mutex> guard(lock);
    return std::move(reader);
}

void PrivateLink::Seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out,
                       std::size_t& used, secure::RecordWriter::End end) {
    std::lock_guard<std::mutex> guard(lock);
    used = 0;
    if (!writer) return;
    std::size_t need = writer->SealedSize(plain.size());
    if (out.size() < need) out.resize(need);
    used = writer->Seal(plain, out.data(), end);
    if (writer->Ended()) finalSent = true;
}

}  // namespace mirka
