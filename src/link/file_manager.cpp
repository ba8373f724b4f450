#include "link/file_manager.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "common/log_message.h"
#include "link/file_record.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

namespace mirka {

void AppendLogTo(WindowSlot* slot, const CharFormat* style, WStringView text) {
    if (!slot) return;
    if (auto window = slot->Borrow()) window->AppendLogMessage(BuildLogMessage(style, text));
}

namespace {
// The file stream passes any write or read of 1 KiB or more straight to the system, so chunks
// are gathered here: one system call per block instead of one per 2,048-byte chunk.
constexpr std::size_t kBlockBytes = 256 * 1024;
}  // namespace

void FileManager::OpenBlocked(std::ios::openmode mode) {
    // No larger than the file: a folder of ten thousand small files would otherwise clear a
    // quarter mebibyte for each of them.
    block.resize(static_cast<std::size_t>(
        std::clamp<std::int64_t>(fileSize, 1, static_cast<std::int64_t>(kBlockBytes))));
    blockBegin = blockEnd = 0;
    file.open(ToFsPath(path), mode);
}

bool FileManager::WriteOutBlock() {
    if (blockEnd > 0) file.write(block.data(), static_cast<std::streamsize>(blockEnd));
    blockEnd = 0;
    return static_cast<bool>(file);
}

bool FileManager::HashPrefix(std::int64_t bytes) {
    std::ifstream in(ToFsPath(path), std::ios::binary);
    std::vector<char> buffer(kBlockBytes);
    while (bytes > 0 && in) {
        in.read(buffer.data(),
                static_cast<std::streamsize>(std::min<std::int64_t>(bytes, kBlockBytes)));
        auto got = static_cast<std::int64_t>(in.gcount());
        hasher.Update(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                      static_cast<std::size_t>(got));
        bytes -= got;
    }
    return bytes == 0;
}

bool FileManager::OpenForReceive(std::int64_t offset) {
    AppendLogTo(ownerWindow, nullptr,
                Format(kFormatCapacity,
                       u"SystemMessage: \r\nファイルの受信を開始します\r\nファイル名 > %s (%s)\r\n",
                       PathNamePart(path), FormatByteCount(fileSize)));
    rate.Start(MillisecondTick());
    state = TransferState::Running;
    transferred = offset;
    hasher.Reset();
    std::filesystem::path target = ToFsPath(path);
    if (offset != 0) {
        // Bytes behind the offset are received again; cutting them off keeps a partial file
        // that was longer than the new one from leaving stale bytes at its end.
        std::error_code error;
        std::filesystem::resize_file(target, static_cast<std::uintmax_t>(offset), error);
        if (error) return false;
        if (verify && !HashPrefix(offset)) return false;
        OpenBlocked(std::ios::binary | std::ios::in | std::ios::out);
        if (!file.is_open()) return false;
        file.seekp(offset);
        return static_cast<bool>(file);
    }
    OpenBlocked(std::ios::binary | std::ios::out | std::ios::trunc);
    return file.is_open();
}

bool FileManager::OpenForSend(std::int64_t offset) {
    rate.Start(MillisecondTick());
    OpenBlocked(std::ios::binary | std::ios::in);
    if (!file.is_open()) return false;
    file.seekg(offset);
    transferred = offset;
    hasher.Reset();
    unhashedPrefix = verify ? offset : 0;
    AppendLogTo(ownerWindow, nullptr,
                Format(kFormatCapacity,
                       u"SystemMessage: \r\nファイルの送信を開始します\r\nファイル名 > %s (%s)\r\n",
                       PathNamePart(path), FormatByteCount(fileSize)));
    // A send paused while it waited for the accept stays paused.
    if (state == TransferState::Waiting) state = TransferState::Running;
    return true;
}

bool FileManager::WriteChunk(const std::uint8_t* data, std::size_t length) {
    if (!file.is_open()) return true;
    if (length > block.size() - blockEnd && !WriteOutBlock()) return false;
    if (length >= block.size()) {
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
        if (!file) return false;
    } else if (length > 0) {
        std::memcpy(block.data() + blockEnd, data, length);
        blockEnd += length;
    }
    if (verify) hasher.Update(data, length);
    transferred += static_cast<std::int64_t>(length);
    if (transferred >= fileSize) {
        // Only a file whose every byte reached the disk gets its final name.
        bool written = WriteOutBlock() && file.flush();
        file.close();
        if (!written || file.fail()) return false;
        state = TransferState::Done;
    }
    rate.Sample(transferred, MillisecondTick());
    return true;
}

std::size_t FileManager::ReadChunk(std::size_t length, std::uint8_t* buffer, bool& failed) {
    failed = false;
    if (!file.is_open()) return 0;
    if (transferred + static_cast<std::int64_t>(length) > fileSize)
        length = static_cast<std::size_t>(fileSize - transferred);
    if (unhashedPrefix > 0) {
        if (!HashPrefix(unhashedPrefix)) {
            failed = true;
            return 0;
        }
        unhashedPrefix = 0;
    }
    for (std::size_t got = 0; got < length;) {
        if (blockBegin == blockEnd) {
            file.read(block.data(), static_cast<std::streamsize>(block.size()));
            blockBegin = 0;
            blockEnd = static_cast<std::size_t>(file.gcount());
            if (blockEnd == 0) {
                // The file gave fewer bytes than it had: nothing wrong goes out.
                failed = true;
                return 0;
            }
        }
        std::size_t n = std::min(length - got, blockEnd - blockBegin);
        std::memcpy(buffer + got, block.data() + blockBegin, n);
        if (verify) hasher.Update(buffer + got, n);
        blockBegin += n;
        got += n;
    }
    transferred += static_cast<std::int64_t>(length);
    if (transferred >= fileSize) {
        state = TransferState::Done;
        file.close();
    }
    rate.Sample(transferred, MillisecondTick());
    return length;
}

void FileManager::Flush() {
    if (file.is_open() && Receiving() && WriteOutBlock()) file.flush();
}

void FileManager::CloseFile() {
    // A reception's gathered bytes reach the disk first, so a resume finds all of them.
    if (file.is_open() && Receiving()) WriteOutBlock();
    if (file.is_open()) file.close();
}

}  // namespace mirka
