#pragma once

#include <string>
#include <vector>

#include "cli/terminal_output.h"
#include "transfer_list/transfer_rows.h"

// What the user (or a script) sees of the transfers: the rows the facts built, told as live
// lines on a terminal, as one line per event in a log (start, every 10 %, end), or as JSON
// objects. Main thread only.
namespace mirka::cli {

class ProgressReport {
public:
    enum class Style { Live, Lines, Json };
    ProgressReport(TerminalOutput& output, Style style, int columns)
        : output(output), style(style), columns(columns) {}

    // After every fact: tells what changed in the rows since the last call.
    void Update(const TransferRows& rows);
    // The live lines' width from now on.
    void SetColumns(int width) { columns = width; }

    // A running transfer's line, at most `columns` wide: direction, name, percent, bytes,
    // speed and time left, or the stage once it is not running.
    static WString LiveLine(const TransferRow& row, int columns);
    // The line a log gets for an event of the row: its start, a tenth more done, its end.
    enum class Phase { Start, Progress, End };
    static WString EventLine(const TransferRow& row, Phase phase);
    // "送信" or "受信"; rows never offered are sends.
    static TransferDirection DirectionOf(const TransferRow& row);
    // The row's name as the user knows it: never a temporary one.
    static WString NameOf(const TransferRow& row);
    // The stage in a few words: "転送中", "検証済み", "失敗（内容が一致しませんでした）".
    static WString StageWords(const TransferRow& row);

private:
    struct Seen {
        bool started = false;
        bool ended = false;
        int decile = 0;
        std::int64_t bytes = -1;
        TransferStage stage = TransferStage::Waiting;
    };
    void Json(const char* event, const TransferRow& row);

    TerminalOutput& output;
    Style style;
    int columns;
    std::vector<Seen> seen;
};

}  // namespace mirka::cli
