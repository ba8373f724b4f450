#include "link/wire/folder_frames.h"

#include "link/wire/frame.h"
#include "toolkit/little_endian.h"

namespace mirka {

namespace {
constexpr std::size_t kIdOffset = 4;
constexpr std::size_t kLengthOffset = 8;
constexpr std::size_t kFileCountOffset = 12;
constexpr std::size_t kFolderCountOffset = 16;
constexpr std::size_t kTotalOffset = 20;
constexpr std::size_t kOfferTimeOffset = 28;
constexpr std::size_t kKindOffset = 12;
constexpr std::size_t kTaskOffset = 16;
constexpr std::size_t kEntryTimeOffset = 20;
constexpr std::size_t kSizeOffset = 28;

// A header with code, folder id and payload length, followed by the payload.
std::string Frame(std::uint16_t code, std::int32_t folderId, const std::string& payload,
                  std::uint8_t*(&header)) {
    std::string bytes(FrameHeader::kBytes + payload.size(), '\0');
    header = reinterpret_cast<std::uint8_t*>(bytes.data());
    PutU16(header, code);
    PutI32(header + kIdOffset, folderId);
    PutU32(header + kLengthOffset, static_cast<std::uint32_t>(payload.size()));
    bytes.replace(FrameHeader::kBytes, payload.size(), payload);
    return bytes;
}
}  // namespace

std::string EncodeFolderOffer(const FolderOfferFrame& offer) {
    std::uint8_t* header = nullptr;
    std::string bytes = Frame(kFolderOfferCode, offer.folderId, offer.name, header);
    PutU32(header + kFileCountOffset, offer.fileCount);
    PutU32(header + kFolderCountOffset, offer.folderCount);
    PutI64(header + kTotalOffset, offer.totalBytes);
    PutI64(header + kOfferTimeOffset, offer.modifiedNs);
    return bytes;
}

std::string EncodeFolderEntry(const FolderEntryFrame& entry) {
    std::uint8_t* header = nullptr;
    std::string bytes = Frame(kFolderEntryCode, entry.folderId, entry.path, header);
    header[kKindOffset] = static_cast<std::uint8_t>(entry.kind);
    PutI32(header + kTaskOffset, entry.taskId);
    PutI64(header + kEntryTimeOffset, entry.modifiedNs);
    PutI64(header + kSizeOffset, entry.size);
    return bytes;
}

ExtensionFrame EncodeFolderEnd(std::int32_t folderId) {
    ExtensionFrame frame{};
    PutU16(frame.data(), kFolderEndCode);
    PutI32(frame.data() + kIdOffset, folderId);
    return frame;
}

FolderOfferFrame DecodeFolderOfferHeader(const std::uint8_t* frame) {
    FolderOfferFrame offer;
    offer.folderId = GetI32(frame + kIdOffset);
    offer.fileCount = GetU32(frame + kFileCountOffset);
    offer.folderCount = GetU32(frame + kFolderCountOffset);
    offer.totalBytes = GetI64(frame + kTotalOffset);
    offer.modifiedNs = GetI64(frame + kOfferTimeOffset);
    return offer;
}

FolderEntryFrame DecodeFolderEntryHeader(const std::uint8_t* frame) {
    std::uint8_t kind = frame[kKindOffset];
    FolderEntryFrame entry;
    entry.folderId = GetI32(frame + kIdOffset);
    entry.kind = static_cast<FolderEntryKind>(kind);
    entry.taskId = GetI32(frame + kTaskOffset);
    entry.modifiedNs = GetI64(frame + kEntryTimeOffset);
    entry.size = GetI64(frame + kSizeOffset);
    return entry;
}

std::int32_t DecodeFolderId(const std::uint8_t* frame) {
    return GetI32(frame + kIdOffset);
}

}  // namespace mirka
