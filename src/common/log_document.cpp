#include "common/log_document.h"

namespace mirka {

void LogDocument::Append(std::vector<LogRun> newRuns) {
    for (auto& run : newRuns) runs.push_back(std::move(run));
    ++version;
    if (listener) listener();
}

void LogDocument::Clear() {
    runs.clear();
    ++version;
    ++clears;
    if (listener) listener();
}

std::vector<LogRun> LogDocument::Runs() const {
    return runs;
}

LogSlice LogDocument::Since(std::size_t shown, std::uint64_t seenClears) const {
    LogSlice slice;
    slice.clears = clears;
    slice.restart = seenClears != clears;
    std::size_t from = slice.restart ? 0 : std::min(shown, runs.size());
    slice.runs.assign(runs.begin() + static_cast<std::ptrdiff_t>(from), runs.end());
    return slice;
}

WString LogDocument::PlainText() const {
    WString text;
    for (const auto& run : runs) text += run.text;
    return text;
}

void LogDocument::SetListener(Listener newListener) {
    listener = std::move(newListener);
}

}  // namespace mirka
