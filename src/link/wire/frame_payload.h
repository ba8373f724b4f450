#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mirka {

// How the reader gathers a frame's payload before its handler sees it. Whole: every byte
// first, then one call (the sizes are bounded, so the bytes fit in memory). Pieces: file data,
// handed on as it comes, so that a large frame never waits whole in memory. Skip: a payload
// too long to keep (a folder name past its limit); its bytes are read off and dropped, and
// the handler gets the header alone.
struct FramePlan {
    // The most a frame gathered whole may carry; the link ends rather than gather more.
    static constexpr std::uint32_t kMostWholeBytes = 2 * 1024 * 1024;
    enum class Kind { Whole, Pieces, Skip };
    Kind kind = Kind::Whole;
    std::uint32_t bytes = 0;
};

// The whole payload of the frame being handled, already read. Only during the handling of
// that one frame: the bytes belong to the reader.
class FramePayload {
public:
    FramePayload() = default;
    FramePayload(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    // Copies the next n bytes; false when the frame has fewer left (its handler read more
    // than the frame's plan gave it: the link ends).
    bool Read(void* destination, std::size_t n) {
        if (size - at < n) return false;
        if (n > 0) std::memcpy(destination, data + at, n);
        at += n;
        return true;
    }

private:
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
};

// A piece of a data frame's payload, as it came from the peer. `first` and `last` mark the
// frame's first and last pieces (a frame of no bytes is one piece that is both).
struct DataPiece {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    bool first = true;
    bool last = true;
};

}  // namespace mirka
