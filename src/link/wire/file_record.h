#pragma once

#include <array>
#include <cstdint>

#include "toolkit/text.h"

// The 552-byte description of a file in an offer and its accept, and the resume checksum.
namespace mirka {

struct FileRecord {
    static constexpr std::size_t kBytes = 552;
    static constexpr std::size_t kNameBytes = 528;

    WString name;  // at most 263 units on the wire
    std::uint32_t checksum = 0;
    std::int32_t taskId = 0;
    std::int64_t fileSize = 0;
    std::int64_t offset = 0;
    // False when the received name field had no terminating zero within its 528 bytes.
    bool nameTerminated = true;

    std::array<std::uint8_t, kBytes> Encode() const;
    static FileRecord Decode(const std::uint8_t* bytes);
};

inline constexpr std::size_t kChecksumBytes = 2048;

// CRC-16/CCITT-FALSE over exactly 2,048 bytes (the first bytes of the file, zero-padded).
std::uint16_t ResumeChecksum(const std::uint8_t* bytes2048);

// "1,234,567 B"
WString FormatByteCount(std::int64_t size);

// The longest name SafeReceivedName keeps, in UTF-8 bytes: leaves room for "_[xx]" and ".tmp".
inline constexpr std::size_t kMaxReceivedNameBytes = 200;

// Reduces a name offered by the peer to a plain file name that cannot leave the receive
// folder: no folder parts, drive letters, control or reserved characters, "." or "..".
// Returns a substitute when nothing usable is left.
WString SafeReceivedName(WStringView offered);

}  // namespace mirka
