#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/chat_font.h"
#include "link/wire/frame.h"
#include "toolkit/little_endian.h"

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

// A chat line as the program sends it, in a plain style.
inline std::vector<std::uint8_t> ChatFrame(const WString& line) {
    auto style = MakeChatFont(u"Face", -200, 0).Encode();
    std::vector<std::uint8_t> payload(style.begin(), style.end());
    std::vector<std::uint8_t> text = EncodeUtf16Le(line);
    payload.insert(payload.end(), text.begin(), text.end());
    return EncodeFrame(NET_CHAT, 0, static_cast<std::uint32_t>(text.size()), payload);
}

}  // namespace mirka::test
