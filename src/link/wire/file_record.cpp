#include "link/wire/file_record.h"

#include <boost/crc.hpp>

#include "toolkit/little_endian.h"

namespace mirka {

namespace {
constexpr std::size_t kOffChecksum = 528, kOffTaskId = 532, kOffFileSize = 536, kOffOffset = 544;
constexpr std::size_t kNameUnits = 263;
constexpr WStringView kSubstituteName = u"received_file";
}  // namespace

std::array<std::uint8_t, FileRecord::kBytes> FileRecord::Encode() const {
    std::array<std::uint8_t, kBytes> bytes{};
    WString fitted = FitField(name, kNameUnits + 1);
    PutUtf16Field(bytes.data(), kNameBytes, fitted);
    PutU32(&bytes[kOffChecksum], checksum);
    PutI32(&bytes[kOffTaskId], taskId);
    PutI64(&bytes[kOffFileSize], fileSize);
    PutI64(&bytes[kOffOffset], offset);
    return bytes;
}

FileRecord FileRecord::Decode(const std::uint8_t* bytes) {
    FileRecord record;
    record.name = GetUtf16Field(bytes, kNameBytes);
    record.nameTerminated = record.name.size() < kNameBytes / 2;
    record.checksum = GetU32(bytes + kOffChecksum);
    record.taskId = GetI32(bytes + kOffTaskId);
    record.fileSize = GetI64(bytes + kOffFileSize);
    record.offset = GetI64(bytes + kOffOffset);
    return record;
}

std::uint16_t ResumeChecksum(const std::uint8_t* bytes2048) {
    boost::crc_ccitt_type crc;
    crc.process_bytes(bytes2048, kChecksumBytes);
    return crc.checksum();
}

WString FormatByteCount(std::int64_t size) {
    WString digits = FromUtf8(std::to_string(static_cast<std::uint64_t>(size)));
    WString grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(u',');
        grouped.push_back(digits[i]);
    }
    return grouped + u" B";
}

WString SafeReceivedName(WStringView offered) {
    // Whatever the peer's platform, both kinds of separator end a folder part.
    std::size_t slash = offered.find_last_of(u"/\\");
    WStringView last = slash == WStringView::npos ? offered : offered.substr(slash + 1);
    if (last.size() >= 2 && last[1] == u':') last.remove_prefix(2);  // "C:name"
    WString name;
    for (char16_t c : last) {
        bool reserved =
            c < 0x20 || c == 0x7F || WStringView(u"<>:\"|?*").find(c) != WStringView::npos;
        name.push_back(reserved ? u'_' : c);
    }
    // Trailing dots and blanks are dropped by some file systems; "." and ".." are folders.
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
    while (!name.empty() && name.front() == u' ') name.erase(name.begin());
    if (name.empty()) return WString(kSubstituteName);
    // Keep the name within what file systems take, cutting the stem and keeping the extension.
    while (ToUtf8(name).size() > kMaxReceivedNameBytes) {
        std::size_t dot = name.rfind(u'.');
        std::size_t cut = (dot != WString::npos && dot > 0 && name.size() - dot <= 16)
                              ? dot - 1
                              : name.size() - 1;
        std::size_t eraseAt = cut;
        if (eraseAt > 0 && name[eraseAt] >= 0xDC00 && name[eraseAt] <= 0xDFFF) --eraseAt;
        name.erase(eraseAt, cut - eraseAt + 1);
    }
    return name;
}

}  // namespace mirka
