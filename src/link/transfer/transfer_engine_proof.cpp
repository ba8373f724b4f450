// The digest stream of a verified transfer, and the first bytes of a resumed one: hashed on the
// digest worker, where neither the link's I/O thread nor the task table's lock waits for
// them, and, between two copies that both
// announced the proof of kept parts, the receiver's kept part compared with the sender's
// first bytes before the rest is sent. A stale partial of another version then costs one
// start over at byte 0 instead of a whole file sent in vain.
#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

using Proof = FileManager::Proof;

void TransferEngine::StartDigestLocked(TransferDirection direction, std::int32_t taskId,
                                       FileManager& entry, bool proveKept) {
    entry.StartDigest(digests);
    entry.proofTicket = ++nextProofTicket;
    entry.proof = Proof::None;
    if (entry.keptBytes > 0 && proveKept) StartProofLocked(direction, taskId, entry);
}

void TransferEngine::StartProofLocked(TransferDirection direction, std::int32_t taskId,
                                      FileManager& entry) {
    bool proves = link.Shares(kVerifiedDelivery | kKeptPartProof);
    std::uint64_t ticket = entry.proofTicket;
    entry.ownSample.reset();
    entry.peerSample.reset();
    // The sample goes ahead of the kept part on the worker: a stale partial is told apart
    // before the part's first GiB has been read.
    if (proves && link.Shares(kKeptSample)) {
        digests.HashApart(
            entry.digest, KeptSampleRanges(entry.keptBytes),
            [this, direction, taskId, ticket](std::optional<secure::FileDigest> digest) {
                OnSampleHashed(direction, taskId, ticket, digest);
            });
    }
    // The first bytes go first: a reception's data, written after them, follows them in the
    // stream.
    digests.HashFile(entry.digest, 0, entry.keptBytes);
    // Without the proof of kept parts nothing waits for their digest. With it a send's data
    // waits until the receiver's kept part is compared, and a reception sends its own.
    if (!proves) return;
    entry.proof = Proof::Hashing;
    entry.proofStarted = std::chrono::steady_clock::now();
    entry.ownKept.reset();
    entry.peerKept.reset();
    digests.Mark(entry.digest,
                 [this, direction, taskId, ticket](std::optional<secure::FileDigest> digest) {
                     OnProofHashed(direction, taskId, ticket, digest);
                 });
}

void TransferEngine::AcceptReception(const FileRecord& record, std::uint64_t ticket) {
    FrameHeader header;
    header.code = NET_FILE_ACCEPT;
    auto reply = record.Encode();
    link.WriteFrame(header, {boost::asio::buffer(reply)});
    // Only the I/O thread feeds a reception's stream, and it is here: nothing is written
    // after the kept part before the part goes into the stream.
    std::lock_guard<std::mutex> guard(tasksLock);
    auto it = receiveTasks.find(record.taskId);
    if (it == receiveTasks.end() || it->second->proofTicket != ticket) return;
    FileManager& entry = *it->second;
    if (entry.digest && entry.keptBytes > 0 && entry.transferred == entry.keptBytes &&
        entry.proof == Proof::None)
        StartProofLocked(TransferDirection::Receiving, record.taskId, entry);
}

void TransferEngine::OnProofHashed(TransferDirection direction, std::int32_t taskId,
                                   std::uint64_t ticket, std::optional<secure::FileDigest> digest) {
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
        if (digest) {
            if (receiving) {
                entry.proof = Proof::None;
                kept = EncodeKeptPart({taskId, entry.keptBytes, *digest});
            } else {
                entry.ownKept = *digest;
                entry.proof = Proof::AwaitingPeer;
                // The receiver hashes as many bytes from about the same moment: beyond the
                // fixed wait it is given as long again as the hashing took here.
                auto now = std::chrono::steady_clock::now();
                entry.keptDue =
                    now + keptPartWait.load() +
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - entry.proofStarted);
                different = JudgeKeptLocked(entry, false);
                proven = entry.proof == Proof::None;
            }
        } else {
            // Nothing more moves; the pump ends it, as it ends transfers the user cancels.
            entry.proof = Proof::None;
            entry.state = TransferState::Stopped;
        }
    }
    if (!digest) {
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
    // The accept went when the offer came: the sender hashes its first bytes meanwhile.
    if (kept) SendDeliveryFrame(*kept);
    if (different) StartSendOver(taskId, ticket, std::move(name), false);
    if (proven && !receiving) link.Wake();
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
    StartOverLocked(send);
    return true;
}

bool TransferEngine::JudgeSampleLocked(FileManager& send) {
    if (!send.ownSample || !send.peerSample) return false;
    if (send.peerSample->first == send.keptBytes && send.peerSample->second == *send.ownSample)
        return false;
    StartOverLocked(send);
    return true;
}

void TransferEngine::StartOverLocked(FileManager& send) {
    // No data goes until the peer has heard that it starts at 0 (StartSendOver).
    bool started = send.StartOver();
    // The kept part's digest, if still under way, is dropped with its stream.
    send.DropDigest();
    if (started) {
        // The digest starts again from the first byte; the ticket stays, as StartSendOver
        // looks for it.
        std::uint64_t ticket = send.proofTicket;
        send.StartDigest(digests);
        send.proofTicket = ticket;
    } else {
        send.state = TransferState::Stopped;
    }
    send.proof = Proof::Judged;
}

void TransferEngine::OnSampleHashed(TransferDirection direction, std::int32_t taskId,
                                    std::uint64_t ticket,
                                    std::optional<secure::FileDigest> digest) {
    // A file shorter than its kept part is found by the kept part's own digest.
    if (!digest) return;
    bool receiving = direction == TransferDirection::Receiving;
    std::optional<ExtensionFrame> sample;
    bool different = false;
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto& table = receiving ? receiveTasks : sendTasks;
        auto it = table.find(taskId);
        if (it == table.end() || it->second->proofTicket != ticket ||
            (it->second->proof != Proof::Hashing && it->second->proof != Proof::AwaitingPeer))
            return;
        FileManager& entry = *it->second;
        if (receiving) {
            sample = EncodeKeptSample({taskId, entry.keptBytes, *digest});
        } else {
            entry.ownSample = *digest;
            different = JudgeSampleLocked(entry);
            name = WString(PathNamePart(entry.path));
        }
    }
    if (sample) SendDeliveryFrame(*sample);
    if (different) StartSendOver(taskId, ticket, std::move(name), false);
}

void TransferEngine::OnKeptSample(const KeptPartFrame& sample) {
    bool different = false;
    std::uint64_t ticket = 0;
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(sample.taskId);
        // As for the kept part: the first one for a send still being proven.
        if (it == sendTasks.end() || !it->second->verify || it->second->peerSample ||
            (it->second->proof != Proof::Hashing && it->second->proof != Proof::AwaitingPeer))
            return;
        FileManager& send = *it->second;
        send.peerSample.emplace(sample.bytes, sample.digest);
        different = JudgeSampleLocked(send);
        ticket = send.proofTicket;
        name = WString(PathNamePart(send.path));
    }
    if (different) StartSendOver(sample.taskId, ticket, std::move(name), false);
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
        // Its kept part may still be being hashed (the sender judged on the sample, or gave
        // up waiting): that digest is dropped with its stream.
        if (it == receiveTasks.end()) return;
        FileManager& reception = *it->second;
        if (!reception.verify ||
            (reception.proof != Proof::None && reception.proof != Proof::Hashing) ||
            reception.keptBytes <= 0 || reception.transferred != reception.keptBytes ||
            reception.state != TransferState::Running)
            return;
        name = WString(PathNamePart(ReceivePaths::FinalPathOf(reception.path)));
        started = reception.StartOver();
        if (started) StartDigestLocked(TransferDirection::Receiving, taskId, reception);
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
