// The sending side of a folder: its listing, its offer, and its files offered a few at a
// time as ordinary verified transfers.
#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

namespace asio = boost::asio;

namespace {
// Skipped entries named in the log; the rest are counted.
constexpr std::size_t kSkippedNamed = 10;

WString FolderSummary(std::size_t files, std::int64_t bytes) {
    return Format(64, u"%d 個のファイル, %s", static_cast<int>(files), FormatByteCount(bytes));
}
}  // namespace

WString FolderLogLine(WStringView head, WStringView name, std::size_t files, std::int64_t bytes) {
    return Format(kFormatCapacity, u"%s\r\nフォルダ名 > %s (%s)\r\n", head, name,
                  FolderSummary(files, bytes));
}

void TransferEngine::OfferFolder(const WString& path, int row) {
    auto refuse = [&](WStringView why) {
        AppendLog(
            Format(kFormatCapacity, u"SystemError:: \r\n%s\r\nフォルダ名 > %s\r\n", why, path));
        PostFact(
            TransferFact::Shown(TransferDirection::Sending, -1, row, path, WString(kRowCancelled)));
    };
    link.AwaitPeerAnnouncement();
    if (!link.Shares(kFolders | kVerifiedDelivery)) {
        refuse(u"相手のプログラムはフォルダを受け取れないため、送信しません");
        return;
    }
    FolderListing listing = ListFolder(path);
    if (listing.unreadable) {
        refuse(u"フォルダを読めないため送信しません");
        return;
    }
    if (listing.overLimits) {
        refuse(Format(kFormatCapacity, u"フォルダが大きすぎるため送信しません (上限 %d 個, %s)",
                      static_cast<int>(kMaxFolderEntries), FormatByteCount(kMaxFolderBytes)));
        return;
    }
    if (!listing.skipped.empty()) {
        WString names;
        for (std::size_t i = 0; i < listing.skipped.size() && i < kSkippedNamed; ++i)
            names += listing.skipped[i] + u"\r\n";
        if (listing.skipped.size() > kSkippedNamed)
            names += Format(64, u"ほか %d 件\r\n",
                            static_cast<int>(listing.skipped.size() - kSkippedNamed));
        AppendLog(
            Format(kFormatCapacity,
                   u"SystemMessage: \r\nシンボリックリンク、特殊なファイルと、相手側で使えないか"
                   u"ほかと同じになる名前は送信しません (%d 件)\r\nフォルダ名 > %s\r\n%s",
                   static_cast<int>(listing.skipped.size()), listing.name, names));
    }
    FolderOfferFrame offer;
    offer.fileCount = static_cast<std::uint32_t>(listing.fileCount);
    offer.folderCount = static_cast<std::uint32_t>(listing.entries.size() - listing.fileCount);
    offer.totalBytes = listing.totalBytes;
    offer.modifiedNs = listing.modifiedNs;
    offer.name = ToUtf8(listing.name);
    WString logLine = FolderLogLine(u"SystemMessage: \r\nフォルダの送信を開始します", listing.name,
                                    listing.fileCount, listing.totalBytes);
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        offer.folderId = TakeTaskIdLocked();
        SendingFolder folder;
        folder.path = path;
        folder.progress.filesTotal = static_cast<std::int32_t>(listing.fileCount);
        folder.progress.totalBytes = listing.totalBytes;
        folder.listing = std::move(listing);
        sendFolders.emplace(offer.folderId, std::move(folder));
        // Under the lock, so no fact about this folder can come before its row.
        PostFact(TransferFact::Shown(TransferDirection::Sending, offer.folderId, row, path));
    }
    AppendLog(logLine);
    std::string bytes = EncodeFolderOffer(offer);
    if (!link.WriteParts({asio::buffer(bytes)})) {
        EndFolder(TransferDirection::Sending, offer.folderId, WString(kRowCancelled), 0);
        return;
    }
    OfferFolderEntries(offer.folderId);
}

void TransferEngine::OfferFolderEntries(std::int32_t folderId) {
    link.AssertPumpThread();
    // Entries and offers go out as one unit after the lock: the receiver learns of each file
    // before its offer, and the pump is the only thread that offers.
    std::string frames;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendFolders.find(folderId);
        if (it == sendFolders.end()) return;
        SendingFolder& folder = it->second;
        const auto& entries = folder.listing.entries;
        while (!folder.paused && folder.running.size() < kFolderFilesInFlight &&
               folder.nextEntry < entries.size()) {
            const FolderEntry& entry = entries[folder.nextEntry++];
            FolderEntryFrame frame;
            frame.folderId = folderId;
            frame.kind = entry.directory ? FolderEntryKind::Folder : FolderEntryKind::File;
            frame.modifiedNs = entry.modifiedNs;
            frame.size = entry.size;
            frame.path = entry.relativePath;
            if (entry.directory) {
                frames += EncodeFolderEntry(frame);
                continue;
            }
            FileRecord record;
            record.taskId = frame.taskId = TakeTaskIdLocked();
            record.name = WString(PathNamePart(entry.sourcePath));
            record.fileSize = entry.size;  // no resume checksum: the digest proves the file
            auto member = std::make_unique<FileManager>(TransferDirection::Sending);
            member->path = entry.sourcePath;
            // The very file listed, never reached through a link put in its place since.
            member->source = entry.identity;
            member->sourceMayBeLink = false;
            member->fileSize = entry.size;
            member->folderId = folderId;
            sendTasks.emplace(record.taskId, std::move(member));
            folder.running.insert(record.taskId);
            frames += EncodeFolderEntry(frame);
            FrameHeader header;
            header.code = NET_FILE_OFFER;
            auto headerBytes = header.Encode();
            auto recordBytes = record.Encode();
            frames.append(headerBytes.begin(), headerBytes.end());
            frames.append(recordBytes.begin(), recordBytes.end());
        }
        if (folder.nextEntry == entries.size() && !folder.endSent) {
            folder.endSent = true;
            auto end = EncodeFolderEnd(folderId);
            frames.append(end.begin(), end.end());
            // With nothing left in flight the receiver's receipt for the folder is all that
            // is still to come.
            if (folder.running.empty())
                folder.receiptDue = std::chrono::steady_clock::now() + receiptWait.load();
        }
    }
    if (!frames.empty() && !link.WriteParts({asio::buffer(frames)}))
        EndFolder(TransferDirection::Sending, folderId, WString(kRowCancelled), 0);
}

}  // namespace mirka
