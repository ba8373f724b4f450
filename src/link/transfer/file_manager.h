#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "common/chat_font.h"
#include "link/transfer/digest_worker.h"
#include "link/transfer/rate_sampler.h"
#include "link/transfer/receive_paths.h"
#include "link/window_port.h"
#include "secure/file_digest.h"
#include "toolkit/contained_folder.h"
#include "toolkit/open_file.h"
#include "toolkit/text.h"

namespace mirka {

// Where a transfer stands.
enum class TransferState {
    Waiting,  // a send offered, not yet accepted by the peer
    Running,
    Paused,     // a send the user paused (before or after the accept)
    Done,       // every byte read or written
    Verifying,  // verified delivery: a send waits for its receipt, a reception for the digest
    Stopped,    // cancelled, deleted or failed on the disk: nothing more is sent or written
};

// One transfer's state: the open source or target file and its progress figures. Every
// access happens under the task table's lock.
class FileManager {
public:
    explicit FileManager(TransferDirection direction) : direction(direction) {}
    ~FileManager() {
        DropDigest();  // no more of its bytes are hashed, and no answer comes for it
        CloseFile();
    }

    // Verified delivery: the whole file's digest is taken on the engine's digest worker, fed
    // in file order: the bytes before a resumed transfer's offset read back from the file
    // (see `proof`), then each block as it is written or has been sent.

    // A new digest stream for the file from its first byte, on `worker`, in place of any
    // earlier one; the engine asks for its kept part and its end.
    void StartDigest(DigestWorker& worker);
    void DropDigest() {
        if (digest) DigestWorker::Cancel(*digest);
        digest.reset();
    }

    // Readies the temporary file the engine opened into `file`: cut to `offset` (0 for a
    // fresh start). Writes the receive-start message.
    bool OpenForReceive(std::int64_t offset);
    // A resumed transfer whose kept part was not the sender's: a reception writes from its
    // file's first byte again (over the old bytes, see `staleEnd`), a send goes back to its
    // first byte, and the digest starts again.
    bool StartOver();
    // Opens the file to send (the one it was when offered: `source`) at `offset`.
    bool OpenForSend(std::int64_t offset);
    // Writes received bytes; at the last byte hands the gathered bytes to the system (the
    // engine then gives the file its final name). False when the disk refused the bytes.
    bool WriteChunk(const std::uint8_t* data, std::size_t length);
    // Hands buffered bytes to the system, so a partial file holds all that was received.
    void Flush();
    // Reads the next bytes to send; `failed` is set when the file gave fewer bytes than it
    // had, so no wrong data goes out.
    std::size_t ReadChunk(std::size_t length, std::uint8_t* buffer, bool& failed);
    void CloseFile();
    TransferFigures Figures(std::int32_t taskId) const {
        TransferFigures figures{direction, taskId, transferred, fileSize, rate.Rate()};
        figures.stage = Stage();
        figures.verified = verify;
        return figures;
    }
    // The stage the user sees: a reception that asked its sender to pause is paused too.
    TransferStage Stage() const {
        if (proof != Proof::None) return TransferStage::Verifying;
        switch (state) {
            case TransferState::Waiting:
                return TransferStage::Waiting;
            case TransferState::Running:
            case TransferState::Done:  // finishes with the next pass
                return pausedHere ? TransferStage::Paused : TransferStage::Running;
            case TransferState::Paused:
                return TransferStage::Paused;
            case TransferState::Verifying:
                return TransferStage::Verifying;
            case TransferState::Stopped:
                return TransferStage::Cancelled;
        }
        return TransferStage::Running;
    }
    // A send goes on: running once accepted, else waiting for the accept.
    void Resume() { state = file.IsOpen() ? TransferState::Running : TransferState::Waiting; }
    // A send paused before its accept stays paused once accepted; one whose bytes have all
    // gone finishes whatever the user asks.
    void PauseOrResume(bool pause) {
        if (pause && (state == TransferState::Waiting || state == TransferState::Running))
            state = TransferState::Paused;
        else if (!pause && state == TransferState::Paused)
            Resume();
    }
    bool Ended() const {
        return state == TransferState::Done || state == TransferState::Verifying ||
               state == TransferState::Stopped;
    }

    // The link's window slot (never the window itself): the start messages go there.
    WindowSlot* ownerWindow = nullptr;
    const TransferDirection direction;
    TransferState state = TransferState::Waiting;
    // The open file: the temporary file of a reception (open until the entry goes), the
    // source of a send (from its accept until its last byte is read).
    OpenFile file;
    // A send's file as it was when offered; a folder's file is also never read through a link.
    FileIdentity source;
    bool sourceMayBeLink = true;
    // A reception: the receive folder held open and the temporary file's components below
    // it, for its final name or its removal.
    std::shared_ptr<const ContainedFolder> place;
    std::vector<WString> below;
    std::int64_t fileSize = 0;
    std::int64_t transferred = 0;
    RateSampler rate;
    WString path;
    // A reception's hold on its temporary path, released after the file is closed.
    PathReservation reservation;
    // A reception whose user paused it: its sender was asked to pause.
    bool pausedHere = false;
    // Verified delivery (both sides announced it when the transfer was accepted).
    bool verify = false;
    secure::DigestKind digestKind = secure::DigestKind::Blake2b256;
    DigestWorker* digestWorker = nullptr;
    DigestWorker::StreamPtr digest;  // set while a verified transfer's bytes are hashed
    // A reception: its own digest from the worker, and the sender's, until both are in.
    std::optional<secure::FileDigest> ownFinal;
    std::optional<secure::FileDigest> peerFinal;
    // A send whose bytes have all gone and whose digest the worker has still to give.
    bool finalPending = false;
    int mismatches = 0;  // digests that did not match (a reception fetches once more)
    // The bytes before a resumed transfer's offset are hashed on the digest worker before any
    // later byte moves: a reception sends its accept (and the kept part's digest) only then, a
    // send sends data only once the peer's kept part is judged.
    enum class Proof {
        None,
        Hashing,       // the worker hashes the first `keptBytes`
        AwaitingPeer,  // a send has its own digest and waits for the receiver's
        Judged,        // a send's verdict is out: the start over frame goes before any data
    };
    Proof proof = Proof::None;
    std::int64_t keptBytes = 0;  // where the transfer resumed, until it starts over
    // The worker's answers belong to this entry's current digest stream only.
    std::uint64_t proofTicket = 0;
    std::chrono::steady_clock::time_point proofStarted;
    // A send: the digest of its own first `keptBytes`, and what the receiver said it kept.
    std::optional<secure::FileDigest> ownKept;
    std::optional<std::pair<std::int64_t, secure::FileDigest>> peerKept;
    // A send: the same for the sample of those bytes, where both sides announced samples.
    std::optional<secure::FileDigest> ownSample;
    std::optional<std::pair<std::int64_t, secure::FileDigest>> peerSample;
    std::chrono::steady_clock::time_point keptDue;     // the receiver's kept part is overdue
    std::chrono::steady_clock::time_point receiptDue;  // a verifying send
    // A file of a folder (the folder's id), or -1: a member has no row and no log lines of
    // its own; its folder tells the user.
    std::int32_t folderId = -1;

private:
    // Chunks gathered for one write (receiving) or read ahead in one read (sending).
    std::vector<char> block;
    std::size_t blockBegin = 0;
    std::size_t blockEnd = 0;
    std::int64_t blockAt = 0;  // sending: the file offset of the block's first byte

    // Bytes from `transferred` up to `staleEnd` are an earlier version's: a reception fetched
    // again from 0 writes over them rather than cutting its file first, as freeing a large
    // file's blocks holds the disk (and the thread that waits on it) for a noticeable while.
    // Whatever the new bytes have not covered when the reception ends is cut off then.
    std::int64_t staleEnd = 0;
    // The partial's note says it may not be continued while old bytes are in it.
    bool noteWithheld = false;

    void ReadyBlock();
    bool WriteOutBlock();
    // A reception from the first byte again, over what the file holds.
    bool OverwriteFromZero();
    // The old bytes past the new ones are cut off and the note is given back.
    bool SettleStale();
    // Sending: the block's first `n` bytes have gone; they go to the digest.
    void HashSent(std::size_t n);
    bool Receiving() const { return direction == TransferDirection::Receiving; }
};

}  // namespace mirka
