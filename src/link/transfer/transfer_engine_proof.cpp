// The first bytes of a resumed transfer: hashed on the digest worker, where neither the link's
// I/O thread nor the task table's lock waits for them, and, between two copies that both
// announced the proof of kept parts, the receiver's kept part compared with the sender's
// first bytes before the rest is sent. A stale partial of another version then costs one
// start over at byte 0 instead of a whole file sent in vain.
#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

using Proof = FileManager::Proof;

void TransferEngine::StartProofLocked(TransferDirection direction, std::int32_t taskId,
                                      FileManager& entry, std::optional<FileRecord> accept) {
    entry.proof = Proof::Hashing;
    entry.proofTicket = ++nextProofTicket;
    entry.proofCancel = std::make_shared<std::atomic<bool>>(false);
    entry.ownKept.reset();
    entry.peerKept.reset();
    entry.keptDue = std::chrono::steady_clock::now() + keptPartWait.load();
    DigestWorker::Job job;
    // Reads at an offset only: the entry's own descriptor keeps its position.
    job.file = entry.file.Duplicate();
    job.bytes = entry.keptBytes;
    job.kind = entry.hasher.Kind();
    job.cancelled = entry.proofCancel;
    std::uint64_t ticket = entry.proofTicket;
    job.done = [this, direction, taskId, ticket,
                accept = std::move(accept)](std::optional<secure::FileHasher> hasher) {
        OnProofHashed(direction, taskId, ticket, accept, std::move(hasher));
    };
    digests.Submit(std::move(job));
}

void TransferEngine::OnProofHashed(TransferDirection direction, std::int32_t taskId,
                                   std::uint64_t ticket, std::optional<FileRecord> accept,
                                   std::optional<secure::FileHasher> hasher) {
    bool receiving = direction == TransferDirection::Receiving;
    std::optional<ExtensionFrame> kept;
    bool different = false;
    bool proven = false;
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto& table = receiving ? receiveTasks : sendTasks;
        auto it = table.find(taskId);
        // Cancelled, deleted or ended with the link meanwhile: the entry that holds the id
        // now (if any) is another transfer's.
        if (it == table.end() || it->second->proofTicket != ticket ||
            it->second->proof != Proof::Hashing)
            return;
        FileManager& entry = *it->second;
        name = WString(PathNamePart(entry.path));
        if (hasher) {
            entry.hasher = std::move(*hasher);
            bool proves = link.Shares(kVerifiedDelivery | kKeptPartProof);
            if (receiving || !proves) {
                entry.proof = Proof::None;
                proven = true;
                if (receiving && proves)
                    kept = EncodeKeptPart({taskId, entry.keptBytes, entry.hasher.Peek()});
            } else {
                entry.ownKept = entry.hasher.Peek();
                entry.proof = Proof::AwaitingPeer;
                different = JudgeKeptLocked(entry, false);
                proven = entry.proof == Proof::None;
            }
        } else {
            // Nothing more moves; the pump ends it, as it ends transfers the user cancels.
            entry.proof = Proof::None;
            entry.state = TransferState::Stopped;
        }
    }
    if (!hasher) {
        // The file is shorter than the part it kept or skipped: it changed under the
        // transfer, which cannot go on in step.
        link.PostCommand([this, direction, taskId, ticket] {
            {
                std::lock_guard<std::mutex> guard(tasksLock);
                auto& table = direction == TransferDirection::Receiving ? receiveTasks : sendTasks;
                auto it = table.find(taskId);
                if (it == table.end() || it->second->proofTicket != ticket) return;
            }
            if (direction == TransferDirection::Receiving)
                AbortReception(taskId, u"読み込み");
            else
                CancelAfterDiskError(taskId, direction, u"読み込み");
        });
        return;
    }
    if (receiving && accept) {
        // The accept and the kept part go as one unit: the sender has both at once.
        FrameHeader header;
        header.code = NET_FILE_ACCEPT;
        auto headerBytes = header.Encode();
        auto reply = accept->Encode();
        auto parts = FrameParts(headerBytes, {boost::asio::buffer(reply)});
        if (kept) parts.push_back(boost::asio::buffer(*kept));
        link.WriteParts(parts);
        return;
    }
    if (different) StartSendOver(taskId, ticket, std::move(name), false);
    if (proven) link.Wake();
}

bool TransferEngine::JudgeKeptLocked(FileManager& send, bool overdue) {
    if (send.proof != Proof::AwaitingPeer || (!overdue && !send.peerKept)) return false;
    bool same = !overdue && send.ownKept && send.peerKept->first == send.keptBytes &&
                send.peerKept->second == *send.ownKept;
    if (same) {
        // The rest follows; the whole file's digest at the end still decides.
        send.proof = Proof::None;
        return false;
    }
    // No data goes until the peer has heard that it starts at 0 (StartSendOver).
    send.proof = Proof::Judged;
    if (!send.StartOver()) send.state = TransferState::Stopped;
    return true;
}

void TransferEngine::StartSendOver(std::int32_t taskId, std::uint64_t ticket, WString name,
                                   bool unanswered) {
    AppendLog(Format(kFormatCapacity,
                     unanswered ? u"SystemError:: \r\n相手が途中まで受信した内容を確かめられない"
                                  u"ため、最初から送信します\r\nファイル名 > %s\r\n"
                                : u"SystemError:: \r\n相手が途中まで受信した内容がこのファイルと"
                                  u"一致しないため、最初から送信します\r\nファイル名 > %s\r\n",
                     name));
    SendDeliveryFrame(EncodeStartOver(taskId));
    bool stopped = false;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(taskId);
        if (it == sendTasks.end() || it->second->proofTicket != ticket ||
            it->second->proof != Proof::Judged)
            return;
        it->second->proof = Proof::None;
        stopped = it->second->state == TransferState::Stopped;
    }
    if (stopped) {
        CancelAfterDiskError(taskId, TransferDirection::Sending, u"読み込み");
        return;
    }
    link.Wake();
}

void TransferEngine::OnKeptPart(const KeptPartFrame& kept) {
    bool different = false;
    bool proven = false;
    std::uint64_t ticket = 0;
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(kept.taskId);
        // Only the first one for a send that waits for it counts; any other changes nothing.
        if (it == sendTasks.end() || !it->second->verify || it->second->peerKept ||
            (it->second->proof != Proof::Hashing && it->second->proof != Proof::AwaitingPeer))
            return;
        FileManager& send = *it->second;
        send.peerKept.emplace(kept.bytes, kept.digest);
        different = JudgeKeptLocked(send, false);
        proven = send.proof == Proof::None;
        ticket = send.proofTicket;
        name = WString(PathNamePart(send.path));
    }
    if (different) StartSendOver(kept.taskId, ticket, std::move(name), false);
    if (proven) link.Wake();
}

void TransferEngine::OnStartOver(std::int32_t taskId) {
    WString name;
    bool started;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(taskId);
        // Only a resumed reception that has taken no byte since its accept starts over: any
        // other frame of this kind changes nothing. Only this reception's own file is cut.
        if (it == receiveTasks.end()) return;
        FileManager& reception = *it->second;
        if (!reception.verify || reception.proof != Proof::None || reception.keptBytes <= 0 ||
            reception.transferred != reception.keptBytes ||
            reception.state != TransferState::Running)
            return;
        name = WString(PathNamePart(ReceivePaths::FinalPathOf(reception.path)));
        started = reception.StartOver();
    }
    if (!started) {
        AbortReception(taskId, u"書き込み");
        return;
    }
    AppendLog(
        Format(kFormatCapacity,
               u"SystemError:: \r\n途中まで受信していた内容が送信元のファイルと一致しないため、"
               u"最初から受信し直します\r\nファイル名 > %s\r\n",
               name));
}

std::vector<std::tuple<std::int32_t, std::uint64_t, WString>>
TransferEngine::TakeOverdueProofsLocked() {
    std::vector<std::tuple<std::int32_t, std::uint64_t, WString>> overdue;
    auto now = std::chrono::steady_clock::now();
    for (auto& [id, send] : sendTasks) {
        if (send->proof == Proof::AwaitingPeer && !send->peerKept && send->keptDue <= now &&
            JudgeKeptLocked(*send, true))
            overdue.emplace_back(id, send->proofTicket, WString(PathNamePart(send->path)));
    }
    return overdue;
}

}  // namespace mirka
