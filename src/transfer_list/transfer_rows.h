#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "toolkit/text.h"

// The transfer list as a model: one row per transfer, eight text cells, rows only ever
// appended. It lives on the window thread alone: the engine never writes it, it posts
// transfer facts that the window applies in order. A row is found by the direction and task
// id of its transfer, so ids that both peers picked at once cannot mix up two rows.
namespace mirka {

enum class TransferDirection { Sending, Receiving };

// Where a transfer stands, as the engine knows it; the row shows it in its state column.
enum class TransferStage {
    Waiting,  // offered, not yet accepted
    Running,
    Paused,     // paused by this side (a reception asked its sender to pause)
    Verifying,  // all bytes moved; the digest or the receipt is still to come
    Done,       // complete, with a peer that cannot prove what arrived
    Verified,   // complete, and the digests matched
    Cancelled,  // cancelled or deleted, here or by the peer
    Failed,     // stopped by a disk error, a mismatch, a missing receipt or a refusal
};

enum TransferColumn : int {
    kColumnName = 0,
    kColumnExtension,
    kColumnTransferred,
    kColumnSize,
    kColumnPercent,
    kColumnSpeed,
    kColumnRemaining,
    kColumnPath,
    kColumnCount
};

struct TransferColumnInfo {
    WStringView heading;
    int width;
    bool rightAligned;
};

// The eight columns with their headings, widths in pixels and alignment.
const std::array<TransferColumnInfo, kColumnCount>& TransferColumns();

struct TransferFigures;

struct TransferRow {
    std::array<WString, kColumnCount> cells;
    std::optional<TransferDirection> direction;
    std::int32_t taskId = -1;
    // Finished, cancelled or deleted: progress figures no longer change it.
    bool ended = false;
    // The facts behind the cells, for the list as the user sees it (ShownCells).
    TransferStage stage = TransferStage::Waiting;
    std::int64_t transferred = 0;
    std::int64_t fileSize = -1;  // unknown until the first figures
    std::uint32_t rate = 0;
    // The name the file has, or will have once complete: never the temporary one.
    WString shownName;
    // Why the row ended, when it did not simply finish (a cancel, a deletion, a failure).
    WString endText;
    // Taken off the list by the user; the row keeps its index, so later facts still find
    // the rows after it.
    bool removed = false;
    // What the peer's side did to end it, when that says more than the end text (an offer
    // it turned down before any byte moved).
    WString peerReason;
    // The peer asked this send to pause and has not asked it to go on yet.
    bool pausedByPeer = false;
    // A reception: the name the peer offered (empty when not known).
    WString offeredName;
};

// What either side can do to a running transfer; on the wire, one control frame each.
enum class TransferControl { Pause, Resume, Cancel, Delete };

class TransferRows {
public:
    using Listener = std::function<void()>;

    // Appends a row for the path (name, extension and path cells); returns its index.
    int AddTransferRow(WStringView path);
    // Ties a row to the transfer it shows, once its task id is known.
    void BindTask(int row, TransferDirection direction, std::int32_t taskId);
    std::optional<int> FindRow(TransferDirection direction, std::int32_t taskId) const;

    void SetCell(int row, int column, WString text);
    WString Cell(int row, int column) const;
    std::optional<TransferRow> Row(int row) const;
    std::vector<TransferRow> Rows() const;
    int Count() const;

    // Marks the row ended: later progress figures leave it as it is.
    void EndRow(int row);
    bool Ended(int row) const;
    // The facts the state column shows.
    void SetStage(int row, TransferStage stage, WString endText = WString());
    void SetShownName(int row, WString name);
    // The figures behind the progress cells, and the stage they tell.
    void SetFigures(int row, const TransferFigures& figures);
    // Takes an ended row off the list.
    void RemoveRow(int row);
    // What a control from the peer leaves on the row: who paused it, why it ended.
    void NotePeerControl(int row, TransferControl control);
    void SetOfferedName(int row, WString name);

    // Called after every change.
    void SetListener(Listener listener);

private:
    void Changed();

    std::vector<TransferRow> rows;
    Listener listener;
};

// The figures of one running transfer, read from the task table under its lock.
struct TransferFigures {
    TransferDirection direction;
    std::int32_t taskId;
    std::int64_t transferred;
    std::int64_t fileSize;
    std::uint32_t rate;
    // A folder's row: its files done and in all (-1 for a single file).
    std::int32_t filesDone = -1;
    std::int32_t filesTotal = -1;
    TransferStage stage = TransferStage::Running;
    // Verified delivery is on for it: its completion is a proof.
    bool verified = false;
};

// What a folder's row shows in its extension cell.
inline constexpr char16_t kFolderRowKind[] = u"フォルダ";

// Once a second: the progress cells of every running transfer whose row has not ended.
void RefreshTransferRows(TransferRows& rows, const std::vector<TransferFigures>& figures);
// A cancelled or deleted transfer: the status text in its transferred cell; the row ends.
void SetRowStatusText(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                      const WString& text);
void SetRowStatusText(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                      const WString& text, TransferStage stage);
// The completion cells, after the final figures; the row ends. A receiving row shows the
// received file's final path in the path, name and extension cells.
void FinishTransferRow(TransferRows& rows, const TransferFigures& figures,
                       const WString& finalPath = WString());
// The log line that tells a transfer is complete; `path` is the sent file's path or the
// received file's final path.
WString TransferCompleteMessage(TransferDirection direction, WStringView path);
// The same, saying also whether the delivery was proven and, for a reception, the folder the
// file is in.
WString TransferCompleteMessage(const TransferFigures& figures, WStringView path);

// How a transfer that ended with this row text ended: cancelled or deleted, or failed.
// Only the engine's own end texts reach it, never a peer's.
TransferStage StageOfEndText(WStringView text);

// What the engine tells the window about a transfer. The window applies facts in the order
// they were posted, on its own thread.
struct TransferFact {
    enum class Kind {
        // A row for `path`: a new one when `row` is -1, else the one the window added before
        // asking for the send. Tied to (direction, taskId) unless taskId is -1; `text`, when
        // not empty, ends it at once with that status.
        Shown,
        Figures,   // `figures`: the progress of every running transfer
        Status,    // `text` for (direction, taskId): cancelled or deleted
        Finished,  // final `figures[0]`; `path`: a received file's final path
        // The peer sent `control` for `taskId`, before the engine acted on it. Only for an
        // id the engine has a transfer of.
        PeerControl,
    };
    Kind kind = Kind::Figures;
    TransferDirection direction = TransferDirection::Sending;
    std::int32_t taskId = -1;
    int row = -1;
    WString path;
    WString text;
    std::vector<TransferFigures> figures;
    // Status: how the transfer ended. Shown: the name the row shows when it is not the
    // path's own (a reception's temporary file), else empty.
    TransferStage stage = TransferStage::Cancelled;
    WString name;
    TransferControl control = TransferControl::Cancel;
    // Shown: the name the peer offered, for a reception whose file may get another one.
    WString offeredName = WString();

    static TransferFact Shown(TransferDirection direction, std::int32_t taskId, int row,
                              WString path, WString text = WString(), WString name = WString()) {
        return {Kind::Shown,     direction,       taskId, row,
                std::move(path), std::move(text), {},     TransferStage::Failed,
                std::move(name)};
    }
    static TransferFact Progress(std::vector<TransferFigures> figures) {
        return {Kind::Figures,      TransferDirection::Sending, -1, -1, {}, {},
                std::move(figures), TransferStage::Running,     {}};
    }
    static TransferFact Status(TransferDirection direction, std::int32_t taskId, WString text,
                               std::optional<TransferStage> stage = std::nullopt) {
        TransferStage ended = stage.value_or(StageOfEndText(text));
        return {Kind::Status, direction, taskId, -1, {}, std::move(text), {}, ended, {}};
    }
    static TransferFact Finished(const TransferFigures& figures, WString path) {
        return {Kind::Finished,
                figures.direction,
                figures.taskId,
                -1,
                std::move(path),
                {},
                {figures},
                TransferStage::Done,
                {}};
    }
    static TransferFact PeerControl(std::int32_t taskId, TransferControl control) {
        TransferFact fact;
        fact.kind = Kind::PeerControl;
        fact.taskId = taskId;
        fact.control = control;
        return fact;
    }
};

// Applies the fact to the rows; returns the log message it calls for (empty for none): a
// peer's control of a transfer still under way here.
WString ApplyTransferFact(TransferRows& rows, const TransferFact& fact);

// For a reception that finished under another name than the offered one (a file of that name
// was there): the log message that says so; otherwise empty.
WString RenamedArrivalMessage(const TransferRow& row, WStringView finalPath);

// The log message for a pause, resume, cancel or deletion of the row's transfer, by this user
// or by the peer.
WString TransferControlMessage(const TransferRow& row, TransferControl control, bool byPeer);

// The list as the user sees it: the state column beside the name, sizes in B, KB or MB,
// speed and time left only while bytes move, and never a temporary name.
enum ShownColumn : int {
    kShownName = 0,
    kShownState,
    kShownExtension,
    kShownTransferred,
    kShownSize,
    kShownPercent,
    kShownSpeed,
    kShownRemaining,
    kShownPath,
    kShownColumnCount
};
const std::array<TransferColumnInfo, kShownColumnCount>& ShownTransferColumns();
std::array<WString, kShownColumnCount> ShownCells(const TransferRow& row);
// "73 B", "1.5 KB", "3.1 MB", "10.7 GB" (powers of 1000, as the old KB figures were).
WString ByteSizeText(std::int64_t bytes);
// "送信 転送中", "受信 完了（確認済み）", "送信 失敗（内容が一致しませんでした）".
WString StageText(const TransferRow& row);
bool StageEnded(TransferStage stage);

// What the row's menu offers in its state.
enum class RowCommand { Resume, Pause, Delete, Cancel, OpenFolder, Remove };
std::vector<RowCommand> RowCommands(const TransferRow& row);

inline constexpr char16_t kRowCancelled[] = u"キャンセルしました";
inline constexpr char16_t kRowDeleted[] = u"削除しました";

}  // namespace mirka
