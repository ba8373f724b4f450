#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "toolkit/text.h"

// The transfer list as a model: one row per transfer, eight text cells, rows only ever
// appended. The talk window draws it; the engine and the refresh fill it. A row is found by
// the direction and task id of its transfer, so ids that both peers picked at once cannot
// mix up two rows.
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

    // Called after every change, on the thread that made it.
    void SetListener(Listener listener);

private:
    void Changed();

    mutable std::mutex lock;
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
};

// Once a second: the progress cells of every running transfer.
void RefreshTransferRows(TransferRows& rows, const std::vector<TransferFigures>& figures);
void SetRowStatusText(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                      const WString& text);
// The completion cells; returns the completion message for the log (empty when the row is
// unknown). A receiving row shows the received file's final path in the path, name and
// extension cells.
WString FinishTransferRow(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                          const WString& finalPath = WString());

inline constexpr char16_t kRowCancelled[] = u"キャンセルしました";
inline constexpr char16_t kRowDeleted[] = u"削除しました";

}  // namespace mirka
