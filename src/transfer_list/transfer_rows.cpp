#include "transfer_list/transfer_rows.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "toolkit/file_system.h"
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

void TransferRows::SetStage(int row, TransferStage stage, WString endText) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    rows[row].stage = stage;
    rows[row].endText = std::move(endText);
    if (stage != TransferStage::Running) rows[row].rate = 0;
    Changed();
}

void TransferRows::SetFigures(int row, const TransferFigures& figures) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    TransferRow& shown = rows[row];
    shown.transferred = figures.transferred;
    shown.fileSize = figures.fileSize;
    shown.stage = figures.stage;
    shown.rate = figures.stage == TransferStage::Running ? figures.rate : 0;
    Changed();
}

void TransferRows::SetShownName(int row, WString name) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    rows[row].shownName = std::move(name);
    Changed();
}

void TransferRows::RemoveRow(int row) {
    if (row < 0 || row >= static_cast<int>(rows.size()) || !StageEnded(rows[row].stage)) return;
    rows[row].removed = true;
    Changed();
}

void TransferRows::SetOfferedName(int row, WString name) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    rows[row].offeredName = std::move(name);
}

void TransferRows::NotePeerControl(int row, TransferControl control) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    TransferRow& shown = rows[row];
    if (control == TransferControl::Pause || control == TransferControl::Resume)
        shown.pausedByPeer = control == TransferControl::Pause;
    if (control == TransferControl::Cancel && shown.direction == TransferDirection::Sending)
        shown.peerReason = shown.stage == TransferStage::Waiting ? u"相手が受け取りを断りました"
                                                                 : u"相手がキャンセルしました";
    // A reception the sender cancelled says no more than the stage; one it deleted says who.
    if (control == TransferControl::Delete) shown.peerReason = u"相手が削除しました";
    Changed();
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
        rows.SetFigures(*row, f);
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
    SetRowStatusText(rows, direction, taskId, text, StageOfEndText(text));
}

void SetRowStatusText(TransferRows& rows, TransferDirection direction, std::int32_t taskId,
                      const WString& text, TransferStage stage) {
    if (std::optional<int> row = rows.FindRow(direction, taskId)) {
        rows.SetCell(*row, kColumnTransferred, text);
        rows.SetStage(*row, stage, text);
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
    rows.SetStage(*row, figures.verified ? TransferStage::Verified : TransferStage::Done);
    if (figures.direction == TransferDirection::Receiving && !finalPath.empty()) {
        WString path = FitField(finalPath, kCellCapacity - 1);
        rows.SetCell(*row, kColumnPath, path);
        rows.SetCell(*row, kColumnName, WString(PathNamePart(path)));
        rows.SetCell(*row, kColumnExtension, WString(PathExtensionPart(path)));
        rows.SetShownName(*row, WString());
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

WString TransferCompleteMessage(const TransferFigures& figures, WStringView path) {
    WString message = TransferCompleteMessage(figures.direction, path);
    bool receiving = figures.direction == TransferDirection::Receiving;
    if (figures.verified)
        message += receiving ? u"確認済み: 送られた内容と一致しました\r\n"
                             : u"確認済み: 相手に同じ内容が届きました\r\n";
    WString fitted = FitField(WString(path), kCellCapacity - 1);
    WStringView name = PathNamePart(fitted);
    if (!receiving) return message;
    WString folder(WStringView(fitted).substr(0, fitted.size() - name.size()));
    if (folder.empty()) {
        // An empty receive folder setting means the working folder: the user is told which.
        std::error_code error;
        std::filesystem::path here = std::filesystem::current_path(error);
        if (error) return message;
        folder = FromFsPath(here);
        if (!folder.empty() && folder.back() != kPathSeparator) folder += kPathSeparator;
    }
    message += Format(kFormatCapacity, u"保存先 > %s\r\n", folder);
    return message;
}

namespace {
// The rows a peer's control frame reaches, as the engine applies it: a cancel stops either
// direction of the id, a deletion only a reception, a pause or resume only a send.
std::vector<int> RowsUnderControl(const TransferRows& rows, std::int32_t taskId,
                                  TransferControl control) {
    std::vector<int> found;
    auto add = [&](TransferDirection direction) {
        std::optional<int> row = rows.FindRow(direction, taskId);
        if (row && !rows.Ended(*row)) found.push_back(*row);
    };
    if (control == TransferControl::Cancel || control == TransferControl::Delete)
        add(TransferDirection::Receiving);
    if (control != TransferControl::Delete) add(TransferDirection::Sending);
    return found;
}
}  // namespace

WString RenamedArrivalMessage(const TransferRow& row, WStringView finalPath) {
    WStringView finalName = PathNamePart(finalPath);
    if (row.direction != TransferDirection::Receiving || row.offeredName.empty() ||
        finalName.empty() || finalName == row.offeredName)
        return WString();
    return Format(kFormatCapacity,
                  u"SystemMessage: \r\n同じ名前のファイルがあったため、名前を変えて保存しました"
                  u"\r\n送られた名前 > %s\r\n保存した名前 > %s\r\n",
                  FitField(row.offeredName, kCellCapacity - 1),
                  FitField(WString(finalName), kCellCapacity - 1));
}

WString TransferControlMessage(const TransferRow& row, TransferControl control, bool byPeer) {
    bool folder = row.cells[kColumnExtension] == kFolderRowKind;
    WString name(PathNamePart(ShownCells(row)[kShownPath]));
    const char16_t* what = u"";
    switch (control) {
        case TransferControl::Pause:
            what = u"転送を中断しました";
            break;
        case TransferControl::Resume:
            what = u"転送を再開しました";
            break;
        case TransferControl::Cancel:
            // A send the peer stops before taking a byte was turned down by its program.
            what = byPeer && row.stage == TransferStage::Waiting ? u"受け取りを断りました"
                                                                 : u"転送をキャンセルしました";
            break;
        case TransferControl::Delete:
            what = u"転送を削除しました";
            break;
    }
    return Format(kFormatCapacity, u"SystemMessage: \r\n%s%s%s\r\n%s > %s\r\n",
                  byPeer ? u"相手が" : u"", folder ? u"フォルダの" : u"ファイルの", what,
                  folder ? u"フォルダ名" : u"ファイル名", name);
}

WString ApplyTransferFact(TransferRows& rows, const TransferFact& fact) {
    switch (fact.kind) {
        case TransferFact::Kind::Shown: {
            int row = fact.row >= 0 ? fact.row : rows.AddTransferRow(fact.path);
            if (fact.taskId >= 0) rows.BindTask(row, fact.direction, fact.taskId);
            if (!fact.name.empty()) rows.SetShownName(row, fact.name);
            if (!fact.offeredName.empty()) rows.SetOfferedName(row, fact.offeredName);
            if (!fact.text.empty()) {
                rows.SetCell(row, kColumnTransferred, fact.text);
                rows.SetStage(row, fact.stage, fact.text);
                rows.EndRow(row);
            } else {
                // A reception starts once this side accepts; a send waits for the peer.
                rows.SetStage(row, fact.direction == TransferDirection::Receiving
                                       ? TransferStage::Running
                                       : TransferStage::Waiting);
            }
            break;
        }
        case TransferFact::Kind::Figures:
            RefreshTransferRows(rows, fact.figures);
            break;
        case TransferFact::Kind::Status:
            SetRowStatusText(rows, fact.direction, fact.taskId, fact.text, fact.stage);
            break;
        case TransferFact::Kind::Finished:
            if (!fact.figures.empty()) FinishTransferRow(rows, fact.figures.front(), fact.path);
            break;
        case TransferFact::Kind::PeerControl: {
            WString message;
            for (int row : RowsUnderControl(rows, fact.taskId, fact.control)) {
                std::optional<TransferRow> shown = rows.Row(row);
                if (!shown) continue;
                // A resume of a send that neither side paused changes nothing to tell.
                if (fact.control == TransferControl::Resume && !shown->pausedByPeer &&
                    shown->stage != TransferStage::Paused)
                    continue;
                message += TransferControlMessage(*shown, fact.control, true);
                rows.NotePeerControl(row, fact.control);
            }
            return message;
        }
    }
    return WString();
}

TransferStage StageOfEndText(WStringView text) {
    return text == kRowCancelled || text == kRowDeleted ? TransferStage::Cancelled
                                                        : TransferStage::Failed;
}

bool StageEnded(TransferStage stage) {
    return stage == TransferStage::Done || stage == TransferStage::Verified ||
           stage == TransferStage::Cancelled || stage == TransferStage::Failed;
}

WString ByteSizeText(std::int64_t bytes) {
    if (bytes < 1000) return Format(64, u"%lld B", static_cast<long long>(bytes));
    double value = static_cast<double>(bytes);
    if (bytes < 1000 * 1000) return Format(64, u"%.1f KB", value / 1e3);
    if (bytes < 1000LL * 1000 * 1000) return Format(64, u"%.1f MB", value / 1e6);
    return Format(64, u"%.1f GB", value / 1e9);
}

WString StageText(const TransferRow& row) {
    const char16_t* stage = u"";
    switch (row.stage) {
        case TransferStage::Waiting:
            stage = u"待機中";
            break;
        case TransferStage::Running:
            stage = u"転送中";
            break;
        case TransferStage::Paused:
            stage = u"中断中";
            break;
        case TransferStage::Verifying:
            stage = u"確認中";
            break;
        case TransferStage::Done:
            stage = u"完了";
            break;
        case TransferStage::Verified:
            stage = u"完了（確認済み）";
            break;
        case TransferStage::Cancelled:
            stage = u"キャンセル";
            break;
        case TransferStage::Failed:
            stage = u"失敗";
            break;
    }
    WString text = row.direction == TransferDirection::Receiving ? u"受信 " : u"送信 ";
    text += stage;
    // A plain cancel says no more than the stage, unless the peer's side did it; a deletion
    // or a failure says why.
    if (StageEnded(row.stage) && !row.peerReason.empty() &&
        (row.endText == kRowCancelled || row.endText == kRowDeleted))
        text += u"（" + row.peerReason + u"）";
    else if (!row.endText.empty() && row.endText != kRowCancelled)
        text += u"（" + FitField(row.endText, kCellCapacity - 1) + u"）";
    return text;
}

const std::array<TransferColumnInfo, kShownColumnCount>& ShownTransferColumns() {
    static const std::array<TransferColumnInfo, kShownColumnCount> columns = [] {
        const auto& model = TransferColumns();
        return std::array<TransferColumnInfo, kShownColumnCount>{{
            model[kColumnName],
            {u"状態", 90, false},
            model[kColumnExtension],
            model[kColumnTransferred],
            model[kColumnSize],
            model[kColumnPercent],
            model[kColumnSpeed],
            model[kColumnRemaining],
            model[kColumnPath],
        }};
    }();
    return columns;
}

std::array<WString, kShownColumnCount> ShownCells(const TransferRow& row) {
    std::array<WString, kShownColumnCount> shown;
    const auto& cells = row.cells;
    if (row.shownName.empty()) {
        shown[kShownName] = cells[kColumnName];
        shown[kShownExtension] = cells[kColumnExtension];
        shown[kShownPath] = cells[kColumnPath];
    } else {
        // The folder of the temporary file, with the name the file will have.
        const WString& path = cells[kColumnPath];
        shown[kShownName] = row.shownName;
        shown[kShownExtension] = WString(PathExtensionPart(row.shownName));
        shown[kShownPath] = path.substr(0, path.size() - PathNamePart(path).size()) + row.shownName;
    }
    shown[kShownState] = row.direction ? StageText(row) : WString();
    if (row.fileSize >= 0) {
        shown[kShownTransferred] = ByteSizeText(row.transferred);
        shown[kShownSize] = ByteSizeText(row.fileSize);
        shown[kShownPercent] = cells[kColumnPercent];
    }
    // Speed and time left only while bytes move.
    if (row.stage == TransferStage::Running && row.rate > 0) {
        shown[kShownSpeed] = ByteSizeText(row.rate) + u"/s";
        shown[kShownRemaining] = cells[kColumnRemaining];
    }
    return shown;
}

std::vector<RowCommand> RowCommands(const TransferRow& row) {
    if (!row.direction) return {};  // a file never offered: nothing to control
    switch (row.stage) {
        case TransferStage::Waiting:
        case TransferStage::Running:
            return {RowCommand::Pause, RowCommand::Delete, RowCommand::Cancel};
        case TransferStage::Paused:
            return {RowCommand::Resume, RowCommand::Delete, RowCommand::Cancel};
        case TransferStage::Verifying:
            return {RowCommand::Cancel};
        case TransferStage::Done:
        case TransferStage::Verified:
            return {RowCommand::OpenFolder, RowCommand::Remove};
        case TransferStage::Cancelled:
        case TransferStage::Failed:
            return {RowCommand::Remove};
    }
    return {};
}

}  // namespace mirka
