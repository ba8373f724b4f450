#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/wire/delivery_frames.h"

// The frames that carry a folder between two copies that both announced folders. Unlike the
// other extension frames these have a payload (a name or a relative path in UTF-8, its
// length at offset 8 as in the original frames), so they never reach any other peer.
//
// Folder offer (code 0x4B46): the folder's id (32 bits) at 4, from the sender's task ids;
// the name's length at 8; the file count (32 bits) at 12, the sub-folder count at 16, the
// total bytes (64 bits) at 20, the folder's modification time (nanoseconds since 1970, 64
// bits) at 28. Payload: the folder's own name.
// Folder entry (code 0x4B45): the folder's id at 4, the path's length at 8, the kind at 12 (1
// a sub-folder, 2 a file), a file's task id (32 bits) at 16: the ordinary offer that follows
// carries it; the modification time at 20, the size at 28. Payload: the path relative to
// the folder, '/' between components.
// Folder end (code 0x4B5A): the folder's id at 4; header only. Every entry has been sent.
// Cancel, delete, pause and resume of a whole folder are the ordinary control frames with
// the folder's id.
namespace mirka {

inline constexpr std::uint16_t kFolderOfferCode = 0x4B46;
inline constexpr std::uint16_t kFolderEntryCode = 0x4B45;
inline constexpr std::uint16_t kFolderEndCode = 0x4B5A;

// Longest payloads a receiver reads: a name and a relative path, in UTF-8 bytes.
inline constexpr std::uint32_t kMaxFolderNameBytes = 1024;
inline constexpr std::uint32_t kMaxFolderEntryPathBytes = 4096;

struct FolderOfferFrame {
    std::int32_t folderId = 0;
    std::uint32_t fileCount = 0;
    std::uint32_t folderCount = 0;
    std::int64_t totalBytes = 0;
    std::int64_t modifiedNs = 0;
    std::string name;  // UTF-8
};

enum class FolderEntryKind : std::uint8_t { Folder = 1, File = 2 };

struct FolderEntryFrame {
    std::int32_t folderId = 0;
    FolderEntryKind kind = FolderEntryKind::File;
    std::int32_t taskId = -1;
    std::int64_t modifiedNs = 0;
    std::int64_t size = 0;
    std::string path;  // UTF-8
};

// Header and payload, ready to write as one unit.
std::string EncodeFolderOffer(const FolderOfferFrame& offer);
std::string EncodeFolderEntry(const FolderEntryFrame& entry);
ExtensionFrame EncodeFolderEnd(std::int32_t folderId);

// The header's fields; the payload (`length` bytes at offset 8) is read after it.
FolderOfferFrame DecodeFolderOfferHeader(const std::uint8_t* frame);
// The kind is as sent: the receiver refuses one outside the two.
FolderEntryFrame DecodeFolderEntryHeader(const std::uint8_t* frame);
std::int32_t DecodeFolderId(const std::uint8_t* frame);

}  // namespace mirka
