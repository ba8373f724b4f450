// The receiving side of a folder: its offer, the entries that make its tree, and its files,
// each checked before anything touches the disk. Every path is made below the receive
// folder without following a link, and the folder keeps a temporary name until it is whole.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

namespace {
// Offers refused in advance, remembered at most.
constexpr std::size_t kRefusedOffersKept = 4096;
// Units of a peer's path quoted in a log line.
constexpr std::size_t kQuotedPathUnits = 200;

// A peer's path as a log line may show it: no control characters, not too long.
WString Quoted(std::string_view utf8) {
    WString text = FromUtf8(utf8);
    for (char16_t& c : text)
        if (c < 0x20 || c == 0x7F) c = u'?';
    CutUnits(text, kQuotedPathUnits);
    return text;
}
}  // namespace

bool TransferEngine::ReadBoundedText(FramePayload& payload, std::uint32_t length, std::size_t limit,
                                     std::string& text) {
    text.clear();
    // A text past the limit was read off and dropped by the link: it stays empty.
    if (length > limit) return true;
    text.resize(length);
    return payload.Read(text.data(), length);
}

bool TransferEngine::OnFolderFrame(const FrameHeader& header, const std::uint8_t* frame,
                                   FramePayload& payload) {
    link.AssertIoThread();
    std::uint32_t length = header.lengthField;
    switch (header.code) {
        case kFolderOfferCode: {
            FolderOfferFrame offer = DecodeFolderOfferHeader(frame);
            // Too long a name is left empty, and refused below as an empty name.
            if (!ReadBoundedText(payload, length, kMaxFolderNameBytes, offer.name)) return false;
            return OnFolderOffer(offer);
        }
        case kFolderEntryCode: {
            FolderEntryFrame entry = DecodeFolderEntryHeader(frame);
            // Too long a path is left empty, and refused below as an empty path.
            if (!ReadBoundedText(payload, length, kMaxFolderEntryPathBytes, entry.path))
                return false;
            HeldFrame held;
            held.entry = entry;
            if (HoldFolderFrame(entry.folderId, std::move(held))) return true;
            return OnFolderEntry(entry);
        }
        case kFolderEndCode: {
            std::int32_t folderId = DecodeFolderId(frame);
            HeldFrame held;
            held.end = true;
            if (!HoldFolderFrame(folderId, std::move(held))) OnFolderEnd(folderId);
            return true;
        }
        default:
            return true;
    }
}

bool TransferEngine::OnFolderOffer(const FolderOfferFrame& offer) {
    PeerPath checked = CheckPeerPath(offer.name);
    WString shownName = Quoted(offer.name);
    WStringView reason;
    if (offer.folderId < 0) {
        reason = u"フォルダの番号が使えない";
    } else if (checked.fault != PeerPathFault::None || checked.components.size() != 1) {
        reason = u"フォルダの名前が使えない";
    } else if (std::uint64_t{offer.fileCount} + offer.folderCount > kMaxFolderEntries) {
        reason = u"フォルダの項目が多すぎる";
    } else if (offer.totalBytes < 0 || offer.totalBytes > kMaxFolderBytes) {
        reason = u"フォルダが大きすぎる";
    }
    std::int64_t stillToWrite = 0;
    if (reason.empty()) {
        std::lock_guard<std::mutex> guard(tasksLock);
        if (receiveFolders.count(offer.folderId) || receiveTasks.count(offer.folderId) ||
            HeldId(offer.folderId))
            reason = u"同じ番号の転送が受信中の";
        else if (receiveFolders.size() + HeldCount(true) >= kMaxFolderReceptions)
            reason = u"受信中のフォルダが多すぎる";
        for (const auto& [id, running] : receiveTasks)
            stillToWrite += running->fileSize - running->transferred;
    }
    if (reason.empty() && offerQuestion) {
        HeldOffer held;
        held.taskId = offer.folderId;
        held.name = checked.components.front();
        held.folder = offer;
        HoldOffer(std::move(held), offer.totalBytes);
        return true;
    }
    return TakeFolderOffer(offer, checked, std::move(shownName), reason, stillToWrite);
}

bool TransferEngine::TakeFolderOffer(const FolderOfferFrame& offer, const PeerPath& checked,
                                     WString shownName, WStringView reason,
                                     std::int64_t stillToWrite) {
    ReceivingFolder folder;
    folder.prefix = ReceivePaths::FolderPrefix(values.ReceiveFolder());
    if (reason.empty()) {
        folder.name = checked.components.front();
        shownName = folder.name;
        if (std::optional<ContainedFolder> place = ContainedFolder::Open(folder.prefix))
            folder.place = std::make_shared<const ContainedFolder>(std::move(*place));
        else
            reason = u"受信フォルダを開けない";
    }
    if (reason.empty()) {
        // Taken up again or not, the whole folder must fit: what a cut session left is
        // proven before it counts.
        std::optional<std::int64_t> available = AvailableReceiveBytes();
        if (available && *available < offer.totalBytes + stillToWrite)
            reason = u"受信フォルダの空き容量が足りない";
    }
    if (reason.empty()) {
        // A folder whose transfer was cut goes on where it stands: its partial tree keeps
        // the temporary name, and what a reception wrote there is proven, not sent again.
        // Only a tree whose note says this program made it is taken up.
        for (int i = -1; i < ReceivePaths::kClashCandidates && !folder.tree; ++i) {
            WString root = (i < 0 ? folder.name : ReceivePaths::ClashName(folder.name, i)) +
                           WString(ReceivePaths::kTemporarySuffix);
            std::optional<PathReservation> held = receivePaths.Reserve(folder.prefix + root);
            if (!held) continue;
            if ((folder.tree = ReceivedTree::TakeUp(*folder.place, root))) {
                folder.reservation = std::move(*held);
                folder.rootName = root;
            }
        }
    }
    if (reason.empty() && !folder.tree) {
        std::optional<PathReservation> fresh =
            receivePaths.ReserveNew(*folder.place, folder.prefix, folder.name);
        if (!fresh) {
            reason = u"同じ名前のフォルダが多すぎる";
        } else {
            folder.rootName = WString(PathNamePart(fresh->Path()));
            folder.reservation = std::move(*fresh);
            folder.tree = ReceivedTree::Create(*folder.place, folder.rootName);
            if (!folder.tree) reason = u"フォルダを作れない";
        }
    }
    if (!reason.empty()) {
        bool firstOfBurst;
        {
            std::lock_guard<std::mutex> guard(tasksLock);
            firstOfBurst = !folderRefusalLogged;
            folderRefusalLogged = true;
        }
        // A flood of offers gives one line, until a folder is taken again.
        if (firstOfBurst)
            AppendLog(Format(kFormatCapacity,
                             u"SystemError:: \r\n%sため、フォルダの申し出を断りました\r\n"
                             u"フォルダ名 > %s\r\n",
                             reason, shownName));
        if (offer.folderId >= 0) SendControl(NET_FILE_CANCEL, offer.folderId);
        return true;
    }
    folder.modifiedNs = offer.modifiedNs;
    folder.entriesAnnounced = std::size_t{offer.fileCount} + offer.folderCount;
    folder.progress.filesTotal = static_cast<std::int32_t>(offer.fileCount);
    folder.progress.totalBytes = offer.totalBytes;
    WString finalPath = folder.prefix + ReceivePaths::FinalPathOf(folder.rootName);
    WString name = folder.name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        folderRefusalLogged = false;
        nextTaskId = FollowingTaskId(offer.folderId);
        receiveFolders.emplace(offer.folderId, std::move(folder));
        PostFact(TransferFact::Shown(TransferDirection::Receiving, offer.folderId, -1, finalPath));
    }
    AppendLog(FolderLogLine(u"SystemMessage: \r\nフォルダの受信を開始します", name, offer.fileCount,
                            offer.totalBytes));
    return true;
}

void TransferEngine::RefuseOfferLocked(std::int32_t taskId) {
    if (taskId < 0 || !refusedOffers.insert(taskId).second) return;
    refusedOrder.push_back(taskId);
    if (refusedOrder.size() > kRefusedOffersKept) {
        refusedOffers.erase(refusedOrder.front());
        refusedOrder.pop_front();
    }
}

bool TransferEngine::OnFolderEntry(const FolderEntryFrame& entry) {
    bool file = entry.kind == FolderEntryKind::File;
    // Read before the lock: a sub-folder is made only where the disk still holds it and the
    // bytes still to come.
    std::optional<std::int64_t> available;
    if (entry.kind == FolderEntryKind::Folder) available = AvailableReceiveBytes();
    WStringView reason;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveFolders.find(entry.folderId);
        if (it == receiveFolders.end()) {
            // The folder ended here: its file's offer is coming, and must not be taken alone.
            if (file) RefuseOfferLocked(entry.taskId);
            return true;
        }
        ReceivingFolder& folder = it->second;
        PeerPath checked = CheckPeerPath(entry.path);
        auto idInUse = [&](std::int32_t id) {
            if (receiveTasks.count(id) || receiveFolders.count(id) || HeldId(id)) return true;
            for (const auto& [otherId, other] : receiveFolders)
                if (other.announced.count(id) || other.running.count(id)) return true;
            return false;
        };
        if (!file && entry.kind != FolderEntryKind::Folder) {
            reason = u"種類の分からない項目";
        } else if (checked.fault != PeerPathFault::None) {
            reason = PeerPathFaultText(checked.fault);
        } else if (++folder.entriesSeen > folder.entriesAnnounced) {
            reason = u"申し出より多い項目";
        } else if (!file && ++folder.foldersSeen >
                                folder.entriesAnnounced -
                                    static_cast<std::size_t>(folder.progress.filesTotal)) {
            reason = u"申し出より多いフォルダ";
        } else if (file && (entry.taskId < 0 || idInUse(entry.taskId))) {
            reason = u"使えない転送番号";
        } else if (file && (entry.size < 0 ||
                            entry.size > folder.progress.totalBytes - folder.bytesAnnounced)) {
            reason = u"申し出より大きいファイル";
        } else if (file && folder.announced.size() >= kMaxFolderFilesWaiting) {
            reason = u"申し出の来ないファイルが多すぎる";
        } else if (folder.localPaths.Find(checked.components) != LocalPaths::Kind::None) {
            // " x" and "x", "x." and "x", "a?" and "a*" are one name here: the first keeps
            // it, and a second would write over or resume from the first's file.
            reason = u"ほかの項目と同じ名前になる";
        } else if (folder.localPaths.Find(
                       {checked.components.begin(), checked.components.end() - 1}) !=
                   LocalPaths::Kind::Folder) {
            reason = u"親のフォルダが先に届いていない";
        } else if (!file && (folder.folderPathMemory += PathMemory(checked.components)) >
                                kMaxFolderPathMemory) {
            reason = u"サブフォルダのパスの合計が大きすぎる";
        } else {
            std::vector<WString> below = folder.Below(checked.components);
            std::vector<WString> parent(below.begin(), below.end() - (file ? 1 : 0));
            if (!file && available &&
                *available < kFolderEntryBytes + UnwrittenBytesLocked(folder) &&
                FactsOf(folder.place->PathOf(below)).kind != PathFacts::Kind::Folder) {
                reason = u"受信フォルダの空き容量が足りない";
            } else if (!MakeNotedFolders(folder, parent)) {
                reason = u"フォルダを作れないか、リンクがある";
            } else if (file) {
                folder.bytesAnnounced += entry.size;
                folder.localPaths.Add(checked.components, false);
                folder.announced[entry.taskId] =
                    FolderMember{std::move(checked.components), entry.size, entry.modifiedNs};
            } else {
                folder.localPaths.Add(checked.components, true);
                folder.folderTimes.emplace_back(std::move(checked.components), entry.modifiedNs);
            }
        }
        if (!reason.empty() && file) RefuseOfferLocked(entry.taskId);
    }
    if (!reason.empty()) RefuseFolderEntry(entry.folderId, reason, Quoted(entry.path));
    return true;
}

std::size_t TransferEngine::PathMemory(const std::vector<WString>& components) {
    std::size_t bytes = sizeof(std::pair<std::vector<WString>, std::int64_t>);
    for (const WString& component : components)
        bytes += sizeof(WString) + (component.size() + 1) * sizeof(char16_t);
    return bytes;
}

std::optional<std::int64_t> TransferEngine::AvailableReceiveBytes() {
    WString prefix = ReceivePaths::FolderPrefix(values.ReceiveFolder());
    std::error_code error;
    std::filesystem::space_info space = std::filesystem::space(
        prefix.empty() ? std::filesystem::path(".") : ToFsPath(prefix), error);
    if (error) return std::nullopt;  // unknown: the writes will tell
    return static_cast<std::int64_t>(std::min<std::uintmax_t>(space.available, INT64_MAX));
}

std::int64_t TransferEngine::UnwrittenBytesLocked(const ReceivingFolder& folder) const {
    // This folder's files not yet announced and those waiting for their offers, and what
    // every reception under way has still to write.
    std::int64_t bytes = folder.progress.totalBytes - folder.bytesAnnounced;
    for (const auto& [id, member] : folder.announced) bytes += member.size;
    for (const auto& [id, running] : receiveTasks)
        bytes += running->fileSize - running->transferred;
    return bytes;
}

void TransferEngine::RefuseFolderEntry(std::int32_t folderId, WStringView reason,
                                       WStringView path) {
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveFolders.find(folderId);
        if (it == receiveFolders.end()) return;
        name = it->second.name;
    }
    AppendLog(Format(kFormatCapacity,
                     u"SystemError:: \r\n相手のフォルダの項目を受け取れないため、"
                     u"フォルダの受信を中止しました (%s)\r\nフォルダ名 > %s\r\n項目 > %s\r\n",
                     reason, name, path));
    EndFolder(TransferDirection::Receiving, folderId, WString(kRowCancelled), NET_FILE_CANCEL);
}

bool TransferEngine::ReceiveFolderMember(FileRecord record, std::int32_t folderId,
                                         FolderMember member) {
    WStringView reason;
    bool folderGone = false;
    std::unique_ptr<FileManager> entry;
    std::int64_t offset = 0;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveFolders.find(folderId);
        if (it == receiveFolders.end()) {
            folderGone = true;  // it ended meanwhile: only the offer is answered
        } else if (record.fileSize != member.size) {
            reason = u"申し出と大きさの違うファイル";
        } else if (receiveTasks.size() >= kMaxReceptions) {
            reason = u"受信中の転送が多すぎる";
        } else {
            ReceivingFolder& folder = it->second;
            std::vector<WString> below = folder.Below(member.components);
            ContainedFolder::LeafInfo leaf = folder.place->Inspect(below);
            WString path = folder.place->PathOf(below);
            std::optional<PathReservation> held;
            std::optional<OpenFile> file;
            if (leaf.kind == ContainedFolder::Leaf::Refused) {
                reason = u"リンクか特殊なファイルのある場所";
            } else if (!(held = receivePaths.Reserve(path))) {
                reason = u"受信中のファイルと同じ名前";
            } else if (leaf.kind == ContainedFolder::Leaf::RegularFile &&
                       (file = folder.tree->OpenMade(member.components))) {
                // What a reception wrote there is taken up: a file received whole is proven
                // by the digest and not sent again, a shorter one goes on, a longer one
                // starts over.
                if (leaf.size <= member.size) offset = leaf.size;
            } else if (leaf.kind == ContainedFolder::Leaf::RegularFile &&
                       !folder.tree->SetAside(member.components)) {
                // Anything else in its place is not ours to cut: it goes out of the tree.
                reason = u"ファイルを作れない";
            } else if (!(file = folder.tree->CreateFile(member.components))) {
                reason = u"ファイルを作れない";
            }
            if (file) {
                entry = std::make_unique<FileManager>(TransferDirection::Receiving);
                entry->fileSize = member.size;
                entry->folderId = folderId;
                entry->verify = true;
                entry->digestKind = DeliveryDigest();
                entry->path = path;
                entry->reservation = std::move(*held);
                entry->file = std::move(*file);
                entry->place = folder.place;
                entry->below = below;
            }
        }
    }
    // Opened without the lock. Only this thread takes the folder's entries and files, so
    // nothing of the folder moves meanwhile but its end by the user, which the second look
    // below catches.
    if (entry && !entry->OpenForReceive(offset)) {
        entry.reset();
        reason = u"ファイルを作れない";
    }
    std::string quoted;
    record.offset = offset;
    std::uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveFolders.find(folderId);
        if (entry && it != receiveFolders.end()) {
            FileManager& placed =
                *receiveTasks.emplace(record.taskId, std::move(entry)).first->second;
            it->second.filesTaken.insert(member.components);
            it->second.running.emplace(record.taskId, std::move(member));
            // The file is hashed on the digest worker, a kept part first once the accept is
            // out.
            StartDigestLocked(TransferDirection::Receiving, record.taskId, placed, false);
            ticket = placed.proofTicket;
        } else {
            folderGone = folderGone || it == receiveFolders.end();
            SilenceReceiveId(record.taskId);
            for (const WString& part : member.components) quoted += ToUtf8(part) + "/";
            if (!quoted.empty()) quoted.pop_back();
        }
    }
    if (folderGone || !reason.empty()) {
        entry.reset();  // closes the file before the folder's tree may go
        SendControl(NET_FILE_CANCEL, record.taskId);
        if (!folderGone) RefuseFolderEntry(folderId, reason, Quoted(quoted));
        return true;
    }
    AcceptReception(record, ticket);
    return true;
}

bool TransferEngine::MakeNotedFolders(ReceivingFolder& folder,
                                      const std::vector<WString>& components) {
    std::vector<std::pair<std::size_t, FileIdentity>> made;
    bool reached = folder.place->MakeFolders(components, &made);
    // Each folder made goes into the tree's note, so a delete may take it away again.
    for (const auto& [index, identity] : made) {
        if (index == 0) continue;  // the tree's root, noted when it was made
        std::vector<WString> below(components.begin() + 1,
                                   components.begin() + static_cast<std::ptrdiff_t>(index) + 1);
        if (!folder.tree->Record(ReceivedTree::Kind::Folder, below, identity)) reached = false;
    }
    return reached;
}

void TransferEngine::OnFolderEnd(std::int32_t folderId) {
    bool complete = false;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveFolders.find(folderId);
        if (it == receiveFolders.end()) return;
        ReceivingFolder& folder = it->second;
        folder.endSeen = true;
        complete = folder.announced.empty() && folder.running.empty();
    }
    if (complete) CompleteReceivingFolder(folderId);
}

}  // namespace mirka
