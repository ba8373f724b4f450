#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "toolkit/text.h"

// The conversation log as a document: runs of text, each with its character and paragraph
// style. The talk window renders it; saving writes it as RTF or plain text. It lives on the
// window thread alone: workers post whole messages there, so messages never mix.
namespace mirka {

struct LogStyle {
    WString face;
    std::int32_t height = -200;          // twips, kept as stored (negative as in the record)
    std::optional<std::uint32_t> color;  // COLORREF; none keeps the colour at the insertion
    bool bold = false;
    std::int32_t indentTwips = 0;  // paragraph start indent; 0 means not set

    bool operator==(const LogStyle&) const = default;
};

struct LogRun {
    WString text;
    LogStyle style;

    bool operator==(const LogRun&) const = default;
};

// What a viewer has not shown yet: the runs after the ones it has, or, when the document
// was cleared since, all of them again.
struct LogSlice {
    std::uint64_t clears = 0;
    bool restart = false;
    std::vector<LogRun> runs;
};

class LogDocument {
public:
    using Listener = std::function<void()>;

    // Appends one message's runs as a unit and tells the listener.
    void Append(std::vector<LogRun> runs);
    void Clear();
    std::vector<LogRun> Runs() const;
    // The runs after the first `shown`, for a viewer that has seen `seenClears` clears.
    LogSlice Since(std::size_t shown, std::uint64_t seenClears) const;
    // Characters and line breaks only.
    WString PlainText() const;
    // Increases with every change, so a viewer can tell what it has not shown yet.

    // Called after every change.
    void SetListener(Listener listener);

private:
    std::vector<LogRun> runs;
    std::uint64_t version = 0;
    std::uint64_t clears = 0;
    Listener listener;
};

}  // namespace mirka
