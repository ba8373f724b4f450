// Verified delivery between two copies that both announced it: the sender's digest of the
// whole file, the receiver's comparison and receipt, one fetch again after a mismatch, and
// the sends whose receipt never came.
#include <boost/asio/buffer.hpp>

#include "link/transfer/transfer_engine.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

void TransferEngine::SendDeliveryFrame(const ExtensionFrame& frame) {
    link.WriteParts({boost::asio::buffer(frame)});
}

void TransferEngine::OnDeliveryFrame(std::uint16_t code, const std::uint8_t* frame) {
    link.AssertIoThread();
    if (code == kDigestCode) {
        OnDigest(DecodeDigest(frame));
    } else if (code == kKeptPartCode) {
        OnKeptPart(DecodeKeptPart(frame));
    } else if (code == kKeptSampleCode) {
        OnKeptSample(DecodeKeptPart(frame));
    } else if (code == kStartOverCode) {
        OnStartOver(DecodeStartOver(frame));
    } else if (auto receipt = DecodeReceipt(frame)) {
        OnReceipt(*receipt);
    }
}

void TransferEngine::OnDigest(const DigestFrame& digest) {
    std::uint64_t ticket;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(digest.taskId);
        if (it == receiveTasks.end() || !it->second->verify) return;
        FileManager& reception = *it->second;
        // The first digest for the file as it stands counts, compared once the worker has
        // the reception's own.
        if (reception.peerFinal) return;
        reception.peerFinal = digest.digest;
        ticket = reception.proofTicket;
        if (reception.state == TransferState::Verifying && !reception.ownFinal) return;
    }
    JudgeReception(digest.taskId, ticket);
}

void TransferEngine::OnReceptionHashed(std::int32_t taskId, std::uint64_t ticket,
                                       std::optional<secure::FileDigest> digest) {
    bool judge = false;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(taskId);
        if (it == receiveTasks.end() || it->second->proofTicket != ticket ||
            it->second->state != TransferState::Verifying)
            return;
        if (digest) {
            it->second->ownFinal = digest;
            judge = it->second->peerFinal.has_value();
        }
    }
    // The file read back shorter than it was written: something cut it meanwhile.
    if (!digest) {
        AbortReception(taskId, u"読み込み");
        return;
    }
    if (judge) JudgeReception(taskId, ticket);
}

void TransferEngine::JudgeReception(std::int32_t taskId, std::uint64_t ticket) {
    enum class Outcome { Proven, Again, Failed } outcome;
    std::unique_ptr<FileManager> entry;
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = receiveTasks.find(taskId);
        // Judged already (the I/O thread and the worker may both come here for it).
        if (it == receiveTasks.end() || it->second->proofTicket != ticket || !it->second->peerFinal)
            return;
        FileManager& reception = *it->second;
        name = WString(PathNamePart(reception.path));
        // A digest before the last byte fails the file at once: no honest sender sends one,
        // and the stream is still open, so fetching the file again could not start in step.
        if (reception.state != TransferState::Verifying) {
            outcome = Outcome::Failed;
        } else if (!reception.ownFinal) {
            return;
        } else if (*reception.ownFinal == *reception.peerFinal) {
            outcome = Outcome::Proven;
        } else if (reception.mismatches == 0) {
            // Nothing that pretends to be the file stays: the temporary file starts again
            // from its first byte.
            reception.mismatches = 1;
            outcome = reception.OpenForReceive(0) ? Outcome::Again : Outcome::Failed;
            if (outcome == Outcome::Again)
                StartDigestLocked(TransferDirection::Receiving, taskId, reception);
        } else {
            outcome = Outcome::Failed;
        }
        if (outcome != Outcome::Again) {
            entry = std::move(it->second);
            receiveTasks.erase(it);
            SilenceReceiveId(taskId);
        }
    }
    switch (outcome) {
        case Outcome::Proven: {
            std::int32_t folderId = entry->folderId;
            std::int64_t size = entry->fileSize;
            if (!FinishReception(taskId, std::move(entry))) return;
            SendDeliveryFrame(EncodeReceipt({taskId, ReceiptResult::Verified}));
            // The folder's own receipt, should this file complete it, comes after the file's.
            if (folderId >= 0)
                MemberDelivered(TransferDirection::Receiving, folderId, taskId, size);
            return;
        }
        case Outcome::Again:
            AppendLog(Format(kFormatCapacity,
                             u"SystemError:: \r\n受信したファイルが送信元の内容と一致しないため、"
                             u"最初から受信し直します\r\nファイル名 > %s\r\n",
                             name));
            SendDeliveryFrame(EncodeReceipt({taskId, ReceiptResult::SendAgain}));
            return;
        case Outcome::Failed:
            DeleteReceivedFile(std::move(entry));
            AppendLog(Format(kFormatCapacity,
                             u"SystemError:: \r\n受信したファイルが送信元の内容と一致しないため、"
                             u"受信を中止しました\r\nファイル名 > %s\r\n",
                             name));
            ShowEnded(TransferDirection::Receiving, taskId, WString(kRowUnverified));
            SendDeliveryFrame(EncodeReceipt({taskId, ReceiptResult::Failed}));
            return;
    }
}

void TransferEngine::OnReceipt(const ReceiptFrame& receipt) {
    if (OnFolderReceipt(receipt)) return;
    std::unique_ptr<FileManager> entry;
    bool again = false;
    WString name;
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(receipt.taskId);
        if (it == sendTasks.end() || it->second->state != TransferState::Verifying) return;
        FileManager& send = *it->second;
        name = WString(PathNamePart(send.path));
        // The file is sent again once: a receiver that asks a second time (an honest one
        // fails the file instead) ends the send as unverified. The count of a send's
        // mismatches is that of the receipts that asked.
        if (receipt.result == ReceiptResult::SendAgain && send.mismatches++ == 0) {
            send.state = TransferState::Waiting;  // running again once the file is open
            again = send.OpenForSend(0);
            if (again) StartDigestLocked(TransferDirection::Sending, receipt.taskId, send);
        }
        if (!again) {
            entry = std::move(it->second);
            sendTasks.erase(it);
        }
    }
    if (again) {
        AppendLog(Format(kFormatCapacity,
                         u"SystemError:: \r\n相手が受信したファイルの内容が一致しないため、"
                         u"最初から送り直します\r\nファイル名 > %s\r\n",
                         name));
        link.Wake();
        return;
    }
    if (receipt.result == ReceiptResult::Verified) {
        if (entry->folderId >= 0) {
            MemberDelivered(TransferDirection::Sending, entry->folderId, receipt.taskId,
                            entry->fileSize);
        } else {
            FinishTransfer(entry->Figures(receipt.taskId), entry->path);
        }
        return;
    }
    AppendLog(Format(kFormatCapacity,
                     u"SystemError:: \r\n相手が受信したファイルの内容が一致しないため、"
                     u"送信を中止しました\r\nファイル名 > %s\r\n",
                     name));
    ShowEnded(TransferDirection::Sending, receipt.taskId, WString(kRowUnverified));
    // A send that is not sent again (its file would not open, or the receiver asked twice)
    // tells the peer, which waits for data.
    if (receipt.result == ReceiptResult::SendAgain) SendControl(NET_FILE_CANCEL, receipt.taskId);
}

void TransferEngine::OnSendHashed(std::int32_t taskId, std::uint64_t ticket,
                                  std::optional<secure::FileDigest> digest) {
    {
        std::lock_guard<std::mutex> guard(tasksLock);
        auto it = sendTasks.find(taskId);
        if (it == sendTasks.end() || it->second->proofTicket != ticket || !it->second->finalPending)
            return;
        FileManager& send = *it->second;
        send.finalPending = false;
        if (digest)
            send.receiptDue = std::chrono::steady_clock::now() + receiptWait.load();
        else
            send.state = TransferState::Stopped;
    }
    // The file read back shorter than it was sent: it changed under the send.
    if (!digest) {
        CancelAfterDiskError(taskId, TransferDirection::Sending, u"読み込み");
        return;
    }
    // The last data frame went before the worker was asked for this.
    SendDeliveryFrame(EncodeDigest({taskId, *digest}));
}

std::vector<std::pair<std::int32_t, WString>> TransferEngine::TakeOverdueSends() {
    std::vector<std::pair<std::int32_t, WString>> overdue;
    auto now = std::chrono::steady_clock::now();
    for (auto it = sendTasks.begin(); it != sendTasks.end();) {
        const FileManager& send = *it->second;
        if (send.state == TransferState::Verifying && send.receiptDue <= now) {
            overdue.emplace_back(it->first, WString(PathNamePart(send.path)));
            it = sendTasks.erase(it);
        } else {
            ++it;
        }
    }
    return overdue;
}

void TransferEngine::ReportUnconfirmed(std::int32_t taskId, WStringView name, bool linkLost) {
    AppendLog(Format(kFormatCapacity,
                     linkLost ? u"SystemError:: \r\n接続が切れたため、ファイルが相手に届いたことを"
                                u"確認できませんでした\r\nファイル名 > %s\r\n"
                              : u"SystemError:: \r\nファイルが相手に届いたことを確認できません"
                                u"でした\r\nファイル名 > %s\r\n",
                     name));
    ShowEnded(TransferDirection::Sending, taskId, WString(kRowUnconfirmed));
}

}  // namespace mirka
