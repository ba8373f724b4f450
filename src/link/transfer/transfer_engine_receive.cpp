// The receiving side of file transfers: offers, data, and the end of each reception.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

namespace asio = boost::asio;

namespace {
// Ids whose later data frames are dropped without an answer; the oldest are forgotten.
constexpr std::size_t kSilencedIdsKept = 4096;

}  // namespace

void TransferEngine::SilenceReceiveId(std::int32_t taskId) {
    if (!silencedReceiveIds.insert(taskId).second) return;
    silencedOrder.push_back(taskId);
    if (silencedOrder.size() > kSilencedIdsKept) {
        silencedReceiveIds.erase(silencedOrder.front());
        silencedOrder.pop_front();
    }
}

bool TransferEngine::OnFileOffer(FramePayload& payload) {
    std::array<std::uint8_t, FileRecord::kBytes> bytes;
    if (!payload.Read(bytes.data(), bytes.size())) return false;
    return OnFileRecordOffer(FileRecord::Decode(bytes.data()));
}

bool TransferEngine::OnFileRecordOffer(FileRecord record) {
    // A file of a folder whose offer waits for the user's answer waits with it.
    if (HoldMemberOffer(record)) return true;
    WString name = SafeReceivedName(record.nameTerminated ? WStringView(record.name) : u"");
    std::int64_t size = std::max<std::int64_t>(record.fileSize, 0);
    std::int64_t stillToWrite = 0;
    bool full;
    if (record.taskId < 0) {
        // No row could show it, and the next own id must not follow it.
        RefuseOffer(record, OfferRefusal::BadId, name);
        return true;
    }
    std::optional<std::pair<std::int32_t, FolderMember>> member;
    bool refused = false;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        refused = refusedOffers.erase(record.taskId) > 0;
        for (auto& [folderId, folder] : receiveFolders) {
            auto it = folder.announced.find(record.taskId);
            if (it == folder.announced.end()) continue;
            member.emplace(folderId, std::move(it->second));
            folder.announced.erase(it);
            break;
        }
    }
    if (refused) {
        // A file of a folder that ended here: never taken as a file of its own.
        SendControl(NET_FILE_CANCEL, record.taskId);
        return true;
    }
    if (member) return ReceiveFolderMember(record, member->first, std::move(member->second));
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        nextTaskId = FollowingTaskId(record.taskId);
        if (receiveTasks.count(record.taskId) || receiveFolders.count(record.taskId) ||
            HeldId(record.taskId)) {
            // The peer reused an id that is still receiving here: the running transfer keeps
            // its file, and the new offer is left unanswered.
            LogPeerFault(PeerFault::ReusedReceiveId,
                         u"同じ番号の転送が受信中のため、申し出を無視しました");
            return true;
        }
        full = receiveTasks.size() + HeldCount(false) >= kMaxReceptions;
        if (!full) silencedReceiveIds.erase(record.taskId);  // this id's data is wanted again
        for (const auto& [id, running] : receiveTasks)
            stillToWrite += running->fileSize - running->transferred;
    }
    if (full) {
        RefuseOffer(record, OfferRefusal::TooMany, name);
        return true;
    }
    if (offerQuestion) {
        HeldOffer held;
        held.taskId = record.taskId;
        held.name = name;
        held.file = record;
        HoldOffer(std::move(held), size);
        return true;
    }
    return TakeFileOffer(record, name, size, stillToWrite);
}

bool TransferEngine::TakeFileOffer(FileRecord record, const WString& name, std::int64_t size,
                                   std::int64_t stillToWrite) {
    WString prefix = ReceivePaths::FolderPrefix(values.ReceiveFolder());
    std::optional<ContainedFolder> place = ContainedFolder::Open(prefix);
    auto entry = std::make_unique<FileManager>(TransferDirection::Receiving);
    entry->fileSize = size;
    entry->ownerWindow = &window;
    entry->verify = link.Shares(kVerifiedDelivery);
    entry->digestKind = DeliveryDigest();
    std::int64_t offset = 0;
    bool create = false;
    if (!place) {
        // The receive folder is gone: the row shows the name the file would have had, and
        // the reception fails below as a file that could not be made.
        entry->path = prefix + name + WString(ReceivePaths::kTemporarySuffix);
    } else if (auto resume = receivePaths.ReserveResume(*place, prefix, record, name)) {
        entry->reservation = std::move(resume->reservation);
        entry->file = std::move(resume->file);
        offset = resume->offset;
    } else if (auto fresh = receivePaths.ReserveNew(*place, prefix, name)) {
        entry->reservation = std::move(*fresh);
        create = true;
    } else {
        RefuseOffer(record, OfferRefusal::NoFreeName, name);
        return true;
    }
    std::optional<std::int64_t> available = AvailableReceiveBytes();
    if (available && *available < size - offset + stillToWrite) {
        RefuseOffer(record, OfferRefusal::NoSpace, name);
        return true;  // the entry goes, and with it the reservation; no file was made
    }
    if (place) {
        entry->path = entry->reservation.Path();
        entry->below = {WString(PathNamePart(entry->path))};
        if (create)
            entry->file =
                ReceivePaths::CreatePartial(*place, entry->below.back(), size).value_or(OpenFile());
        entry->place = std::make_shared<const ContainedFolder>(std::move(*place));
    }
    bool opened = entry->OpenForReceive(offset);
    WString path = entry->path;
    record.offset = offset;
    std::uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        FileManager& placed = *receiveTasks.emplace(record.taskId, std::move(entry)).first->second;
        refusalsLogged.clear();  // a later refusal starts a new burst and is told again
        // Under the lock, so no fact about this transfer can come before its row.
        TransferFact shown =
            TransferFact::Shown(TransferDirection::Receiving, record.taskId, -1, path, {},
                                WString(PathNamePart(ReceivePaths::FinalPathOf(path))));
        shown.offeredName = name;  // a clash gives the file another name: the log tells it
        PostFact(std::move(shown));
        // The file is hashed on the digest worker, a kept part first once the accept is out.
        if (opened && placed.verify) {
            StartDigestLocked(TransferDirection::Receiving, record.taskId, placed, false);
            ticket = placed.proofTicket;
        }
    }
    if (!opened) {
        AbortReception(record.taskId, u"作成");
        return true;
    }
    AcceptReception(record, ticket);
    return true;
}

void TransferEngine::RefuseOffer(const FileRecord& record, OfferRefusal reason, WStringView name) {
    bool firstOfBurst;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        SilenceReceiveId(record.taskId);
        // A flood of offers gives one line per kind of refusal, until an offer is taken again.
        firstOfBurst = refusalsLogged.insert(reason).second;
    }
    if (firstOfBurst) {
        switch (reason) {
            case OfferRefusal::TooMany:
                AppendLog(Format(kFormatCapacity,
                                 u"SystemError:: \r\n受信中の転送が上限の%d件に達したため、"
                                 u"ファイルの申し出を断りました\r\nファイル名 > %s\r\n",
                                 static_cast<int>(kMaxReceptions), name));
                break;
            case OfferRefusal::NoSpace:
                AppendLog(Format(kFormatCapacity,
                                 u"SystemError:: \r\n受信フォルダの空き容量が足りないため、"
                                 u"ファイルの申し出を断りました\r\nファイル名 > %s (%s)\r\n",
                                 name, FormatByteCount(record.fileSize)));
                break;
            case OfferRefusal::NoFreeName:
                AppendLog(Format(kFormatCapacity,
                                 u"SystemError:: \r\n同じ名前のファイルが多すぎるため、"
                                 u"ファイルの申し出を断りました\r\nファイル名 > %s\r\n",
                                 name));
                break;
            case OfferRefusal::Declined:
                AppendLog(Format(kFormatCapacity,
                                 u"SystemMessage: \r\nファイルの申し出を断りました\r\n"
                                 u"ファイル名 > %s\r\n",
                                 name));
                break;
            case OfferRefusal::BadId:
                AppendLog(Format(kFormatCapacity,
                                 u"SystemError:: \r\n転送番号 %d は使えないため、"
                                 u"ファイルの申し出を断りました\r\nファイル名 > %s\r\n",
                                 record.taskId, name));
                break;
        }
    }
    // A cancel tells the offering side, whichever program it runs, that nothing will come.
    SendControl(NET_FILE_CANCEL, record.taskId);
}

bool TransferEngine::OnFileData(const FrameHeader& header, const DataPiece& piece) {
    auto id = static_cast<std::int32_t>(header.taskField);
    if (piece.first) dataFrame = {};
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(id);
        if (it == receiveTasks.end()) {
            // A reception that finished with this frame's earlier pieces drops the rest.
            if (!dataFrame.whole) dataFrame.unknown = true;
        } else if (FileManager& entry = *it->second; !entry.Ended()) {
            // Data while the kept part is still hashed is written after it: the stream takes
            // the kept part first. Never more than the offered size reaches the disk.
            std::int64_t room = entry.fileSize - entry.transferred;
            std::size_t accepted = static_cast<std::size_t>(
                std::clamp<std::int64_t>(room, 0, static_cast<std::int64_t>(piece.size)));
            if (!entry.WriteChunk(piece.bytes, accepted)) {
                entry.state = TransferState::Stopped;
                dataFrame.diskError = true;
            }
            dataFrame.whole = entry.state == TransferState::Done;
        }
    }
    // What the frame asks of the rest is done once, with its last piece.
    if (!piece.last) return true;
    bool unknown = dataFrame.unknown, diskError = dataFrame.diskError, whole = dataFrame.whole;
    if (unknown) {
        // Data for a transfer this side does not hold (it ended with an earlier link, say):
        // one cancel, so the sender stops and never reports it as delivered.
        bool answer;
        {
            std::lock_guard<std::mutex> guard(tasksLock);
            answer = silencedReceiveIds.count(id) == 0;
            SilenceReceiveId(id);
        }
        if (answer) SendControl(NET_FILE_CANCEL, id);
        return true;
    }
    if (diskError) {
        AbortReception(id, u"書き込み");
        return true;
    }
    // Every other frame is done here, with the task lock taken once.
    if (!whole) return true;
    std::unique_ptr<FileManager> finished;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(id);
        if (it != receiveTasks.end() && it->second->state == TransferState::Done) {
            FileManager& done = *it->second;
            if (done.verify) {
                // Every byte is on the disk, under the temporary name until the digest
                // proves it; the worker gives the reception's own digest once it has hashed
                // every block.
                done.state = TransferState::Verifying;
                std::uint64_t ticket = done.proofTicket;
                if (done.digest)
                    digests.Finish(done.digest,
                                   [this, id, ticket](std::optional<secure::FileDigest> digest) {
                                       OnReceptionHashed(id, ticket, digest);
                                   });
            } else {
                finished = std::move(it->second);
                receiveTasks.erase(it);
                SilenceReceiveId(id);
            }
        }
    }
    if (finished) FinishReception(id, std::move(finished));
    return true;
}

bool TransferEngine::FinishReception(std::int32_t taskId, std::unique_ptr<FileManager> finished) {
    // A folder's file already has its name inside the folder, which is named once whole.
    if (finished->folderId >= 0) return true;
    WString prefix =
        finished->path.substr(0, finished->path.size() - PathNamePart(finished->path).size());
    std::optional<WString> finalPath =
        finished->place
            ? receivePaths.PlaceFinished(*finished->place, prefix, finished->below.back())
            : std::nullopt;
    if (!finalPath) {
        // The file vanished under us (its folder was removed or renamed): not received.
        WString name(PathNamePart(finished->path));
        finished.reset();
        AbortReception(taskId, u"保存", name);
        return false;
    }
    TransferFigures figures = finished->Figures(taskId);
    finished.reset();  // the reservation goes only once the file has its final name
    FinishTransfer(figures, *finalPath);
    return true;
}

void TransferEngine::AbortReception(std::int32_t taskId, WStringView what, WString name) {
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(taskId);
        if (it != receiveTasks.end()) {
            if (name.empty()) name = WString(PathNamePart(it->second->path));
            receiveTasks.erase(it);  // closes the file; the partial file stays for a resume
        }
        SilenceReceiveId(taskId);
    }
    LogDiskError(what, name);
    // The row changes after the log line (once it shows the cancel, the reason is in the
    // log) and before the sender hears of it.
    ShowEnded(TransferDirection::Receiving, taskId, WString(kRowCancelled));
    SendControl(NET_FILE_CANCEL, taskId);
}

}  // namespace mirka
