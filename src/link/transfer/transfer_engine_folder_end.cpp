// How a folder ends: its files delivered one by one, the receiver's receipt for the whole,
// or a stop (cancel, delete, a bad entry, a file that failed); and what its row shows.
#include <filesystem>
#include <system_error>

#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

namespace {
// Ended folder files whose late accepts are still recognised.
constexpr std::size_t kEndedSendsKept = 1024;
}  // namespace

void TransferEngine::ShowEnded(TransferDirection direction, std::int32_t taskId, WString text) {
    std::optional<std::int32_t> folderId;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        folderId = TakeMemberLocked(direction, taskId);
    }
    // A folder's file that stops stops its folder: the folder arrives whole or not at all.
    if (folderId)
        EndFolder(direction, *folderId, std::move(text), NET_FILE_CANCEL);
    else
        PostFact(TransferFact::Status(direction, taskId, std::move(text)));
}

std::optional<std::int32_t> TransferEngine::TakeMemberLocked(TransferDirection direction,
                                                             std::int32_t taskId) {
    if (direction == TransferDirection::Sending) {
        for (auto& [id, folder] : sendFolders)
            if (folder.running.erase(taskId)) return id;
    } else {
        for (auto& [id, folder] : receiveFolders)
            if (folder.running.erase(taskId)) return id;
    }
    return std::nullopt;
}

void TransferEngine::MemberDelivered(TransferDirection direction, std::int32_t folderId,
                                     std::int32_t taskId, std::int64_t size) {
    bool complete = false;
    bool offerMore = false;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        if (direction == TransferDirection::Sending) {
            auto it = sendFolders.find(folderId);
            if (it == sendFolders.end() || !it->second.running.erase(taskId)) return;
            SendingFolder& folder = it->second;
            ++folder.progress.filesDone;
            folder.progress.bytesDone += size;
            offerMore = !folder.endSent;
            if (folder.endSent && folder.running.empty())
                folder.receiptDue = std::chrono::steady_clock::now() + receiptWait.load();
        } else {
            auto it = receiveFolders.find(folderId);
            if (it == receiveFolders.end()) return;
            ReceivingFolder& folder = it->second;
            auto member = folder.running.find(taskId);
            if (member == folder.running.end()) return;
            folder.place->SetModified(folder.Below(member->second.components),
                                      member->second.modifiedNs);
            folder.running.erase(member);
            ++folder.progress.filesDone;
            folder.progress.bytesDone += size;
            complete = folder.endSeen && folder.announced.empty() && folder.running.empty();
        }
    }
    if (offerMore) link.PostCommand([this, folderId] { OfferFolderEntries(folderId); });
    if (complete) CompleteReceivingFolder(folderId);
}

bool TransferEngine::OnFolderReceipt(const ReceiptFrame& receipt) {
    bool complete;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendFolders.find(receipt.taskId);
        if (it == sendFolders.end()) return false;
        // A receipt before every file was delivered proves nothing.
        if (!it->second.receiptDue) return true;
        complete = receipt.result == ReceiptResult::Verified;
    }
    if (complete)
        CompleteSendingFolder(receipt.taskId);
    else
        EndFolder(TransferDirection::Sending, receipt.taskId, WString(kRowUnverified), 0);
    return true;
}

void TransferEngine::CompleteSendingFolder(std::int32_t folderId) {
    TransferFigures figures{};
    WString path;
    std::size_t files;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendFolders.find(folderId);
        if (it == sendFolders.end()) return;
        const FolderProgress& progress = it->second.progress;
        figures = {TransferDirection::Sending, folderId,      progress.totalBytes,
                   progress.totalBytes,        progress.rate, progress.filesDone,
                   progress.filesTotal};
        path = it->second.path;
        files = it->second.listing.fileCount;
        sendFolders.erase(it);
    }
    // Only the receiver's receipt for the whole folder completes it: a proof, as for a file.
    figures.verified = true;
    FinishTransfer(figures, path,
                   FolderLogLine(u"SystemMessage: \r\nフォルダの送信が完了しました",
                                 PathNamePart(path), files, figures.fileSize));
}

void TransferEngine::CompleteReceivingFolder(std::int32_t folderId) {
    std::optional<ReceivingFolder> folder;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveFolders.find(folderId);
        if (it == receiveFolders.end()) return;
        folder.emplace(std::move(it->second));
        receiveFolders.erase(it);
        // The sub-folders' times last, deepest first: writing into a folder changes its time.
        for (auto time = folder->folderTimes.rbegin(); time != folder->folderTimes.rend(); ++time)
            folder->place->SetModified(folder->Below(time->first), time->second);
        folder->place->SetModified({folder->rootName}, folder->modifiedNs);
    }
    // The finished folder holds what this session announced and proved, nothing else: a
    // stray a reception left goes, anything else moves out of the tree.
    std::set<std::vector<WString>> announced = std::move(folder->filesTaken);
    for (const auto& [components, time] : folder->folderTimes) announced.insert(components);
    ReceivedTree::Sweep sweep = folder->tree->KeepOnly(announced);
    if (sweep.removed > 0)
        AppendLog(Format(kFormatCapacity,
                         u"SystemMessage: \r\n前の受信が残した%d個の項目は送信元になかったため、"
                         u"取り除きました\r\nフォルダ名 > %s\r\n",
                         static_cast<int>(sweep.removed), folder->name));
    if (sweep.setAside > 0)
        AppendLog(
            Format(kFormatCapacity,
                   u"SystemMessage: \r\n受信中のフォルダに送信元にない%d個の項目があったため、"
                   u"%sに移しました\r\nフォルダ名 > %s\r\n",
                   static_cast<int>(sweep.setAside), sweep.asideName, folder->name));
    // The whole folder takes its final name at once, never over a folder that is there.
    std::optional<WString> finalPath =
        sweep.stuck > 0
            ? std::nullopt
            : receivePaths.PlaceFinished(*folder->place, folder->prefix, folder->rootName);
    if (finalPath) folder->tree->Forget();
    const FolderProgress& progress = folder->progress;
    if (!finalPath) {
        LogDiskError(u"保存", folder->name);
        PostFact(
            TransferFact::Status(TransferDirection::Receiving, folderId, WString(kRowCancelled)));
        SendDeliveryFrame(EncodeReceipt({folderId, ReceiptResult::Failed}));
        return;
    }
    TransferFigures figures{TransferDirection::Receiving, folderId,      progress.totalBytes,
                            progress.totalBytes,          progress.rate, progress.filesDone,
                            progress.filesTotal};
    figures.verified = true;  // every file of it matched its digest
    FinishTransfer(
        figures, *finalPath,
        FolderLogLine(u"SystemMessage: \r\nフォルダの受信が完了しました", PathNamePart(*finalPath),
                      static_cast<std::size_t>(progress.filesDone), progress.totalBytes));
    // The receipt only after the window was told: this may run on the digest worker, and the
    // sender may end the link the moment the receipt arrives, whose end the I/O thread would
    // then tell the window first.
    SendDeliveryFrame(EncodeReceipt({folderId, ReceiptResult::Verified}));
}

void TransferEngine::EndFolder(TransferDirection direction, std::int32_t folderId, WString text,
                               std::uint16_t tell, bool removeTree) {
    std::vector<std::unique_ptr<FileManager>> stopped;
    std::optional<ReceivingFolder> received;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto stop = [&](auto& table, std::int32_t id) {
            auto it = table.find(id);
            if (it == table.end()) return;
            it->second->state = TransferState::Stopped;
            stopped.push_back(std::move(it->second));
            table.erase(it);
        };
        if (direction == TransferDirection::Sending) {
            auto it = sendFolders.find(folderId);
            if (it == sendFolders.end()) return;
            for (std::int32_t id : it->second.running) {
                stop(sendTasks, id);
                endedSends.insert(id);
                endedSendOrder.push_back(id);
            }
            while (endedSendOrder.size() > kEndedSendsKept) {
                endedSends.erase(endedSendOrder.front());
                endedSendOrder.pop_front();
            }
            sendFolders.erase(it);
        } else {
            auto it = receiveFolders.find(folderId);
            if (it == receiveFolders.end()) return;
            for (const auto& [id, member] : it->second.running) {
                stop(receiveTasks, id);
                SilenceReceiveId(id);
            }
            for (const auto& [id, member] : it->second.announced) RefuseOfferLocked(id);
            received.emplace(std::move(it->second));
            receiveFolders.erase(it);
        }
    }
    stopped.clear();  // the files close; a received folder's partial tree stays for a resume
    if (received && removeTree) {
        // What receptions made goes; anything else in the tree stays (links are never
        // followed).
        received->tree->RemoveMade();
        received->tree->Forget();
    }
    received.reset();  // its reservation goes only once the tree is gone
    PostFact(TransferFact::Status(direction, folderId, std::move(text)));
    if (tell != 0) SendControl(static_cast<NETCODE>(tell), folderId);
}

bool TransferEngine::ApplyFolderStatus(std::int32_t folderId, enumFileSendStatus status,
                                       TransferDirection direction) {
    bool sending = direction == TransferDirection::Sending;
    bool pause = status == FILE_PAUSE;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        if (sending ? !sendFolders.count(folderId) : !receiveFolders.count(folderId)) return false;
        if (status == FILE_PAUSE || status == FILE_RESEND) {
            if (sending) {
                PauseFolderLocked(sendFolders.at(folderId), pause);
            } else if (pause) {
                // Everything received so far is on the disk for a resume after the pause.
                for (const auto& [id, member] : receiveFolders.at(folderId).running) {
                    auto it = receiveTasks.find(id);
                    if (it != receiveTasks.end()) it->second->Flush();
                }
            }
        }
    }
    switch (status) {
        case FILE_CANCEL:
            EndFolder(direction, folderId, WString(kRowCancelled), NET_FILE_CANCEL);
            break;
        case FILE_DELETE:
            // The sender asks the receiver to delete what it has; the receiver deletes its
            // own partial tree and tells the sender it cancelled.
            EndFolder(direction, folderId, WString(kRowDeleted),
                      sending ? NET_FILE_DELETE : NET_FILE_CANCEL, !sending);
            break;
        case FILE_RESEND:
        case FILE_PAUSE:
            if (!sending) SendControl(pause ? NET_FILE_PAUSE : NET_FILE_RESEND, folderId);
            if (sending && !pause) OfferFolderEntries(folderId);
            link.Wake();
            break;
    }
    return true;
}

void TransferEngine::OnFolderControl(std::uint16_t code, std::int32_t folderId) {
    bool sending;
    bool receiving;
    bool pause = code == NET_FILE_PAUSE;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto sent = sendFolders.find(folderId);
        sending = sent != sendFolders.end();
        receiving = receiveFolders.count(folderId) != 0;
        if (sending && (code == NET_FILE_PAUSE || code == NET_FILE_RESEND))
            PauseFolderLocked(sent->second, pause);
    }
    switch (code) {
        case NET_FILE_CANCEL:
            if (sending) EndFolder(TransferDirection::Sending, folderId, WString(kRowCancelled), 0);
            if (receiving)
                EndFolder(TransferDirection::Receiving, folderId, WString(kRowCancelled), 0);
            break;
        case NET_FILE_DELETE:
            if (receiving)
                EndFolder(TransferDirection::Receiving, folderId, WString(kRowDeleted), 0, true);
            break;
        case NET_FILE_PAUSE:
        case NET_FILE_RESEND:
            if (sending && !pause)
                link.PostCommand([this, folderId] { OfferFolderEntries(folderId); });
            break;
        default:
            break;
    }
}

void TransferEngine::PauseFolderLocked(SendingFolder& folder, bool pause) {
    folder.paused = pause;
    for (std::int32_t id : folder.running) {
        auto it = sendTasks.find(id);
        if (it != sendTasks.end()) it->second->PauseOrResume(pause);
    }
}

std::int64_t TransferEngine::MovedLocked(const SendingFolder& folder) const {
    std::int64_t moved = folder.progress.bytesDone;
    for (std::int32_t id : folder.running) {
        auto it = sendTasks.find(id);
        if (it != sendTasks.end()) moved += it->second->transferred;
    }
    return moved;
}

std::int64_t TransferEngine::MovedLocked(const ReceivingFolder& folder) const {
    std::int64_t moved = folder.progress.bytesDone;
    for (const auto& [id, member] : folder.running) {
        auto it = receiveTasks.find(id);
        if (it != receiveTasks.end()) moved += it->second->transferred;
    }
    return moved;
}

std::vector<TransferFigures> TransferEngine::FolderFiguresLocked() const {
    std::vector<TransferFigures> figures;
    auto add = [&](TransferDirection direction, std::int32_t id, const auto& folder) {
        const FolderProgress& progress = folder.progress;
        figures.push_back({direction, id, MovedLocked(folder), progress.totalBytes, progress.rate,
                           progress.filesDone, progress.filesTotal});
    };
    for (const auto& [id, folder] : sendFolders) add(TransferDirection::Sending, id, folder);
    for (const auto& [id, folder] : receiveFolders) add(TransferDirection::Receiving, id, folder);
    return figures;
}

void TransferEngine::SampleFolderRatesLocked() {
    auto now = std::chrono::steady_clock::now();
    auto sample = [&](auto& folder) {
        FolderProgress& progress = folder.progress;
        std::chrono::duration<double> elapsed = now - progress.sampledAt;
        if (elapsed.count() < 0.5) return;
        std::int64_t moved = MovedLocked(folder);
        progress.rate =
            RateFigure(static_cast<double>(moved - progress.sampledBytes) / elapsed.count());
        progress.sampledBytes = moved;
        progress.sampledAt = now;
    };
    for (auto& [id, folder] : sendFolders) sample(folder);
    for (auto& [id, folder] : receiveFolders) sample(folder);
}

std::vector<std::int32_t> TransferEngine::TakeOverdueFoldersLocked() {
    std::vector<std::int32_t> overdue;
    auto now = std::chrono::steady_clock::now();
    for (const auto& [id, folder] : sendFolders)
        if (folder.receiptDue && *folder.receiptDue <= now) overdue.push_back(id);
    return overdue;
}

}  // namespace mirka
