#include "link/file_manager.h"

#include <system_error>

#include "app/log_message.h"
#include "link/file_record.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

namespace mirka {

void AppendLogTo(TalkWindowPort* window, const CharFormat* style, WStringView text) {
    if (window) window->AppendLogMessage(BuildLogMessage(style, text));
}

namespace {
constexpr std::size_t kStreamBufferBytes = 256 * 1024;
}

void FileManager::OpenBuffered(std::ios::openmode mode) {
    if (!streamBuffer) streamBuffer = std::make_unique<char[]>(kStreamBufferBytes);
    file.rdbuf()->pubsetbuf(streamBuffer.get(), kStreamBufferBytes);
    file.open(ToFsPath(path), mode);
}

bool FileManager::OpenForReceive(std::int64_t offset) {
    AppendLogTo(ownerWindow, nullptr,
                Format(kFormatCapacity,
                       u"SystemMessage: \r\nファイルの受信を開始します\r\nファイル名 > %s (%s)\r\n",
                       PathNamePart(path), FormatByteCount(fileSize)));
    sampleTick = MillisecondTick();
    std::filesystem::path target = ToFsPath(path);
    if (offset != 0) {
        // Bytes behind the offset are received again; cutting them off keeps a partial file
        // that was longer than the new one from leaving stale bytes at its end.
        std::error_code error;
        std::filesystem::resize_file(target, static_cast<std::uintmax_t>(offset), error);
        if (error) return false;
        OpenBuffered(std::ios::binary | std::ios::in | std::ios::out);
        if (!file.is_open()) return false;
        file.seekp(offset);
        transferred = offset;
        sending = false;
        return static_cast<bool>(file);
    }
    OpenBuffered(std::ios::binary | std::ios::out | std::ios::trunc);
    return file.is_open();
}

bool FileManager::OpenForSend(std::int64_t offset) {
    sampleTick = MillisecondTick();
    OpenBuffered(std::ios::binary | std::ios::in);
    if (!file.is_open()) return false;
    file.seekg(offset);
    transferred = offset;
    AppendLogTo(ownerWindow, nullptr,
                Format(kFormatCapacity,
                       u"SystemMessage: \r\nファイルの送信を開始します\r\nファイル名 > %s (%s)\r\n",
                       PathNamePart(path), FormatByteCount(fileSize)));
    sending = true;
    return true;
}

bool FileManager::WriteChunk(const std::uint8_t* data, std::size_t length) {
    if (!file.is_open()) return true;
    if (length > 0) {
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
        if (!file) return false;
    }
    transferred += static_cast<std::int64_t>(length);
    if (transferred >= fileSize) {
        // Only a file whose every byte reached the disk gets its final name.
        file.flush();
        bool written = static_cast<bool>(file);
        file.close();
        if (!written || file.fail()) return false;
        complete = true;
        eof = true;
    }
    TakeRateSample();
    return true;
}

std::size_t FileManager::ReadChunk(std::size_t length, std::uint8_t* buffer, bool& failed) {
    failed = false;
    if (!file.is_open()) return 0;
    if (transferred + static_cast<std::int64_t>(length) > fileSize)
        length = static_cast<std::size_t>(fileSize - transferred);
    file.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(length));
    if (static_cast<std::size_t>(file.gcount()) != length) {
        failed = true;
        return 0;
    }
    transferred += static_cast<std::int64_t>(length);
    if (transferred >= fileSize) {
        complete = true;
        eof = true;
        file.close();
    }
    TakeRateSample();
    return length;
}

void FileManager::Flush() {
    if (file.is_open()) file.flush();
}

void FileManager::CloseFile() {
    if (file.is_open()) file.close();
}

void FileManager::TakeRateSample() {
    std::uint32_t now = MillisecondTick();
    if (now - sampleTick > 1000) {
        sampleTick = now;
        rate = static_cast<std::uint32_t>(transferred - sampleBase);
        sampleBase = transferred;
    }
}

}  // namespace mirka
