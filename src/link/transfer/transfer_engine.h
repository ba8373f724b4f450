#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include <boost/asio/buffer.hpp>

#include "common/chat_font.h"
#include "common/program_values.h"
#include "link/transfer/digest_worker.h"
#include "link/transfer/file_manager.h"
#include "link/transfer/folder_state.h"
#include "link/transfer/receive_paths.h"
#include "link/transport/pump_command.h"
#include "link/window_port.h"
#include "link/wire/delivery_frames.h"
#include "link/wire/file_record.h"
#include "link/wire/folder_frames.h"
#include "link/wire/frame.h"
#include "link/wire/frame_payload.h"

namespace mirka {

// Receptions that may run at once (each holds an open file); further offers are refused.
inline constexpr std::size_t kMaxReceptions = 64;

// The end of a verified transfer that did not end well, as its row shows it.
inline constexpr char16_t kRowUnconfirmed[] = u"届いたか確認できませんでした";
inline constexpr char16_t kRowUnverified[] = u"内容が一致しませんでした";

// The id after another. Ids stay within 0 to INT32_MAX, as rows take them: after the last
// one the sequence starts again at 0.
inline std::int32_t FollowingTaskId(std::int32_t id) {
    return id >= 0 && id < INT32_MAX ? id + 1 : 0;
}

// What the user or the peer asks of a transfer; the values are the frame codes.
enum enumFileSendStatus : int {
    FILE_CANCEL = 7,
    FILE_DELETE = 8,
    FILE_RESEND = 9,
    FILE_PAUSE = 10,
};

// What the transfer engine needs of the link it runs on.
class TransferLink {
public:
    virtual ~TransferLink() = default;

    // Any thread: one unit of whole frames to the peer; false when the link is gone.
    virtual bool WriteParts(const std::vector<boost::asio::const_buffer>& parts) = 0;
    // Any thread: one frame, its header and payload parts written as one unit.
    bool WriteFrame(const FrameHeader& header,
                    std::initializer_list<boost::asio::const_buffer> payload = {});
    // Any thread: runs the command on the pump thread.
    virtual void PostCommand(PumpCommand command) = 0;
    // Any thread: runs the job on the I/O thread, between the peer's frames.
    virtual void PostToIoThread(std::function<void()> job) = 0;
    // Any thread: the pump looks at the senders again.
    virtual void Wake() = 0;
    // Pump thread, between the batches of a send: commands waiting (a chat line, a cancel)
    // go out before the next batch of file data.
    virtual void RunWaitingCommands() = 0;
    // Bytes a sender may put out in one pass.
    virtual std::int32_t SendBudget() const = 0;
    // True once the manager is closing: the window may be gone.
    virtual bool Stopping() const = 0;
    // Both sides announced every one of these capabilities on the current link.
    virtual bool Shares(std::uint32_t capabilities) const = 0;
    // Pump thread: on a link that has just begun, waits a moment for the peer's announcement,
    // so that a feature is not refused only because the peer's first frame is still coming.
    virtual void AwaitPeerAnnouncement() = 0;
    // Debug builds: the caller runs on the link's I/O thread, or on its pump thread.
    virtual void AssertIoThread() const = 0;
    virtual void AssertPumpThread() const = 0;
};

// The file transfers of one link manager: the task tables (one per direction), offers,
// accepts, data, pause, resume, cancel and delete, the names received files get, and what
// the window is told about each transfer. It writes to the peer only through its link.
class TransferEngine {
public:
    TransferEngine(TransferLink& link, WindowSlot& window, ProgramValues& values)
        : link(link), window(window), values(values) {}

    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // Any thread: queue a send (with the row the window added for it, or -1) or a status
    // change; both run on the pump thread.
    void SendFile(const WString& path, int row);
    void SetFileStatus(std::int32_t taskId, enumFileSendStatus status, TransferDirection direction);
    // Tests (through the link manager's seam): the id the next own send would take.
    std::int32_t NextTaskId();

    // Pump thread.
    void OfferFile(const WString& path, int row);
    void ApplyFileStatus(std::int32_t taskId, enumFileSendStatus status,
                         TransferDirection direction);
    // One pass over the senders; returns whether a transfer still has data to send.
    bool SenderPass();

    // I/O thread: an offer, accept or control frame from the peer, its payload whole; false
    // when the link must stop reading.
    bool OnFileFrame(const FrameHeader& header, FramePayload& payload);
    // I/O thread: a piece of a data frame, as it came; false when the link must stop reading.
    bool OnFileData(const FrameHeader& header, const DataPiece& piece);
    // I/O thread: a digest or receipt of verified delivery (header-only frames).
    void OnDeliveryFrame(std::uint16_t code, const std::uint8_t* frame);
    // I/O thread: a folder's offer, entry or end; false when the link must stop reading.
    bool OnFolderFrame(const FrameHeader& header, const std::uint8_t* frame, FramePayload& payload);
    // I/O thread, when a link ends: bytes in flight are lost, so no transfer can go on in
    // step over the next link; each one ends, and a new offer resumes the kept partial file.
    void EndTransfersWithLink();

    // Pump thread, once a second (tests call it at will): the figures of every running
    // transfer for the rows, and the sends whose receipt is overdue.
    void RefreshTransfers();
    // How long a verified send waits for its receipt after its digest (tests shorten it).
    void SetReceiptWait(std::chrono::milliseconds wait) { receiptWait = wait; }
    // How long a resumed send waits for the receiver's kept part after its accept.
    void SetKeptPartWait(std::chrono::milliseconds wait) { keptPartWait = wait; }
    // Before the link manager's threads and members go: no hashing runs on after it.
    void StopDigestWorker() { digests.Stop(); }
    // Any thread.
    std::vector<TransferFigures> TransferFiguresSnapshot();
    // An offer of a file or a folder that waits for the front end's answer, before anything
    // is made for it; or (`withdrawn`) one that is gone unanswered: the peer cancelled it or
    // the link ended.
    struct OfferAsked {
        std::uint64_t ticket = 0;  // names it in AnswerOffer; never used twice
        WString name;              // the plain name
        std::int64_t bytes = 0;
        bool folder = false;
        bool withdrawn = false;
    };
    // Told on the I/O thread, so it must not wait: the answer comes later through AnswerOffer.
    // Meanwhile the link goes on, and the offer counts among the receptions (or folders) a
    // peer may have running. Unset, every offer is taken at once, as the window takes them.
    // Set before a link starts.
    using OfferQuestion = std::function<void(const OfferAsked& asked)>;
    void SetOfferQuestion(OfferQuestion question) { offerQuestion = std::move(question); }
    // Any thread: takes or refuses an offer asked about; an answer for an offer that is gone
    // is dropped.
    void AnswerOffer(std::uint64_t ticket, bool take);

private:
    // A free id for a new send or folder; tasksLock held.
    std::int32_t TakeTaskIdLocked();
    // Ends a transfer's row with `text` (cancelled, deleted, ...), or the whole folder the
    // transfer belonged to.
    void ShowEnded(TransferDirection direction, std::int32_t taskId, WString text);
    bool OnFileOffer(FramePayload& payload);
    bool OnFileRecordOffer(FileRecord record);
    // The offer passed every check that does not need the user: the file is made and taken.
    bool TakeFileOffer(FileRecord record, const WString& name, std::int64_t size,
                       std::int64_t stillToWrite);
    bool OnFileAccept(FramePayload& payload);
    void OnFileControl(const FrameHeader& header);
    enum class OfferRefusal { TooMany, NoSpace, NoFreeName, BadId, Declined };
    // Answers an offer with a cancel.
    void RefuseOffer(const FileRecord& record, OfferRefusal reason, WStringView name);
    // Later data for this id is dropped without an answer; tasksLock held.
    void SilenceReceiveId(std::int32_t taskId);
    std::vector<TransferFigures> FiguresLocked() const;  // tasksLock held
    // Tells the attached window (if any) a fact about a transfer.
    void PostFact(TransferFact fact);
    void AppendLog(WStringView text);
    // Faults of the peer's frames that end nothing: each kind is told once a link.
    enum class PeerFault { UnknownAccept, AcceptSize, ReusedReceiveId };
    // I/O thread: one log line `what` for the fault, unless one was told on this link.
    void LogPeerFault(PeerFault fault, WStringView what);
    // One line: the disk refused `what` (reading, writing, ...) for the named file.
    void LogDiskError(WStringView what, WStringView name);
    // Gives a received file its final name and tells the window; false when it could not.
    bool FinishReception(std::int32_t taskId, std::unique_ptr<FileManager> finished);
    // The digest verified delivery proves files with on the current link.
    secure::DigestKind DeliveryDigest() const;
    // Verified delivery (transfer_engine_verify.cpp).
    void OnDigest(const DigestFrame& digest);
    void OnReceipt(const ReceiptFrame& receipt);
    void SendDeliveryFrame(const ExtensionFrame& frame);
    // The digest of a verified transfer (transfer_engine_proof.cpp): a new stream on the digest
    // worker for the entry's file from its first byte; tasksLock held. A resumed transfer's
    // first `entry.keptBytes` go first (StartProofLocked, unless `proveKept` is false: a
    // reception asks for them once its accept is out, so that its kept part follows it), and
    // their digest comes to OnProofHashed.
    void StartDigestLocked(TransferDirection direction, std::int32_t taskId, FileManager& entry,
                           bool proveKept = true);
    void StartProofLocked(TransferDirection direction, std::int32_t taskId, FileManager& entry);
    // A reception's accept goes out, then its kept part (if any) is hashed.
    void AcceptReception(const FileRecord& record, std::uint64_t ticket);
    // Worker thread: the digest of the first bytes (nothing when the file had fewer). A
    // reception sends it as its kept part where both sides prove kept parts.
    void OnProofHashed(TransferDirection direction, std::int32_t taskId, std::uint64_t ticket,
                       std::optional<secure::FileDigest> digest);
    // Worker thread: a send's whole digest, which then goes to the peer.
    void OnSendHashed(std::int32_t taskId, std::uint64_t ticket,
                      std::optional<secure::FileDigest> digest);
    // Worker thread: a reception's own digest, compared once the sender's is in too.
    void OnReceptionHashed(std::int32_t taskId, std::uint64_t ticket,
                           std::optional<secure::FileDigest> digest);
    // A reception with both digests in (or a sender's digest before the last byte) is proven,
    // fetched again or failed; tasksLock not held.
    void JudgeReception(std::int32_t taskId, std::uint64_t ticket);
    // Worker thread: the sample of the first bytes (KeptSampleRanges). A reception sends it
    // ahead of its kept part; a send compares it with the receiver's.
    void OnSampleHashed(TransferDirection direction, std::int32_t taskId, std::uint64_t ticket,
                        std::optional<secure::FileDigest> digest);
    void OnKeptPart(const KeptPartFrame& kept);
    void OnKeptSample(const KeptPartFrame& sample);
    void OnStartOver(std::int32_t taskId);
    // A send with both samples in that differ starts over at once (StartSendOver follows, as
    // for JudgeKeptLocked); samples that match leave the verdict to the kept part.
    bool JudgeSampleLocked(FileManager& send);
    // A send's first bytes are not the receiver's kept part: it goes back to byte 0 with a new
    // digest; tasksLock held.
    void StartOverLocked(FileManager& send);
    // A send with both digests of its first bytes in (or the receiver's overdue) goes on or
    // starts over; tasksLock held. True when it starts over: the caller tells the peer with
    // StartSendOver before any data goes.
    bool JudgeKeptLocked(FileManager& send, bool overdue);
    void StartSendOver(std::int32_t taskId, std::uint64_t ticket, WString name, bool unanswered);
    // Sends whose receiver's kept part is overdue, judged as different; tasksLock held.
    std::vector<std::tuple<std::int32_t, std::uint64_t, WString>> TakeOverdueProofsLocked();
    // Window thread, tasksLock held: sends whose receipt is overdue end as unconfirmed.
    std::vector<std::pair<std::int32_t, WString>> TakeOverdueSends();
    void ReportUnconfirmed(std::int32_t taskId, WStringView name, bool linkLost);
    // Ends a reception that cannot go on: row, one log line, a cancel to the sender.
    void AbortReception(std::int32_t taskId, WStringView what, WString name = WString());
    void DeleteReceivedFile(std::unique_ptr<FileManager> entry);
    void SendChunks(std::int32_t taskId);
    void SendControl(NETCODE code, std::int32_t taskId);
    // `path`: the sent file's path, or where a received file ended.
    // `message`: the log line, when not a single file's.
    void FinishTransfer(const TransferFigures& figures, const WString& path,
                        const WString& message = WString());
    void CancelAfterDiskError(std::int32_t taskId, TransferDirection direction, WStringView what);

    // Folders (transfer_engine_folder_send.cpp, _folder_receive.cpp, _folder_end.cpp).
    void OfferFolder(const WString& path, int row);
    // Pump thread: offers the folder's next entries while fewer than the limit are in flight.
    void OfferFolderEntries(std::int32_t folderId);
    bool OnFolderOffer(const FolderOfferFrame& offer);
    // The folder's offer from its checks on (`reason` empty: none refused it yet).
    bool TakeFolderOffer(const FolderOfferFrame& offer, const PeerPath& checked, WString shownName,
                         WStringView reason, std::int64_t stillToWrite);
    bool OnFolderEntry(const FolderEntryFrame& entry);
    void OnFolderEnd(std::int32_t folderId);
    // A file's offer that a folder entry announced; false when the link must stop reading.
    // Makes the folders of `components` (from the receive folder) and notes those made.
    bool MakeNotedFolders(ReceivingFolder& folder, const std::vector<WString>& components);
    bool ReceiveFolderMember(FileRecord record, std::int32_t folderId, FolderMember member);
    // Reads a text payload of `length` bytes into `text`; one longer than `limit` was read
    // off and dropped by the link, and leaves `text` empty. False when the link must stop.
    bool ReadBoundedText(FramePayload& payload, std::uint32_t length, std::size_t limit,
                         std::string& text);
    // The folder a member transfer belongs to, taking the member out of it; tasksLock held.
    std::optional<std::int32_t> TakeMemberLocked(TransferDirection direction, std::int32_t taskId);
    // A member was delivered (sending: its receipt came; receiving: its digest matched).
    void MemberDelivered(TransferDirection direction, std::int32_t folderId, std::int32_t taskId,
                         std::int64_t size);
    void CompleteSendingFolder(std::int32_t folderId);
    void CompleteReceivingFolder(std::int32_t folderId);
    // Ends a folder that did not complete: its running members stop, its row reads `text`,
    // and the peer hears `tell` (a control code, or 0 for nothing). A received folder's
    // partial tree stays for a later resume unless `removeTree`.
    void EndFolder(TransferDirection direction, std::int32_t folderId, WString text,
                   std::uint16_t tell, bool removeTree = false);
    // A folder's row asks for a status change; false when the id is no folder's.
    bool ApplyFolderStatus(std::int32_t folderId, enumFileSendStatus status,
                           TransferDirection direction);
    // A control frame from the peer for a folder's id (the file tables hear it too).
    void OnFolderControl(std::uint16_t code, std::int32_t folderId);
    // The offer announced with this id is refused when it comes; tasksLock held.
    void RefuseOfferLocked(std::int32_t taskId);
    // A receiver's receipt for a whole folder; false when the id is no sending folder's.
    bool OnFolderReceipt(const ReceiptFrame& receipt);
    // A received folder stopped by a bad entry: one log line, the folder ends.
    void RefuseFolderEntry(std::int32_t folderId, WStringView reason, WStringView path);
    // About what a path below a received folder takes in memory where it is kept.
    static std::size_t PathMemory(const std::vector<WString>& components);
    // The receive folder's free bytes, or nothing when they cannot be read.
    std::optional<std::int64_t> AvailableReceiveBytes();
    // Bytes a receiving folder and every reception under way have still to write; tasksLock
    // held.
    std::int64_t UnwrittenBytesLocked(const ReceivingFolder& folder) const;
    void PauseFolderLocked(SendingFolder& folder, bool pause);  // tasksLock held
    // A folder's bytes moved: its files done and what its running files moved; tasksLock held.
    std::int64_t MovedLocked(const SendingFolder& folder) const;
    std::int64_t MovedLocked(const ReceivingFolder& folder) const;
    std::vector<TransferFigures> FolderFiguresLocked() const;  // tasksLock held
    void SampleFolderRatesLocked();
    // Sends and folders whose receipt is overdue; tasksLock held.
    std::vector<std::int32_t> TakeOverdueFoldersLocked();

    TransferLink& link;
    WindowSlot& window;
    ProgramValues& values;

    // The temporary paths that running receptions hold; outlives the task table.
    ReceivePaths receivePaths;

    // The task table, one map per direction: data frames always address a file this side
    // receives and accepts one it sends, so a clash of ids cannot mix two files.
    std::mutex tasksLock;
    std::map<std::int32_t, std::unique_ptr<FileManager>> sendTasks;
    std::map<std::int32_t, std::unique_ptr<FileManager>> receiveTasks;
    std::map<std::int32_t, SendingFolder> sendFolders;
    std::map<std::int32_t, ReceivingFolder> receiveFolders;
    // Offers announced for a folder this side does not hold (it ended): refused when they
    // come, never taken as single files. The oldest are forgotten.
    std::set<std::int32_t> refusedOffers;
    std::deque<std::int32_t> refusedOrder;
    bool folderRefusalLogged = false;
    // Files of folders that ended here while their offers were out: their accepts are
    // dropped without a word. The oldest are forgotten.
    std::set<std::int32_t> endedSends;
    std::deque<std::int32_t> endedSendOrder;
    std::int32_t nextTaskId = 0;
    std::atomic<std::chrono::milliseconds> receiptWait{std::chrono::minutes(2)};
    OfferQuestion offerQuestion;  // set before the link starts, read by the I/O thread

    // Offers asked about and not yet answered (transfer_engine_offer_question.cpp); I/O
    // thread only. A folder's entries, its files' offers and its end that come meanwhile are
    // held in order, and go through the usual handlers once the folder's offer is answered.
    struct HeldFrame {
        std::optional<FolderEntryFrame> entry;
        std::optional<FileRecord> offer;
        bool end = false;
    };
    struct HeldOffer {
        std::int32_t taskId = 0;
        WString name;
        std::optional<FileRecord> file;
        std::optional<FolderOfferFrame> folder;
        std::vector<HeldFrame> frames;
        std::size_t heldBytes = 0;
        std::set<std::int32_t> memberIds;  // the held entries' files
    };
    std::map<std::uint64_t, HeldOffer> heldOffers;
    std::uint64_t nextOfferTicket = 1;
    // I/O thread: asks about the offer and keeps it until answered.
    void HoldOffer(HeldOffer held, std::int64_t bytes);
    void ApplyOfferAnswer(std::uint64_t ticket, bool take);
    // Whether the id is a held offer's or one of its held members'.
    bool HeldId(std::int32_t taskId) const;
    // Offers held of one kind.
    std::size_t HeldCount(bool folders) const;
    // A frame of a held folder is kept for later: true when it was; false when no held
    // folder takes it, or the folder was just refused for holding too much (the frame then
    // goes on as a refused folder's).
    bool HoldFolderFrame(std::int32_t folderId, HeldFrame frame);
    // Tells the front end that an offer it was asked about went unanswered.
    void TellWithdrawn(std::uint64_t ticket);
    // What a held folder kept goes through the usual handlers, in the order it came; its end
    // too when `withEnd`.
    void ReplayHeldFrames(HeldOffer& held, bool withEnd);
    bool HoldMemberOffer(const FileRecord& record);
    // The peer cancelled an offer still held: it is withdrawn. True when the id was held.
    bool WithdrawHeldOffer(std::int32_t taskId);
    // At the link's end: every held offer is withdrawn and its frames are dropped.
    void DropHeldOffers();
    // The receiver sends its kept part with its accept, so it comes within a round trip;
    // the wait only bounds a peer that announced the proof and never gives it.
    std::atomic<std::chrono::milliseconds> keptPartWait{std::chrono::seconds(30)};
    std::uint64_t nextProofTicket = 0;  // tasksLock held
    // Receive ids answered already (cancelled, refused, finished): their data is dropped.
    std::set<std::int32_t> silencedReceiveIds;
    std::deque<std::int32_t> silencedOrder;
    std::set<OfferRefusal> refusalsLogged;
    // I/O thread only (the peer's frames and the link's end): the faults told on this link.
    std::set<PeerFault> peerFaultsLogged;
    // Pump thread: the data frames of one pass are gathered here.
    std::vector<std::uint8_t> sendFrames;
    // I/O thread: what the data frame being read has met so far, told with its last piece.
    struct DataFrameState {
        bool unknown = false;    // a piece for a transfer this side does not hold
        bool diskError = false;  // a piece could not be written
        bool whole = false;      // the last byte reached the disk with this frame
    } dataFrame;
    // Last: it stops (and no job of it runs) before anything above goes.
    DigestWorker digests;
};

}  // namespace mirka
