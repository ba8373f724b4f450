#include "link/transfer/file_manager.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "common/log_message.h"
#include "link/wire/file_record.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

namespace mirka {

namespace {
// The file stream passes any write or read of 1 KiB or more straight to the system, so chunks
// are gathered here: one system call per block instead of one per 2,048-byte chunk.
constexpr std::size_t kBlockBytes = 256 * 1024;
}  // namespace

void FileManager::ReadyBlock() {
    // No larger than the file: a folder of ten thousand small files would otherwise clear a
    // quarter mebibyte for each of them.
    block.resize(static_cast<std::size_t>(
        std::clamp<std::int64_t>(fileSize, 1, static_cast<std::int64_t>(kBlockBytes))));
    blockBegin = blockEnd = 0;
}

bool FileManager::WriteOutBlock() {
    if (blockEnd == 0) return true;
    bool written = file.Write(block.data(), blockEnd);
    // The block's bytes end at `transferred`; on the disk now, they may be read back.
    if (written && digest)
        digestWorker->HashBlock(digest, block, blockEnd,
                                transferred - static_cast<std::int64_t>(blockEnd));
    blockEnd = 0;
    return written;
}

void FileManager::HashSent(std::size_t n) {
    if (digest && n > 0) digestWorker->HashBlock(digest, block, n, blockAt);
    blockBegin = blockEnd = 0;
}

void FileManager::StartDigest(DigestWorker& worker) {
    DropDigest();
    digestWorker = &worker;
    ownFinal.reset();
    peerFinal.reset();
    finalPending = false;
    // Reads at offsets only: the entry's own descriptor keeps its position.
    digest = DigestWorker::Open(digestKind, file.Duplicate());
}

bool FileManager::OpenForReceive(std::int64_t offset) {
    AppendLogTo(
        ownerWindow, nullptr,
        Format(kFormatCapacity,
               u"SystemMessage: \r\nファイルの受信を開始します\r\nファイル名 > %s (%s)\r\n",
               // The name the file will have, never the temporary one.
               WString(PathNamePart(ReceivePaths::FinalPathOf(path))), FormatByteCount(fileSize)));
    rate.Start(MillisecondTick());
    state = TransferState::Running;
    transferred = offset;
    // A start over is taken only at this offset, and only once: after a fetch again from 0
    // nothing is kept any more.
    keptBytes = offset;
    ReadyBlock();
    // A fetch again from the first byte writes over the bytes it had.
    if (offset == 0) return OverwriteFromZero();
    // Bytes behind the offset are received again; cutting them off keeps a partial file
    // that was longer than the new one from leaving stale bytes at its end.
    if (!file.Truncate(offset)) return false;
    return file.Seek(offset);
}

bool FileManager::StartOver() {
    transferred = 0;
    keptBytes = 0;
    ReadyBlock();
    return Receiving() ? OverwriteFromZero() : file.Seek(0);
}

bool FileManager::OverwriteFromZero() {
    std::int64_t size = file.Size();
    if (size < 0) return false;
    staleEnd = std::max(staleEnd, size);
    // Until the new bytes have covered the old ones, or these are cut off, the file must not
    // pass for a partial that a later offer could continue: after a crash its end would be
    // the other version's. Without the note it is left alone. Where the note cannot be
    // written, the old bytes go at once instead.
    if (size > 0 && folderId < 0 && place && !below.empty() && !noteWithheld) {
        noteWithheld = ReceivePaths::WriteNote(*place, below.back(), {-1, file.Identity()});
        if (!noteWithheld) {
            if (!file.Truncate(0)) return false;
            staleEnd = 0;
        }
    }
    return file.Seek(0);
}

bool FileManager::SettleStale() {
    if (!Receiving() || !file.IsOpen()) return true;
    bool settled = staleEnd <= transferred || file.Truncate(transferred);
    if (settled) staleEnd = 0;
    if (settled && noteWithheld) {
        noteWithheld = false;
        settled = ReceivePaths::WriteNote(*place, below.back(), {fileSize, file.Identity()});
    }
    return settled;
}

bool FileManager::OpenForSend(std::int64_t offset) {
    rate.Start(MillisecondTick());
    ReadyBlock();
    file = OpenFile::OpenForReading(path, source, sourceMayBeLink).value_or(OpenFile());
    if (!file.Seek(offset)) return false;
    transferred = offset;
    keptBytes = offset;  // the part the receiver said it kept, proven before the rest
    AppendLogTo(ownerWindow, nullptr,
                Format(kFormatCapacity,
                       u"SystemMessage: \r\nファイルの送信を開始します\r\nファイル名 > %s (%s)\r\n",
                       PathNamePart(path), FormatByteCount(fileSize)));
    // A send paused while it waited for the accept stays paused.
    if (state == TransferState::Waiting) state = TransferState::Running;
    return true;
}

bool FileManager::WriteChunk(const std::uint8_t* data, std::size_t length) {
    if (!file.IsOpen()) return true;
    if (length > block.size() - blockEnd && !WriteOutBlock()) return false;
    if (length >= block.size()) {
        if (!file.Write(data, length)) return false;
        if (digest) digestWorker->HashFile(digest, transferred, static_cast<std::int64_t>(length));
    } else if (length > 0) {
        std::memcpy(block.data() + blockEnd, data, length);
        blockEnd += length;
    }
    transferred += static_cast<std::int64_t>(length);
    if (transferred >= fileSize) {
        // Only a file whose every byte reached the disk gets its final name. It stays open:
        // a failed proof starts it over through the same descriptor.
        if (!WriteOutBlock() || !SettleStale()) return false;
        state = TransferState::Done;
    }
    rate.Sample(transferred, MillisecondTick());
    return true;
}

std::size_t FileManager::ReadChunk(std::size_t length, std::uint8_t* buffer, bool& failed) {
    failed = false;
    if (!file.IsOpen()) return 0;
    if (transferred + static_cast<std::int64_t>(length) > fileSize)
        length = static_cast<std::size_t>(fileSize - transferred);
    for (std::size_t got = 0; got < length;) {
        if (blockBegin == blockEnd) {
            HashSent(blockEnd);
            blockAt = transferred + static_cast<std::int64_t>(got);
            std::int64_t read = file.Read(block.data(), block.size());
            blockEnd = read > 0 ? static_cast<std::size_t>(read) : 0;
            if (blockEnd == 0) {
                // The file gave fewer bytes than it had: nothing wrong goes out.
                failed = true;
                return 0;
            }
        }
        std::size_t n = std::min(length - got, blockEnd - blockBegin);
        std::memcpy(buffer + got, block.data() + blockBegin, n);
        blockBegin += n;
        got += n;
    }
    transferred += static_cast<std::int64_t>(length);
    if (transferred >= fileSize) {
        // Only the bytes sent are hashed: a file that grew since its offer read further.
        HashSent(blockBegin);
        state = TransferState::Done;
        file.Close();
    }
    rate.Sample(transferred, MillisecondTick());
    return length;
}

void FileManager::Flush() {
    if (file.IsOpen() && Receiving()) WriteOutBlock();
}

void FileManager::CloseFile() {
    // A reception's gathered bytes reach the disk first, so a resume finds all of them, and
    // nothing of an earlier version stays behind them.
    if (file.IsOpen() && Receiving()) {
        WriteOutBlock();
        SettleStale();
    }
    file.Close();
}

}  // namespace mirka
