#pragma once

#include <cstdint>

#include "link/chat/chat_channel.h"
#include "link/transfer/transfer_engine.h"
#include "link/window_port.h"
#include "link/wire/frame.h"
#include "link/wire/frame_payload.h"

namespace mirka {

// Which handler takes each frame from the peer: the chat, the transfer engine, or the link
// itself (the capability announcement). The link manager routes every frame of its link
// through here, and so do the tests that pair two engines without sockets, so both see one
// table. It keeps no state; I/O thread, as the handlers it calls.
class FrameRouter {
public:
    // What routing needs of the link the frame came on.
    class Source {
    public:
        // What both sides announced (zero until the peer's announcement has come).
        virtual std::uint32_t SharedCapabilities() const = 0;
        // An announcement of the peer: 1 for the link's first, 2 for the second, 3 after.
        virtual int SetPeerCapabilities(std::uint32_t bits) = 0;
        // A frame's handler refused it: the link ends.
        virtual void CloseLink() = 0;

    protected:
        ~Source() = default;
    };

    FrameRouter(ChatChannel& chat, TransferEngine& transfers, WindowSlot& window)
        : chat(chat), transfers(transfers), window(window) {}

    FrameRouter(const FrameRouter&) = delete;
    FrameRouter& operator=(const FrameRouter&) = delete;

    // How the reader gathers the payload of a frame with this header: the bytes each
    // handler reads, so that it is handed its frame whole and never waits for the peer.
    FramePlan PlanOf(const Source& source, const FrameHeader& header) const;
    // Handles one frame whose payload was gathered as PlanOf said; `raw` is its 48 header
    // bytes. False when the link must stop reading.
    bool Route(Source& source, const FrameHeader& header, const std::uint8_t* raw,
               FramePayload& payload);
    // Handles a piece of a data frame (planned as pieces). False when the link must stop.
    bool RoutePiece(Source& source, const FrameHeader& header, const DataPiece& piece);

private:
    // A peer's pause, resume, cancel or deletion of a transfer, for the window's log.
    void TellPeerControl(const FrameHeader& header);

    ChatChannel& chat;
    TransferEngine& transfers;
    WindowSlot& window;
};

}  // namespace mirka
