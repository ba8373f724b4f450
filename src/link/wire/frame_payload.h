#pragma once

#include <cstddef>
#include <cstdint>

namespace mirka {

// The payload of the frame being handled, as its handler reads it. I/O thread only, and only
// during the handling of that one frame: the bytes come straight from the link's receive
// buffer and socket.
class FramePayload {
public:
    // Blocking read of exactly n payload bytes; false ends the link.
    virtual bool Read(void* destination, std::size_t n) = 0;
    // The next n payload bytes where they already lie in the receive buffer, or null when
    // fewer have come; the caller consumes them once it is done with them.
    virtual const std::uint8_t* Buffered(std::size_t n) = 0;
    virtual void Consume(std::size_t n) = 0;

protected:
    ~FramePayload() = default;
};

}  // namespace mirka
