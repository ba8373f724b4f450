#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include <boost/asio/buffer.hpp>

#include "toolkit/little_endian.h"

// The 48-byte header that starts every frame on the peer link, and the message codes.
namespace mirka {

enum NETCODE : std::uint16_t {
    NET_KEEPALIVE = 0,
    NET_FILE_OFFER = 1,
    NET_FILE_ACCEPT = 2,
    NET_FILE_DATA = 3,
    NET_CHAT = 4,
    NET_STATUS = 5,
    NET_DISCONNECT = 6,
    NET_FILE_CANCEL = 7,
    NET_FILE_DELETE = 8,
    NET_FILE_RESEND = 9,
    NET_FILE_PAUSE = 10,
};

struct FrameHeader {
    static constexpr std::size_t kBytes = 48;

    std::uint16_t code = 0;
    std::uint32_t taskField = 0;    // offset 4: task id of NET_FILE_DATA
    std::uint32_t lengthField = 0;  // offset 8: payload length, or the task id of codes 7-10

    // Bytes 2-3 are left zero; receivers ignore them.
    std::array<std::uint8_t, kBytes> Encode() const {
        std::array<std::uint8_t, kBytes> bytes{};
        PutU16(&bytes[0], code);
        PutU32(&bytes[4], taskField);
        PutU32(&bytes[8], lengthField);
        return bytes;
    }

    static FrameHeader Decode(const std::uint8_t* bytes) {
        FrameHeader header;
        header.code = GetU16(bytes);
        header.taskField = GetU32(bytes + 4);
        header.lengthField = GetU32(bytes + 8);
        return header;
    }
};

// One frame as the parts of one write: the encoded header (kept alive by the caller) and
// the payload parts behind it.
inline std::vector<boost::asio::const_buffer> FrameParts(
    const std::array<std::uint8_t, FrameHeader::kBytes>& headerBytes,
    std::initializer_list<boost::asio::const_buffer> payload) {
    std::vector<boost::asio::const_buffer> parts;
    parts.reserve(payload.size() + 1);
    parts.push_back(boost::asio::buffer(headerBytes));
    parts.insert(parts.end(), payload.begin(), payload.end());
    return parts;
}

}  // namespace mirka
