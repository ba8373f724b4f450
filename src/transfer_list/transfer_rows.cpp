#include "transfer_list/transfer_rows.h"

#include <algorithm>

#include "toolkit/format.h"

namespace mirka {

namespace {
constexpr std::size_t kCellCapacity = 261;  // paths read back from the list: 260 units

// A folder's row: its own name with its files done of all, and the kind for an extension.
void ShowFolderCells(TransferRows& rows, int row, const TransferFigures& f) {
    if (f.filesTotal < 0) return;
    WString name(PathNamePart(rows.Cell(row, kColumnPath)));
    rows.SetCell(row, kColumnName,
                 Format(kCellCapacity + 32, u"%s (%d/%d)", name, f.filesDone, f.filesTotal));
    rows.SetCell(row, kColumnExtension, WString(kFolderRowKind));
}
}  // namespace

const std::array<TransferColumnInfo, kColumnCount>& TransferColumns() {
    static const std::array<TransferColumnInfo, kColumnCount> columns = {{
        {u"ファイル名", 130, false},
        {u"拡張子", 40, false},
        {u"転送済み", 40, true},
        {u"サイズ", 40, true},
        {u"%", 55, true},
        {u"転送速度", 60, true},
        {u"残り時間", 70, true},
        {u"パス", 300, false},
    }};
    return columns;
}

int TransferRows::AddTransferRow(WStringView path) {
    TransferRow row;
    row.cells[kColumnName] = WString(PathNamePart(path));
    row.cells[kColumnExtension] = WString(PathExtensionPart(path));
    row.cells[kColumnPath] = WString(path);
    rows.push_back(std::move(row));
    Changed();
    return static_cast<int>(rows.size()) - 1;
}

void TransferRows::BindTask(int row, TransferDirection direction, std::int32_t taskId) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    rows[row].direction = direction;
    rows[row].taskId = taskId;
}

std::optional<int> TransferRows::FindRow(TransferDirection direction, std::int32_t taskId) const {
    // The newest row wins: an id can come again after the peer restarted its numbering.
    for (int i = static_cast<int>(rows.size()) - 1; i >= 0; --i) {
        if (rows[i].direction == direction && rows[i].taskId == taskId) return i;
    }
    return std::nullopt;
}

void TransferRows::SetCell(int row, int column, WString text) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    if (column < 0 || column >= kColumnCount) return;
    rows[row].cells[column] = std::move(text);
    Changed();
}

WString TransferRows::Cell(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(rows.size())) return WString();
    if (column < 0 || column >= kColumnCount) return WString();
    return rows[row].cells[column];
}

std::optional<TransferRow> TransferRows::Row(int row) const {
    if (row < 0 || row >= static_cast<int>(rows.size())) return std::nullopt;
    return rows[row];
}

std::vector<TransferRow> TransferRows::Rows() const {
    return rows;
}

int TransferRows::Count() const {
    return static_cast<int>(rows.size());
}

void TransferRows::EndRow(int row) {
    if (row >= 0 && row < static_cast<int>(rows.size())) rows[row].ended = true;
}

bool TransferRows::Ended(int row) const {
    return row >= 0 && row < static_cast<int>(rows.size()) && rows[row].ended;
}

void TransferRows::SetListener(Listener newListener) {
    listener = std::move(newListener);
}

void TransferRows::Changed() {
    if (listener) listener();
}

void RefreshTransferRows(TransferRows& rows, const std::vector<TransferFigures>& figures) {
    for (const TransferFigures& f : figures) {
        std::optional<int> row = rows.FindRow(f.direction, f.taskId);
        if (!row || rows.Ended(*row)) continue;
        rows.SetCell(*row, kColumnTransferred, Format(64, u"%lld KB", f.transferred / 1000));
        rows.SetCell(*row, kColumnSize, Format(64, u"%lld KB", f.fileSize / 1000));
        if (f.fileSize != 0) {
            double percent =
                static_cast<double>(f.transferred) * 100.0 / static_cast<double>(f.fileSize);
            rows.SetCell(*row, kColumnPercent, Format(64, u"%.2f%%", percent));
        }
        rows.SetCell(*row, kColumnSpeed, Format(64, u"%d KB", f.rate / 1000u));
        ShowFolderCells(rows, *row, f);
        if (f.rate != 0) {
            // In 64 bits: a large file at the first, unsampled rate of 1 B/s would overflow a
            // 32-bit count of seconds into negative hours.
            std::int64_t seconds = std::max<std::int64_t>(f.fileSize - f.transferred, 0) /
                                   static_cast<std::int64_t>(f.rate);
            rows.SetCell(*row, kColumnRemaining,
                         Format(64, u"%lldh%02lldm%02llds", seconds / 3600, (seconds / 60) % 60,
                                seconds % 60));
        } else {
            rows.SetCell(*row, kColumnRemaining, u"-h--m--s");
        }
    }
}

void SetRowStatusText(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                      const WString& text) {
    if (std::optional<int> row = rows.FindRow(direction, taskId)) {
        rows.SetCell(*row, kColumnTransferred, text);
        rows.EndRow(*row);
    }
}

void FinishTransferRow(TransferRows& rows, const TransferFigures& figures,
                       const WString& finalPath) {
    std::optional<int> row = rows.FindRow(figures.direction, figures.taskId);
    if (!row) return;
    // Final figures first, so the row shows the size even for a transfer under a second.
    RefreshTransferRows(rows, {figures});
    rows.EndRow(*row);
    if (figures.direction == TransferDirection::Receiving && !finalPath.empty()) {
        WString path = FitField(finalPath, kCellCapacity - 1);
        rows.SetCell(*row, kColumnPath, path);
        rows.SetCell(*row, kColumnName, WString(PathNamePart(path)));
        rows.SetCell(*row, kColumnExtension, WString(PathExtensionPart(path)));
    }
    ShowFolderCells(rows, *row, figures);
    rows.SetCell(*row, kColumnPercent, u"100.00%");
    rows.SetCell(*row, kColumnSpeed, u"0");
    rows.SetCell(*row, kColumnRemaining, u"0h00m00s");
    rows.SetCell(*row, kColumnTransferred, rows.Cell(*row, kColumnSize));
}

WString TransferCompleteMessage(TransferDirection direction, WStringView path) {
    WString name(PathNamePart(FitField(WString(path), kCellCapacity - 1)));
    return Format(kFormatCapacity,
                  direction == TransferDirection::Receiving
                      ? u"SystemMessage: \r\nファイルの受信が完了しました\r\nファイル名 > %s\r\n"
                      : u"SystemMessage: \r\nファイルの送信が完了しました\r\nファイル名 > %s\r\n",
                  name);
}

void ApplyTransferFact(TransferRows& rows, const TransferFact& fact) {
    switch (fact.kind) {
        case TransferFact::Kind::Shown: {
            int row = fact.row >= 0 ? fact.row : rows.AddTransferRow(fact.path);
            if (fact.taskId >= 0) rows.BindTask(row, fact.direction, fact.taskId);
            if (!fact.text.empty()) {
                rows.SetCell(row, kColumnTransferred, fact.text);
                rows.EndRow(row);
            }
            break;
        }
        case TransferFact::Kind::Figures:
            RefreshTransferRows(rows, fact.figures);
            break;
        case TransferFact::Kind::Status:
            SetRowStatusText(rows, fact.direction, fact.taskId, fact.text);
            break;
        case TransferFact::Kind::Finished:
            if (!fact.figures.empty()) FinishTransferRow(rows, fact.figures.front(), fact.path);
            break;
    }
}

}  // namespace mirka
