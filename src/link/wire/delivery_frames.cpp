#include "link/wire/delivery_frames.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "link/wire/folder_frames.h"
#include "secure/handshake.h"
#include "toolkit/little_endian.h"

namespace mirka {

namespace {
// Every frame beyond the original table is told apart by its code alone, the private link's
// hello among them: a code given twice would hand one kind's frames to the other's reader.
constexpr bool AllDifferent(std::initializer_list<std::uint16_t> codes) {
    for (auto a = codes.begin(); a != codes.end(); ++a)
        for (auto b = a + 1; b != codes.end(); ++b)
            if (*a == *b) return false;
    return true;
}
static_assert(AllDifferent({kCapabilitiesCode, kDigestCode, kReceiptCode, kKeptPartCode,
                            kStartOverCode, kKeptSampleCode, kFolderOfferCode, kFolderEntryCode,
                            kFolderEndCode, secure::kHandshakeCode}));

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

namespace {
ExtensionFrame EncodeKept(std::uint16_t code, const KeptPartFrame& kept) {
    ExtensionFrame frame = Start(code);
    PutU32(frame.data() + kTaskOffset, static_cast<std::uint32_t>(kept.taskId));
    PutU64(frame.data() + kKeptBytesOffset, static_cast<std::uint64_t>(kept.bytes));
    std::copy(kept.digest.begin(), kept.digest.end(), frame.begin() + kDigestOffset);
    return frame;
}
}  // namespace

ExtensionFrame EncodeKeptPart(const KeptPartFrame& kept) {
    return EncodeKept(kKeptPartCode, kept);
}

ExtensionFrame EncodeKeptSample(const KeptPartFrame& sample) {
    return EncodeKept(kKeptSampleCode, sample);
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

std::vector<std::pair<std::int64_t, std::int64_t>> KeptSampleRanges(std::int64_t kept) {
    constexpr std::int64_t kWhole = 1 << 20;
    constexpr std::int64_t kRange = 64 << 10;
    constexpr std::int64_t kRanges = 16;
    if (kept <= 0) return {};
    if (kept <= kWhole) return {{0, kept}};
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (std::int64_t i = 0; i < kRanges; ++i)
        ranges.emplace_back((kept - kRange) / (kRanges - 1) * i, kRange);
    ranges.back().first = kept - kRange;
    return ranges;
}

}  // namespace mirka
