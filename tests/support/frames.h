#pragma once

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
    std::vector<std::uint8_t> frame(bytes.begin(), bytes.end());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace mirka::test
