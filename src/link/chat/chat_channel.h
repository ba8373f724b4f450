#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include <boost/asio/buffer.hpp>

#include "common/chat_font.h"
#include "common/program_values.h"
#include "link/transport/peer_link.h"
#include "link/transport/pump_command.h"
#include "link/window_port.h"
#include "link/wire/frame.h"
#include "link/wire/frame_payload.h"

namespace mirka {

// Received chat and status texts above this are taken for a broken stream: the link closes.
inline constexpr std::uint32_t kMaxTextPayloadBytes = 1024 * 1024;

// What the chat channel needs of the link it runs on.
class ChatLink {
public:
    // Any thread: runs the command on the pump thread.
    virtual void PostCommand(PumpCommand command) = 0;
    // Any thread: one unit of whole frames to the peer; `last` makes it this side's last
    // write (on a private link, the final record). False when the link is gone.
    virtual bool WriteToPeer(const std::vector<boost::asio::const_buffer>& parts,
                             PeerLink::Last last) = 0;
    // Any thread: closes the link.
    virtual void CloseLink() = 0;

protected:
    ~ChatLink() = default;
};

// The chat of a link manager: chat lines, text lines and status messages both ways, and the
// disconnect request. It keeps nothing between calls but what it was made with.
// Threads: the Queue members from any thread (the window's, mostly); what they queue, and
// SendDisconnectRequest, run on the pump as commands; the On members run on the I/O thread
// while it handles the frame.
class ChatChannel {
public:
    ChatChannel(ChatLink& link, WindowSlot& window, ProgramValues& values)
        : link(link), window(window), values(values) {}

    ChatChannel(const ChatChannel&) = delete;
    ChatChannel& operator=(const ChatChannel&) = delete;

    // Any thread: a chat line with its sender's name and the time, a line of text as it
    // stands, or this user's status, sent on the pump.
    void QueueChatLine(const WString& text, const WString& name);
    void QueueTextLine(const WString& text);
    void QueueStatusMessage(const WString& statusText);
    // Pump thread: asks the peer to end the link; this side's last write.
    void SendDisconnectRequest();

    // The payload bytes a chat or status frame with this header carries, which its handler
    // reads; zero for a text past the limit, which ends the link.
    static std::uint32_t PayloadBytes(const FrameHeader& header);
    // I/O thread: a chat or status frame from the peer, its payload whole; false when the
    // link must stop reading.
    bool OnChatLine(const FrameHeader& header, FramePayload& payload);
    bool OnStatusMessage(const FrameHeader& header, FramePayload& payload);
    // I/O thread: the peer asked to end the link.
    void OnDisconnectReceived();

private:
    // Pump thread.
    void SendChatLine(const WString& name, const WString& text);
    void SendTextLine(const WString& text);
    void SendStatusMessage(const WString& statusText);
    bool WriteFrame(const FrameHeader& header,
                    std::initializer_list<boost::asio::const_buffer> payload);
    void AppendLog(const CharFormat* style, WStringView text);

    ChatLink& link;
    WindowSlot& window;
    ProgramValues& values;
};

}  // namespace mirka
