#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "link/wire/frame.h"
#include "secure/file_digest.h"

// Frames between two copies of this program beyond the original code table. Each is a
// header-only 48-byte frame whose code the original table lacks, so an original peer reads
// its header and skips it. Only the capability announcement ever reaches a peer that has not
// announced the same capability; the others go only where both sides announced it.
//
// Capabilities (code 0x4B43): magic "MIRKA-CP" at offset 4, version (16 bits) at 12, the
// capability bits (32 bits) at 16, the rest zero. Sent once, first thing on a link.
// Digest (code 0x4B44): the task id (32 bits) at 4, as in a data frame; the whole file's
// digest at 16: SHA-256 where both sides announced it, BLAKE2b-256 otherwise. Sent by the
// sender after the last data frame of a verified transfer.
// Receipt (code 0x4B52): the task id at 4; the result at 8 (1 verified, 2 send it again,
// 3 failed). The receiver's answer to a digest.
// Kept part (code 0x4B4B): the task id at 4, the kept length (64 bits) at 8, the digest of the
// kept bytes at 16, of the same kind as the whole file's. Sent by the receiver of a resumed
// reception together with its accept.
// Kept sample (code 0x4B4C): as the kept part, but the digest is of the sample of the kept
// bytes KeptSampleRanges names. Sent by the receiver before its kept part, where both
// announced samples: a stale partial is told apart in a millisecond, while the kept part's
// digest takes a second per GiB. A sample that matches decides nothing; the kept part does.
// Start over (code 0x4B53): the task id at 4, the rest zero. Sent by the sender when the kept
// part is not its file's first bytes (or never came): its data then starts at byte 0.
namespace mirka {

inline constexpr std::uint16_t kCapabilitiesCode = 0x4B43;
inline constexpr std::uint16_t kDigestCode = 0x4B44;
inline constexpr std::uint16_t kReceiptCode = 0x4B52;
inline constexpr std::uint16_t kKeptPartCode = 0x4B4B;
inline constexpr std::uint16_t kStartOverCode = 0x4B53;
inline constexpr std::uint16_t kKeptSampleCode = 0x4B4C;
inline constexpr std::uint16_t kCapabilitiesVersion = 1;

// What a copy can do beyond the original wire; a feature is used when both announced it.
enum Capability : std::uint32_t {
    kVerifiedDelivery = 1u << 0,
    // Folders travel whole (their files go by verified delivery, so both bits are needed).
    kFolders = 1u << 1,
    // Verified delivery proves files with SHA-256 rather than BLAKE2b-256: the same 32 bytes
    // in the same digest frame, at a fraction of the CPU time where the processor has SHA
    // instructions. A copy that announced only verified delivery gets BLAKE2b-256 as before.
    kSha256Digest = 1u << 2,
    // A resumed reception proves its kept part before the rest is sent: a stale partial of
    // another version is found at once and costs no second sending of the file.
    kKeptPartProof = 1u << 3,
    // A sample of the kept part goes before its whole digest (with the proof only).
    kKeptSample = 1u << 4,
};
inline constexpr std::uint32_t kKnownCapabilities =
    kVerifiedDelivery | kFolders | kSha256Digest | kKeptPartProof | kKeptSample;

enum class ReceiptResult : std::uint8_t { Verified = 1, SendAgain = 2, Failed = 3 };

using ExtensionFrame = std::array<std::uint8_t, FrameHeader::kBytes>;

struct DigestFrame {
    std::int32_t taskId = 0;
    secure::FileDigest digest{};
};

struct ReceiptFrame {
    std::int32_t taskId = 0;
    ReceiptResult result = ReceiptResult::Failed;
};

struct KeptPartFrame {
    std::int32_t taskId = 0;
    std::int64_t bytes = 0;
    secure::FileDigest digest{};
};

ExtensionFrame EncodeCapabilities(std::uint32_t capabilities);
// The bits of an announcement; nothing when magic or version are not ours.
std::optional<std::uint32_t> DecodeCapabilities(const std::uint8_t* frame);
ExtensionFrame EncodeDigest(const DigestFrame& digest);
DigestFrame DecodeDigest(const std::uint8_t* frame);
ExtensionFrame EncodeReceipt(const ReceiptFrame& receipt);
// Nothing for a result outside the three.
std::optional<ReceiptFrame> DecodeReceipt(const std::uint8_t* frame);
ExtensionFrame EncodeKeptPart(const KeptPartFrame& kept);
KeptPartFrame DecodeKeptPart(const std::uint8_t* frame);
ExtensionFrame EncodeKeptSample(const KeptPartFrame& sample);
ExtensionFrame EncodeStartOver(std::int32_t taskId);
std::int32_t DecodeStartOver(const std::uint8_t* frame);

// The byte ranges (offset, length) of a kept part of `kept` bytes that its sample hashes, in
// order: all of a part up to 1 MiB; of a longer one, 16 ranges of 64 KiB spread evenly from
// its first byte to its last, so that another version differs in one of them unless it
// differs only in a few places.
std::vector<std::pair<std::int64_t, std::int64_t>> KeptSampleRanges(std::int64_t kept);

}  // namespace mirka
