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

struct TransferRow {
    std::array<WString, kColumnCount> cells;
    std::optional<TransferDirection> direction;
    std::int32_t taskId = -1;
    // Finished, cancelled or deleted: progress figures no longer change it.
    bool ended = false;
};

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
};

// What a folder's row shows in its extension cell.
inline constexpr char16_t kFolderRowKind[] = u"フォルダ";

// Once a second: the progress cells of every running transfer whose row has not ended.
void RefreshTransferRows(TransferRows& rows, const std::vector<TransferFigures>& figures);
// A cancelled or deleted transfer: the status text in its transferred cell; the row ends.
void SetRowStatusText(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                      const WString& text);
// The completion cells, after the final figures; the row ends. A receiving row shows the
// received file's final path in the path, name and extension cells.
void FinishTransferRow(TransferRows& rows, const TransferFigures& figures,
                       const WString& finalPath = WString());
// The log line that tells a transfer is complete; `path` is the sent file's path or the
// received file's final path.
WString TransferCompleteMessage(TransferDirection direction, WStringView path);

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
    };
    Kind kind = Kind::Figures;
    TransferDirection direction = TransferDirection::Sending;
    std::int32_t taskId = -1;
    int row = -1;
    WString path;
    WString text;
    std::vector<TransferFigures> figures;

    static TransferFact Shown(TransferDirection direction, std::int32_t taskId, int row,
                              WString path, WString text = WString()) {
        return {Kind::Shown, direction, taskId, row, std::move(path), std::move(text), {}};
    }
    static TransferFact Progress(std::vector<TransferFigures> figures) {
        return {Kind::Figures, TransferDirection::Sending, -1, -1, {}, {}, std::move(figures)};
    }
    static TransferFact Status(TransferDirection direction, std::int32_t taskId, WString text) {
        return {Kind::Status, direction, taskId, -1, {}, std::move(text), {}};
    }
    static TransferFact Finished(const TransferFigures& figures, WString path) {
        return {Kind::Finished, figures.direction, figures.taskId, -1, std::move(path), {},
                {figures}};
    }
};

void ApplyTransferFact(TransferRows& rows, const TransferFact& fact);

inline constexpr char16_t kRowCancelled[] = u"キャンセルしました";
inline constexpr char16_t kRowDeleted[] = u"削除しました";

}  // namespace mirka
