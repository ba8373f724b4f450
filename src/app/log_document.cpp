#include "app/log_document.h"

namespace mirka {

void LogDocument::Append(std::vector<LogRun> newRuns) {
    Listener notify;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& run : newRuns) runs.push_back(std::move(run));
        ++version;
        notify = listener;
    }
    if (notify) notify();
}

void LogDocument::Clear() {
    Listener notify;
    {
        std::lock_guard<std::mutex> guard(lock);
        runs.clear();
        ++version;
        ++clears;
        notify = listener;
    }
    if (notify) notify();
}

std::vector<LogRun> LogDocument::Runs() const {
    std::lock_guard<std::mutex> guard(lock);
    return runs;
}

LogSlice LogDocument::Since(std::size_t shown, std::uint64_t seenClears) const {
    std::lock_guard<std::mutex> guard(lock);
    LogSlice slice;
    slice.clears = clears;
    slice.restart = seenClears != clears;
    std::size_t from = slice.restart ? 0 : std::min(shown, runs.size());
    slice.runs.assign(runs.begin() + static_cast<std::ptrdiff_t>(from), runs.end());
    return slice;
}

WString LogDocument::PlainText() const {
    std::lock_guard<std::mutex> guard(lock);
    WString text;
    for (const auto& run : runs) text += run.text;
    return text;
}

std::uint64_t LogDocument::Version() const {
    std::lock_guard<std::mutex> guard(lock);
    return version;
}

void LogDocument::SetListener(Listener newListener) {
    std::lock_guard<std::mutex> guard(lock);
    listener = std::move(newListener);
}

}  // namespace mirka
