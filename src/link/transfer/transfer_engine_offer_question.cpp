// Offers the front end is asked about: each waits, while the link goes on, until the answer
// comes back on the I/O thread. A held folder keeps what the peer sends of it meanwhile
// (the sender does not wait for an accept before its entries), within a bound.
#include <algorithm>

#include "link/transfer/transfer_engine.h"

namespace mirka {

namespace {
// What one folder may keep of its entries and files' offers while its offer waits; past it
// the folder is refused. Many sub-folders come before the first files, so it is generous.
constexpr std::size_t kMaxHeldFolderBytes = std::size_t{8} << 20;

// About what one held frame takes, its path with it.
constexpr std::size_t kHeldFrameBytes = 256;
std::size_t HeldSize(const FolderEntryFrame* entry) {
    return kHeldFrameBytes + (entry ? entry->path.size() : 0);
}
}  // namespace

void TransferEngine::AnswerOffer(std::uint64_t ticket, bool take) {
    link.PostToIoThread([this, ticket, take] { ApplyOfferAnswer(ticket, take); });
}

void TransferEngine::HoldOffer(HeldOffer held, std::int64_t bytes) {
    link.AssertIoThread();
    std::uint64_t ticket = nextOfferTicket++;
    OfferAsked asked;
    asked.ticket = ticket;
    asked.name = held.name;
    asked.bytes = bytes;
    asked.folder = held.folder.has_value();
    heldOffers.emplace(ticket, std::move(held));
    offerQuestion(asked);
}

bool TransferEngine::HeldId(std::int32_t taskId) const {
    for (const auto& [ticket, held] : heldOffers)
        if (held.taskId == taskId || held.memberIds.count(taskId)) return true;
    return false;
}

std::size_t TransferEngine::HeldCount(bool folders) const {
    return static_cast<std::size_t>(std::count_if(
        heldOffers.begin(), heldOffers.end(),
        [folders](const auto& held) { return held.second.folder.has_value() == folders; }));
}

void TransferEngine::ApplyOfferAnswer(std::uint64_t ticket, bool take) {
    link.AssertIoThread();
    auto it = heldOffers.find(ticket);
    if (it == heldOffers.end()) return;  // withdrawn, or the link it came on ended
    HeldOffer held = std::move(it->second);
    heldOffers.erase(it);
    std::int64_t stillToWrite = 0;
    bool full;
    {
        // What runs may have changed while the user thought.
        std::lock_guard<std::mutex> guard(tasksLock);
        full = held.file ? receiveTasks.size() + HeldCount(false) >= kMaxReceptions
                         : receiveFolders.size() + HeldCount(true) >= kMaxFolderReceptions;
        for (const auto& [id, running] : receiveTasks)
            stillToWrite += running->fileSize - running->transferred;
    }
    if (held.file) {
        FileRecord& record = *held.file;
        if (!take)
            RefuseOffer(record, OfferRefusal::Declined, held.name);
        else if (full)
            RefuseOffer(record, OfferRefusal::TooMany, held.name);
        else
            TakeFileOffer(record, held.name, std::max<std::int64_t>(record.fileSize, 0),
                          stillToWrite);
        return;
    }
    WStringView reason;
    if (!take)
        reason = u"受け取らないことにした";
    else if (full)
        reason = u"受信中のフォルダが多すぎる";
    TakeFolderOffer(*held.folder, CheckPeerPath(held.folder->name), held.name, reason,
                    stillToWrite);
    // Taken or not, what came of the folder meanwhile goes as it would have come.
    ReplayHeldFrames(held, true);
}

void TransferEngine::TellWithdrawn(std::uint64_t ticket) {
    OfferAsked gone;
    gone.ticket = ticket;
    gone.withdrawn = true;
    offerQuestion(gone);
}

void TransferEngine::ReplayHeldFrames(HeldOffer& held, bool withEnd) {
    for (HeldFrame& frame : held.frames) {
        if (frame.entry)
            OnFolderEntry(*frame.entry);
        else if (frame.offer)
            OnFileRecordOffer(std::move(*frame.offer));
        else if (frame.end && withEnd)
            OnFolderEnd(held.folder->folderId);
    }
}

bool TransferEngine::HoldFolderFrame(std::int32_t folderId, HeldFrame frame) {
    link.AssertIoThread();
    for (auto it = heldOffers.begin(); it != heldOffers.end(); ++it) {
        HeldOffer& held = it->second;
        if (!held.folder || held.taskId != folderId) continue;
        held.heldBytes += HeldSize(frame.entry ? &*frame.entry : nullptr);
        if (held.heldBytes > kMaxHeldFolderBytes) {
            // Refused at once; this frame then goes the way of a refused folder's.
            std::uint64_t ticket = it->first;
            HeldOffer refused = std::move(held);
            heldOffers.erase(it);
            TellWithdrawn(ticket);
            TakeFolderOffer(*refused.folder, CheckPeerPath(refused.folder->name), refused.name,
                            u"答えを待つ間に届いた項目が多すぎる", 0);
            ReplayHeldFrames(refused, false);
            return false;
        }
        if (frame.entry && frame.entry->kind == FolderEntryKind::File)
            held.memberIds.insert(frame.entry->taskId);
        held.frames.push_back(std::move(frame));
        return true;
    }
    return false;
}

bool TransferEngine::HoldMemberOffer(const FileRecord& record) {
    for (auto& [ticket, held] : heldOffers) {
        if (!held.folder || !held.memberIds.count(record.taskId)) continue;
        HeldFrame frame;
        frame.offer = record;
        return HoldFolderFrame(held.taskId, std::move(frame));
    }
    return false;
}

bool TransferEngine::WithdrawHeldOffer(std::int32_t taskId) {
    link.AssertIoThread();
    auto it = std::find_if(heldOffers.begin(), heldOffers.end(),
                           [taskId](const auto& held) { return held.second.taskId == taskId; });
    if (it == heldOffers.end()) return false;
    std::uint64_t ticket = it->first;
    HeldOffer held = std::move(it->second);
    heldOffers.erase(it);
    TellWithdrawn(ticket);
    if (held.file) {
        std::lock_guard<std::mutex> guard(tasksLock);
        SilenceReceiveId(taskId);
        return true;
    }
    // The folder never began here: its entries and files go as an ended folder's.
    ReplayHeldFrames(held, false);
    return true;
}

void TransferEngine::DropHeldOffers() {
    link.AssertIoThread();
    std::map<std::uint64_t, HeldOffer> dropped;
    dropped.swap(heldOffers);
    if (link.Stopping()) return;
    for (const auto& [ticket, held] : dropped) TellWithdrawn(ticket);
}

}  // namespace mirka
