#pragma once

#include "link/gate/handshake_gate.h"
#include "link/transport/peer_link.h"
#include "link/wire/frame_payload.h"

namespace mirka {

// The payload of the frame a PeerLink is handling, read from its receive buffer and socket.
// A read that fails because a sealed record broke or the stream was cut goes to the gate, so
// the user hears why the link ended. I/O thread; made on the stack for each frame.
class LinkPayload final : public FramePayload {
public:
    LinkPayload(PeerLink& link, HandshakeGate& gate) : link(link), gate(gate) {}

    bool Read(void* destination, std::size_t n) override;
    const std::uint8_t* Buffered(std::size_t n) override;
    void Consume(std::size_t n) override;

private:
    PeerLink& link;
    HandshakeGate& gate;
};

}  // namespace mirka
