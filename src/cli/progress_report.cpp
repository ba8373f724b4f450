#include "cli/progress_report.h"

#include <algorithm>

#include "cli/display_width.h"
#include "cli/json_line.h"
#include "toolkit/format.h"

namespace mirka::cli {

namespace {

const char* DirectionKey(TransferDirection direction) {
    return direction == TransferDirection::Sending ? "send" : "receive";
}

const char* StageKey(TransferStage stage) {
    switch (stage) {
        case TransferStage::Waiting:
            return "waiting";
        case TransferStage::Running:
            return "running";
        case TransferStage::Paused:
            return "paused";
        case TransferStage::Verifying:
            return "verifying";
        case TransferStage::Done:
            return "done";
        case TransferStage::Verified:
            return "verified";
        case TransferStage::Cancelled:
            return "cancelled";
        case TransferStage::Failed:
            return "failed";
    }
    return "";
}

int PercentOf(const TransferRow& row) {
    if (row.fileSize <= 0) return StageEnded(row.stage) ? 100 : 0;
    return static_cast<int>(std::min<std::int64_t>(row.transferred * 100 / row.fileSize, 100));
}

// Before its first sample the engine reports 1 B/s: no speed is known yet.
bool RateKnown(const TransferRow& row) {
    return row.rate > 1;
}

WString TimeLeft(const TransferRow& row) {
    if (!RateKnown(row) || row.fileSize < 0) return WString();
    std::int64_t seconds =
        std::max<std::int64_t>(row.fileSize - row.transferred, 0) / std::int64_t{row.rate};
    return Format(64, u"残り %lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60,
                  seconds % 60);
}

}  // namespace

TransferDirection ProgressReport::DirectionOf(const TransferRow& row) {
    return row.direction.value_or(TransferDirection::Sending);
}

WString ProgressReport::NameOf(const TransferRow& row) {
    return ShownCells(row)[kShownName];
}

WString ProgressReport::StageWords(const TransferRow& row) {
    switch (row.stage) {
        case TransferStage::Waiting:
            return u"待機中";
        case TransferStage::Running:
            return u"転送中";
        case TransferStage::Paused:
            return u"中断中";
        case TransferStage::Verifying:
            return u"確認中";
        case TransferStage::Done:
            return u"完了";
        case TransferStage::Verified:
            return u"検証済み";
        case TransferStage::Cancelled:
        case TransferStage::Failed: {
            WString words = row.stage == TransferStage::Cancelled ? u"キャンセル" : u"失敗";
            if (!row.endText.empty() && row.endText != kRowCancelled)
                words += u"（" + row.endText + u"）";
            return words;
        }
    }
    return WString();
}

WString ProgressReport::LiveLine(const TransferRow& row, int columns) {
    WString head = DirectionOf(row) == TransferDirection::Sending ? u"送信 " : u"受信 ";
    std::vector<WString> tail;
    if (row.stage == TransferStage::Running && row.fileSize >= 0) {
        tail.push_back(Format(64, u"%3d%%", PercentOf(row)));
        tail.push_back(ByteSizeText(row.transferred) + u"/" + ByteSizeText(row.fileSize));
        if (RateKnown(row)) tail.push_back(ByteSizeText(row.rate) + u"/s");
        if (WString left = TimeLeft(row); !left.empty()) tail.push_back(left);
    } else {
        if (row.fileSize >= 0 && row.stage != TransferStage::Waiting)
            tail.push_back(Format(64, u"%3d%%", PercentOf(row)) + u" " +
                           ByteSizeText(row.fileSize));
        tail.push_back(StageWords(row));
    }
    // The name keeps at least this much; the time left, then the speed, then the bytes give
    // way first (a stage's words stay).
    constexpr int kNameAtLeast = 12;
    bool running = row.stage == TransferStage::Running && row.fileSize >= 0;
    auto joined = [&tail] {
        WString text;
        for (const WString& part : tail) text += u" " + part;
        return text;
    };
    while (tail.size() > 1 &&
           DisplayWidth::Of(head) + kNameAtLeast + DisplayWidth::Of(joined()) > columns) {
        if (running)
            tail.pop_back();
        else
            tail.erase(tail.begin());
    }
    WString rest = joined();
    int nameWidth = columns - DisplayWidth::Of(head) - DisplayWidth::Of(rest);
    WString line = head + DisplayWidth::Pad(NameOf(row), std::max(nameWidth, 1)) + rest;
    return DisplayWidth::Fit(line, columns);
}

WString ProgressReport::EventLine(const TransferRow& row, Phase phase) {
    WString direction = DirectionOf(row) == TransferDirection::Sending ? u"送信" : u"受信";
    WString name = NameOf(row);
    switch (phase) {
        case Phase::Start:
            return direction + u" 開始: " + name +
                   (row.fileSize >= 0 ? u" (" + ByteSizeText(row.fileSize) + u")" : WString());
        case Phase::Progress:
            return Format(128, u"%s %d%%: ", direction, PercentOf(row)) + name + u" (" +
                   ByteSizeText(row.transferred) + u" / " + ByteSizeText(row.fileSize) +
                   (RateKnown(row) ? u", " + ByteSizeText(row.rate) + u"/s" : WString()) + u")";
        case Phase::End:
            break;
    }
    return direction + u" " + StageWords(row) + u": " + name;
}

void ProgressReport::Json(const char* event, const TransferRow& row) {
    JsonLine line(event);
    line.Add("direction", DirectionKey(DirectionOf(row)))
        .Add("id", row.taskId)
        .Add("name", NameOf(row))
        .Add("state", StageKey(row.stage));
    if (row.fileSize >= 0) line.Add("size", row.fileSize).Add("bytes", row.transferred);
    if (std::string(event) == "progress") {
        line.Add("percent", row.fileSize > 0 ? static_cast<double>(row.transferred) * 100.0 /
                                                   static_cast<double>(row.fileSize)
                                             : 0.0);
        line.Add("rate", std::int64_t{row.rate});
    }
    if (std::string(event) == "end") {
        line.Add("verified", row.stage == TransferStage::Verified);
        if (!row.endText.empty()) line.Add("reason", row.endText);
        if (DirectionOf(row) == TransferDirection::Receiving &&
            (row.stage == TransferStage::Done || row.stage == TransferStage::Verified))
            line.Add("path", row.cells[kColumnPath]);
    }
    output.Out(line.Text().substr(0, line.Text().size() - 1));
}

void ProgressReport::Update(const TransferRows& rows) {
    std::vector<TransferRow> all = rows.Rows();
    if (seen.size() < all.size()) seen.resize(all.size());
    std::vector<std::string> live;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const TransferRow& row = all[i];
        Seen& was = seen[i];
        if (was.ended) continue;
        // A send's own row waits for its offer; a row ended at once never ran.
        bool known = row.direction.has_value() || StageEnded(row.stage);
        if (!known) continue;
        bool ended = StageEnded(row.stage);
        if (!was.started) {
            was.started = true;
            if (style == Style::Json) Json("start", row);
            if (style == Style::Lines && !ended) output.Err(ToNarrow(EventLine(row, Phase::Start)));
        }
        if (!ended) {
            int decile = row.fileSize > 0 ? PercentOf(row) / 10 : 0;
            if (style == Style::Json && row.transferred != was.bytes && was.bytes >= 0)
                Json("progress", row);
            if (style == Style::Json && row.stage == TransferStage::Verifying &&
                was.stage != TransferStage::Verifying)
                Json("verifying", row);
            if (style == Style::Lines && decile > was.decile && decile < 10)
                output.Err(ToNarrow(EventLine(row, Phase::Progress)));
            was.decile = std::max(was.decile, decile);
            was.bytes = row.transferred;
            was.stage = row.stage;
            if (style == Style::Live) live.push_back(ToNarrow(LiveLine(row, columns)));
            continue;
        }
        was.ended = true;
        if (style == Style::Json) {
            Json("end", row);
            continue;
        }
        std::string line = style == Style::Live ? ToNarrow(LiveLine(row, columns))
                                                : ToNarrow(EventLine(row, Phase::End));
        output.Err(line);
        // A received file's place goes to standard output, for whoever reads it.
        if (DirectionOf(row) == TransferDirection::Receiving &&
            (row.stage == TransferStage::Done || row.stage == TransferStage::Verified))
            output.Out(ToNarrow(row.cells[kColumnPath]));
    }
    if (style == Style::Live) output.SetLive(std::move(live));
}

}  // namespace mirka::cli
