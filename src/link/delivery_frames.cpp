#include "link/delivery_frames.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "toolkit/little_endian.h"

namespace mirka {

namespace {
constexpr std::size_t kMagicOffset = 4;
constexpr std::size_t kVersionOffset = 12;
constexpr std::size_t kBitsOffset = 16;
constexpr std::size_t kTaskOffset = 4;
constexpr std::size_t kResultOffset = 8;
constexpr std::size_t kKeptBytesOffset = 8;
constexpr std::size_t kDigestOffset = 16;
constexpr std::string_view kMagic = "MIRKA-CP";

ExtensionFrame Start(std::uint16_t code) {
    ExtensionFrame frame{};
    PutU16(frame.data(), code);
    return frame;
}
}  // namespace

ExtensionFrame EncodeCapabilities(std::uint32_t capabilities) {
    ExtensionFrame frame = Start(kCapabilitiesCode);
    std::memcpy(frame.data() + kMagicOffset, kMagic.data(), kMagic.size());
    PutU16(frame.data() + kVersionOffset, kCapabilitiesVersion);
    PutU32(frame.data() + kBitsOffset, capabilities);
    return frame;
}

std::optional<std::uint32_t> DecodeCapabilities(const std::uint8_t* frame) {
    if (std::memcmp(frame + kMagicOffset, kMagic.data(), kMagic.size()) != 0 ||
        GetU16(frame + kVersionOffset) != kCapabilitiesVersion)
        return std::nullopt;
    return GetU32(frame + kBitsOffset);
}

ExtensionFrame EncodeDigest(const DigestFrame& digest) {
    ExtensionFrame frame = Start(kDigestCode);
    PutU32(frame.data() + kTaskOffset, static_cast<std::uint32_t>(digest.taskId));
    std::copy(digest.digest.begin(), digest.digest.end(), frame.begin() + kDigestOffset);
    return frame;
}

DigestFrame DecodeDigest(const std::uint8_t* frame) {
    DigestFrame digest;
    digest.taskId = static_cast<std::int32_t>(GetU32(frame + kTaskOffset));
    std::copy(frame + kDigestOffset, frame + kDigestOffset + digest.digest.size(),
              digest.digest.begin());
    return digest;
}

ExtensionFrame EncodeReceipt(const ReceiptFrame& receipt) {
    ExtensionFrame frame = Start(kReceiptCode);
    PutU32(frame.data() + kTaskOffset, static_cast<std::uint32_t>(receipt.taskId));
    frame[kResultOffset] = static_cast<std::uint8_t>(receipt.result);
    return frame;
}

std::optional<ReceiptFrame> DecodeReceipt(const std::uint8_t* frame) {
    std::uint8_t result = frame[kResultOffset];
    if (result < static_cast<std::uint8_t>(ReceiptResult::Verified) ||
        result > static_cast<std::uint8_t>(ReceiptResult::Failed))
        return std::nullopt;
    return ReceiptFrame{static_cast<std::int32_t>(GetU32(frame + kTaskOffset)),
                        static_cast<ReceiptResult>(result)};
}

ExtensionFrame EncodeKeptPart(const KeptPartFrame& kept) {
    ExtensionFrame frame = Start(kKeptPartCode);
    PutU32(frame.data() + kTaskOffset, static_cast<std::uint32_t>(kept.taskId));
    PutU64(frame.data() + kKeptBytesOffset, static_cast<std::uint64_t>(kept.bytes));
    std::copy(kept.digest.begin(), kept.digest.end(), frame.begin() + kDigestOffset);
    return frame;
}

KeptPartFrame DecodeKeptPart(const std::uint8_t* frame) {
    KeptPartFrame kept;
    kept.taskId = static_cast<std::int32_t>(GetU32(frame + kTaskOffset));
    kept.bytes = static_cast<std::int64_t>(GetU64(frame + kKeptBytesOffset));
    std::copy(frame + kDigestOffset, frame + kDigestOffset + kept.digest.size(),
              kept.digest.begin());
    return kept;
}

ExtensionFrame EncodeStartOver(std::int32_t taskId) {
    ExtensionFrame frame = Start(kStartOverCode);
    PutU32(frame.data() + kTaskOffset, static_cast<std::uint32_t>(taskId));
    return frame;
}

std::int32_t DecodeStartOver(const std::uint8_t* frame) {
    return static_cast<std::int32_t>(GetU32(frame + kTaskOffset));
}

}  // namespace mirka
