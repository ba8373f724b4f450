#include <algorithm>
#include <optional>
#include <system_error>
#include <tuple>

#include <boost/asio/write.hpp>

#include "common/debug_log.h"
#include "common/log_message.h"
#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

namespace asio = boost::asio;

namespace {
constexpr std::size_t kChunkBytes = 2048;
// Whole data frames are gathered up to this size before one write. Each write is one hand-off
// to the I/O thread, and a chat line waits behind at most one (about 0.3 ms at 900 MB/s).
constexpr std::size_t kWriteBatchBytes = 256 * 1024;

// Running, or done and still to be finished by the next pass; a send whose first bytes are
// still being proven waits.
bool Moving(const FileManager& entry) {
    return entry.proof == FileManager::Proof::None &&
           (entry.state == TransferState::Running || entry.state == TransferState::Done);
}

}  // namespace

void TransferEngine::SendFile(const WString& path, int row) {
    link.PostCommand([this, path, row] { OfferFile(path, row); });
}

void TransferEngine::SetFileStatus(std::int32_t taskId, enumFileSendStatus status,
                                   TransferDirection direction) {
    link.PostCommand([=, this] { ApplyFileStatus(taskId, status, direction); });
}

std::int32_t TransferEngine::NextTaskId() {
    std::lock_guard<std::mutex> guard(tasksLock);
    return nextTaskId;
}

std::int32_t TransferEngine::TakeTaskIdLocked() {
    std::int32_t id = nextTaskId;
    // An id still in use here (either direction, a file or a folder) would mix up rows and
    // controls.
    while (sendTasks.count(id) || receiveTasks.count(id) || sendFolders.count(id) ||
           receiveFolders.count(id))
        id = FollowingTaskId(id);
    nextTaskId = FollowingTaskId(id);
    return id;
}

void TransferEngine::OfferFile(const WString& path, int row) {
    std::error_code error;
    std::filesystem::path source = ToFsPath(path);
    if (std::filesystem::is_directory(source, error)) {
        OfferFolder(path, row);
        return;
    }
    // The file as it is now is the one sent: its first bytes and size are read through the
    // descriptor, and the accept opens it again only if it is still this file.
    std::optional<OpenFile> in = OpenFile::OpenForReading(path);
    if (!in) {
        // A file that vanished or cannot be read, or no regular file: nothing is offered.
        AppendLog(Format(kFormatCapacity,
                         u"SystemError:: \r\nファイルを開けないため送信しません\r\n"
                         u"ファイル名 > %s\r\n",
                         path));
        PostFact(
            TransferFact::Shown(TransferDirection::Sending, -1, row, path, WString(kRowCancelled)));
        return;
    }
    std::array<std::uint8_t, kChecksumBytes> head{};
    in->ReadAt(head.data(), head.size(), 0);
    std::int64_t size = std::max<std::int64_t>(in->Size(), 0);
    FileIdentity identity = in->Identity();
    in.reset();

    FileRecord record;
    record.name = WString(PathNamePart(path));
    record.checksum = ResumeChecksum(head.data());
    record.fileSize = size;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        record.taskId = TakeTaskIdLocked();
        auto entry = std::make_unique<FileManager>(TransferDirection::Sending);
        entry->path = path;
        entry->source = identity;
        entry->fileSize = size;
        entry->ownerWindow = &window;
        sendTasks.emplace(record.taskId, std::move(entry));
        // Under the lock, so no fact about this transfer can come before its row.
        PostFact(TransferFact::Shown(TransferDirection::Sending, record.taskId, row, path));
    }
    FrameHeader header;
    header.code = NET_FILE_OFFER;
    auto bytes = record.Encode();
    if (link.WriteFrame(header, {asio::buffer(bytes)})) return;
    // The link ended under the offer: no accept can come, so it must not wait for one.
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        sendTasks.erase(record.taskId);
    }
    PostFact(
        TransferFact::Status(TransferDirection::Sending, record.taskId, WString(kRowCancelled)));
}

bool TransferEngine::OnFileAccept(FramePayload& payload) {
    std::array<std::uint8_t, FileRecord::kBytes> bytes;
    if (!payload.Read(bytes.data(), bytes.size())) return false;
    FileRecord record = FileRecord::Decode(bytes.data());
    std::int64_t localSize;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(record.taskId);
        if (it == sendTasks.end()) {
            // A file of a folder that ended while its offer was out: nothing to tell.
            if (endedSends.count(record.taskId)) return true;
            localSize = -1;
        } else {
            localSize = it->second->fileSize;
        }
    }
    // The peer's frame, not the user, caused these: a line in the log, once a link for each
    // kind, as a peer may send any number of them.
    if (localSize < 0) {
        LogPeerFault(PeerFault::UnknownAccept,
                     Format(kFormatCapacity, u"taskId %d == EOF", record.taskId));
        return true;
    }
    if (localSize != record.fileSize) {
        LogPeerFault(PeerFault::AcceptSize,
                     Format(kFormatCapacity, u"ヘッダが壊れています %d != %d",
                            static_cast<std::int32_t>(localSize),
                            static_cast<std::int32_t>(record.fileSize)));
    }
    bool opened = false;
    WString path;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(record.taskId);
        if (it == sendTasks.end()) return true;  // cancelled meanwhile
        FileManager& entry = *it->second;
        std::int64_t offset = std::clamp<std::int64_t>(record.offset, 0, entry.fileSize);
        // A folder's files are always proven: their receiver waits for every digest, and a
        // folder is complete only with all of them.
        entry.verify = entry.folderId >= 0 || link.Shares(kVerifiedDelivery);
        entry.digestKind = DeliveryDigest();
        opened = entry.OpenForSend(offset);
        path = entry.path;
        // The file is hashed on the digest worker, the skipped part first; between two copies
        // that prove kept parts it is compared with the receiver's before the rest goes.
        if (opened && entry.verify) {
            StartDigestLocked(TransferDirection::Sending, record.taskId, entry);
        }
    }
    if (opened) {
        link.Wake();
        return true;
    }
    DebugLog::Instance().Write("NetManager", __LINE__, "send_failed<>",
                               ToNarrow(Format(kFormatCapacity, u"send file%s", path)));
    AppendLog(u"SystemError:: \r\nファイル送信に失敗しました\r\n");
    SetFileStatus(record.taskId, FILE_CANCEL, TransferDirection::Sending);
    return true;
}

void TransferEngine::CancelAfterDiskError(std::int32_t taskId, TransferDirection direction,
                                          WStringView what) {
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto& table = direction == TransferDirection::Sending ? sendTasks : receiveTasks;
        auto it = table.find(taskId);
        if (it == table.end()) return;
        it->second->state = TransferState::Stopped;
        name = WString(PathNamePart(it->second->path));
    }
    LogDiskError(what, name);
    SetFileStatus(taskId, FILE_CANCEL, direction);
}

void TransferEngine::LogPeerFault(PeerFault fault, WStringView what) {
    link.AssertIoThread();
    if (!peerFaultsLogged.insert(fault).second) return;
    AppendLog(Format(kFormatCapacity,
                     u"SystemError:: \r\n%s\r\n(この接続では、同じ誤りをこれ以上記録しません)\r\n",
                     what));
}

void TransferEngine::LogDiskError(WStringView what, WStringView name) {
    AppendLog(Format(kFormatCapacity,
                     u"SystemError:: \r\nファイルの%sに失敗したため、転送を中止します\r\n"
                     u"ファイル名 > %s\r\n",
                     what, name));
}

void TransferEngine::EndTransfersWithLink() {
    link.AssertIoThread();
    std::vector<std::tuple<TransferDirection, std::int32_t, WString>> ended;
    std::vector<std::pair<std::int32_t, WString>> unconfirmed;
    std::vector<std::tuple<TransferDirection, std::int32_t, WString>> endedFolders;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        for (auto* table : {&sendTasks, &receiveTasks}) {
            auto direction =
                table == &sendTasks ? TransferDirection::Sending : TransferDirection::Receiving;
            for (auto& [id, entry] : *table) {
                if (entry->folderId >= 0) continue;  // its folder tells the user, once
                WString name(PathNamePart(entry->path));
                // A send that only waited for its receipt may well have arrived: it is not
                // called cancelled, only unconfirmed.
                if (direction == TransferDirection::Sending &&
                    entry->state == TransferState::Verifying && !entry->finalPending)
                    unconfirmed.emplace_back(id, std::move(name));
                else
                    ended.emplace_back(direction, id, std::move(name));
            }
            table->clear();  // closes the files; a receiver's partial file stays on disk
        }
        for (const auto& [id, folder] : sendFolders)
            endedFolders.emplace_back(TransferDirection::Sending, id, folder.listing.name);
        for (const auto& [id, folder] : receiveFolders)
            endedFolders.emplace_back(TransferDirection::Receiving, id, folder.name);
        sendFolders.clear();
        receiveFolders.clear();  // a received folder's partial tree stays for a resume
        refusedOffers.clear();
        refusedOrder.clear();
        // Ids of the next link are new: none of their data is dropped without an answer.
        silencedReceiveIds.clear();
        silencedOrder.clear();
        refusalsLogged.clear();
    }
    peerFaultsLogged.clear();  // the next link's peer is told of again
    DropHeldOffers();
    // At exit nothing is told: a window that was never detached (tests that let their
    // window go before the manager) may be gone already.
    if (link.Stopping()) return;
    for (const auto& [id, name] : unconfirmed) ReportUnconfirmed(id, name, true);
    auto tellEnded = [this](const auto& rows, WStringView message) {
        for (const auto& [direction, id, name] : rows) {
            PostFact(TransferFact::Status(direction, id, WString(kRowCancelled)));
            AppendLog(Format(kFormatCapacity, message, name));
        }
    };
    tellEnded(ended,
              u"SystemMessage: \r\n接続が切れたため、転送を中止しました\r\n"
              u"ファイル名 > %s\r\n");
    tellEnded(endedFolders,
              u"SystemMessage: \r\n接続が切れたため、フォルダの転送を中止しました\r\n"
              u"フォルダ名 > %s\r\n");
}

void TransferEngine::OnFileControl(const FrameHeader& header) {
    auto id = static_cast<std::int32_t>(header.lengthField);
    // An offer still waiting for the user's answer is withdrawn by the peer's cancel.
    if (header.code == NET_FILE_CANCEL || header.code == NET_FILE_DELETE) WithdrawHeldOffer(id);
    OnFolderControl(header.code, id);
    std::vector<std::pair<TransferDirection, std::unique_ptr<FileManager>>> removed;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto take = [&](TransferDirection direction) {
            auto& table = direction == TransferDirection::Sending ? sendTasks : receiveTasks;
            auto it = table.find(id);
            if (it == table.end()) return;
            it->second->state = TransferState::Stopped;
            // The sender knows: data still on the way for this id is dropped silently.
            if (direction == TransferDirection::Receiving) SilenceReceiveId(id);
            removed.emplace_back(direction, std::move(it->second));
            table.erase(it);
        };
        switch (header.code) {
            case NET_FILE_CANCEL:
                // Either side may cancel. Should both directions hold this id, the frame
                // cannot tell which one is meant: both stop, and no file is lost by it.
                take(TransferDirection::Sending);
                take(TransferDirection::Receiving);
                break;
            case NET_FILE_DELETE:
                take(TransferDirection::Receiving);  // never deletes a file this side sends
                break;
            case NET_FILE_RESEND:
            case NET_FILE_PAUSE: {
                auto it = sendTasks.find(id);
                if (it != sendTasks.end()) it->second->PauseOrResume(header.code == NET_FILE_PAUSE);
                break;
            }
            default:
                break;
        }
    }
    link.Wake();
    for (auto& [direction, entry] : removed) {
        bool deleting = header.code == NET_FILE_DELETE;
        // The file goes first: a row that reads deleted never stands beside its file.
        if (deleting) DeleteReceivedFile(std::move(entry));
        ShowEnded(direction, id, WString(deleting ? kRowDeleted : kRowCancelled));
    }
}

void TransferEngine::ApplyFileStatus(std::int32_t taskId, enumFileSendStatus status,
                                     TransferDirection direction) {
    if (ApplyFolderStatus(taskId, status, direction)) return;
    bool sendingSide = direction == TransferDirection::Sending;
    std::unique_ptr<FileManager> removed;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto& table = sendingSide ? sendTasks : receiveTasks;
        auto it = table.find(taskId);
        if (it == table.end()) return;
        FileManager& entry = *it->second;
        if (status == FILE_RESEND || status == FILE_PAUSE) {
            // The sender pauses itself; the receiver asks the sender, and keeps on disk all
            // it has, so a resume after a pause finds every byte.
            if (sendingSide) entry.PauseOrResume(status == FILE_PAUSE);
            if (!sendingSide && status == FILE_PAUSE) entry.Flush();
            if (!sendingSide) entry.pausedHere = status == FILE_PAUSE;
        } else {
            entry.state = TransferState::Stopped;
            if (!sendingSide) SilenceReceiveId(taskId);
            removed = std::move(it->second);
            table.erase(it);
        }
    }
    // The receiver deletes its own temporary file, before its row reads deleted.
    if (removed && !sendingSide && status == FILE_DELETE) DeleteReceivedFile(std::move(removed));
    if (status == FILE_CANCEL || status == FILE_DELETE)
        ShowEnded(direction, taskId, WString(status == FILE_CANCEL ? kRowCancelled : kRowDeleted));
    switch (status) {
        case FILE_CANCEL:
            SendControl(NET_FILE_CANCEL, taskId);
            break;
        case FILE_DELETE:
            if (sendingSide) {
                SendControl(NET_FILE_DELETE, taskId);
            } else {
                SendControl(NET_FILE_CANCEL, taskId);  // the sender hears a cancel
            }
            break;
        case FILE_RESEND:
            if (!sendingSide) SendControl(NET_FILE_RESEND, taskId);
            break;
        case FILE_PAUSE:
            if (!sendingSide) SendControl(NET_FILE_PAUSE, taskId);
            break;
    }
}

bool TransferLink::WriteFrame(const FrameHeader& header,
                              std::initializer_list<asio::const_buffer> payload) {
    auto headerBytes = header.Encode();
    return WriteParts(FrameParts(headerBytes, payload));
}

void TransferEngine::AppendLog(WStringView text) {
    AppendLogTo(&window, nullptr, text);
}

void TransferEngine::SendControl(NETCODE code, std::int32_t taskId) {
    FrameHeader header;
    header.code = code;
    header.lengthField = static_cast<std::uint32_t>(taskId);
    link.WriteFrame(header);
}

bool TransferEngine::SenderPass() {
    link.AssertPumpThread();
    std::vector<std::int32_t> ids;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        for (const auto& [id, entry] : sendTasks)
            if (Moving(*entry)) ids.push_back(id);
    }
    for (std::int32_t id : ids) {
        std::unique_ptr<FileManager> finished;
        {
            std::lock_guard<std::mutex> guard(tasksLock);
            auto it = sendTasks.find(id);
            if (it == sendTasks.end()) continue;
            FileManager& entry = *it->second;
            if (entry.state == TransferState::Done && entry.verify) {
                // Sent, not yet delivered: the digest follows the last data frame once the
                // worker has hashed every block, and the row waits for the receipt.
                entry.state = TransferState::Verifying;
                entry.finalPending = true;
                entry.receiptDue = std::chrono::steady_clock::time_point::max();
                std::uint64_t ticket = entry.proofTicket;
                digests.Finish(entry.digest,
                               [this, id, ticket](std::optional<secure::FileDigest> digest) {
                                   OnSendHashed(id, ticket, digest);
                               });
                continue;
            } else if (entry.state == TransferState::Done) {
                finished = std::move(it->second);
                sendTasks.erase(it);
            }
        }
        if (finished) {
            FinishTransfer(finished->Figures(id), finished->path);
            continue;
        }
        SendChunks(id);
    }
    std::lock_guard<std::mutex> guard(tasksLock);
    return std::any_of(sendTasks.begin(), sendTasks.end(),
                       [](const auto& task) { return Moving(*task.second); });
}

void TransferEngine::SendChunks(std::int32_t taskId) {
    std::int32_t budget = link.SendBudget();
    // A budget below 1 would send empty chunks for ever; it counts as the default instead.
    if (budget < 1) budget = kDefaultSendBufSize;
    std::size_t chunk = static_cast<std::size_t>(std::min<std::int32_t>(budget, kChunkBytes));
    // Room for one batch, or for what this pass may send when that is less (the default pace
    // sends one small frame a pass). Kept from pass to pass and never cleared: each chunk is
    // read straight into it, so no byte is zeroed or freshly mapped for a pass.
    std::size_t frameBytes = FrameHeader::kBytes + chunk;
    std::size_t passFrames = static_cast<std::size_t>(budget) / kChunkBytes + 1;
    std::size_t room = std::min(kWriteBatchBytes + frameBytes, passFrames * frameBytes);
    if (sendFrames.size() < room) sendFrames.resize(room);
    std::uint8_t* frames = sendFrames.data();
    std::size_t used = 0;
    bool eof = false;
    bool readFailed = false;
    do {
        std::size_t start = used;
        std::size_t count = 0;
        {
            std::lock_guard<std::mutex> guard(tasksLock);
            auto it = sendTasks.find(taskId);
            if (it == sendTasks.end() || it->second->state != TransferState::Running ||
                it->second->proof != FileManager::Proof::None)
                break;
            count = it->second->ReadChunk(chunk, frames + start + FrameHeader::kBytes, readFailed);
            eof = it->second->state == TransferState::Done;
        }
        if (readFailed) break;
        FrameHeader header;
        header.code = NET_FILE_DATA;
        header.taskField = static_cast<std::uint32_t>(taskId);
        header.lengthField = static_cast<std::uint32_t>(count);
        auto headerBytes = header.Encode();
        std::copy(headerBytes.begin(), headerBytes.end(), frames + start);
        used = start + FrameHeader::kBytes + count;
        if (used >= kWriteBatchBytes) {
            if (!link.WriteParts({asio::buffer(frames, used)})) return;
            used = 0;
            link.RunWaitingCommands();
        }
        budget -= static_cast<std::int32_t>(kChunkBytes);
    } while (!eof && budget > static_cast<std::int32_t>(kChunkBytes));
    if (used > 0) link.WriteParts({asio::buffer(frames, used)});
    if (readFailed) CancelAfterDiskError(taskId, TransferDirection::Sending, u"読み込み");
}

void TransferEngine::DeleteReceivedFile(std::unique_ptr<FileManager> entry) {
    // The file goes before its reservation does, so no new reception can pick it meanwhile.
    // Only the file this reception made goes, whatever has taken its name since.
    FileIdentity made = entry->file.Identity();
    entry->CloseFile();
    if (!entry->place || entry->below.empty()) return;
    if (entry->folderId < 0)
        ReceivePaths::Discard(*entry->place, entry->below.back(), made);
    else
        entry->place->RemoveFileIf(entry->below, made);
}

void TransferEngine::FinishTransfer(const TransferFigures& figures, const WString& path,
                                    const WString& message) {
    auto shown = window.Borrow();
    if (!shown) return;
    shown->PostTransferFact(TransferFact::Finished(figures, path));
    shown->AppendLogMessage(BuildLogMessage(
        nullptr, message.empty() ? TransferCompleteMessage(figures, path) : message));
    shown->ShowLinkEvent(LinkEvent::TransferFinished);
}

std::vector<TransferFigures> TransferEngine::FiguresLocked() const {
    std::vector<TransferFigures> figures = FolderFiguresLocked();
    for (const auto* table : {&sendTasks, &receiveTasks}) {
        for (const auto& [id, entry] : *table)
            if (entry->folderId < 0) figures.push_back(entry->Figures(id));
    }
    return figures;
}

std::vector<TransferFigures> TransferEngine::TransferFiguresSnapshot() {
    std::lock_guard<std::mutex> guard(tasksLock);
    return FiguresLocked();
}

void TransferEngine::RefreshTransfers() {
    // Posted under the task lock: a transfer that ends meanwhile posts its final figures only
    // after these, so they are never overwritten by older ones (and an ended row takes no
    // figures at all).
    std::vector<std::pair<std::int32_t, WString>> overdue;
    std::vector<std::int32_t> overdueFolders;
    std::vector<std::tuple<std::int32_t, std::uint64_t, WString>> unproven;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        overdue = TakeOverdueSends();
        unproven = TakeOverdueProofsLocked();
        overdueFolders = TakeOverdueFoldersLocked();
        SampleFolderRatesLocked();
        std::vector<TransferFigures> figures = FiguresLocked();
        if (!figures.empty()) PostFact(TransferFact::Progress(std::move(figures)));
    }
    for (const auto& [id, name] : overdue) ReportUnconfirmed(id, name, false);
    for (auto& [id, ticket, name] : unproven) StartSendOver(id, ticket, std::move(name), true);
    for (std::int32_t id : overdueFolders)
        EndFolder(TransferDirection::Sending, id, WString(kRowUnconfirmed), 0);
}

void TransferEngine::PostFact(TransferFact fact) {
    if (auto shown = window.Borrow()) shown->PostTransferFact(std::move(fact));
}

bool TransferEngine::OnFileFrame(const FrameHeader& header, FramePayload& payload) {
    link.AssertIoThread();
    switch (header.code) {
        case NET_FILE_OFFER:
            return OnFileOffer(payload);
        case NET_FILE_ACCEPT:
            return OnFileAccept(payload);
        default:
            OnFileControl(header);
            return true;
    }
}

secure::DigestKind TransferEngine::DeliveryDigest() const {
    // Each side asks when it starts a transfer (the sender at the accept, the receiver at the
    // offer), after both announcements arrived: both choose the same.
    return link.Shares(kVerifiedDelivery | kSha256Digest) ? secure::DigestKind::Sha256
                                                          : secure::DigestKind::Blake2b256;
}

}  // namespace mirka
