#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/frame.h"

// A whole frame as bytes: the 48-byte header with its code and fields, then the payload.
// For raw peers, fault tests and fuzz seeds.
namespace mirka::test {

inline std::vector<std::uint8_t> EncodeFrame(std::uint16_t code, std::uint32_t task,
                                             std::uint32_t length,
                                             const std::vector<std::uint8_t>& payload = {}) {
    FrameHeader header;
    header.code = code;
    header.taskField = task;
    header.lengthField = length;
    auto bytes = header.Encode();
    // Sized once and copied into: gcc 12 takes an insert after the header for a write past
    // its 48 bytes (a false -Warray-bounds, an error in CI).
    std::vector<std::uint8_t> frame(bytes.size() + payload.size());
    std::copy(bytes.begin(), bytes.end(), frame.begin());
    std::copy(payload.begin(), payload.end(),
              frame.begin() + static_cast<std::ptrdiff_t>(bytes.size()));
    return frame;
}

}  // namespace mirka::test
