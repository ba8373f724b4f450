#include "support/recorders.h"

#include <algorithm>

namespace mirka::test {

bool CallRecorder::WaitFor(const std::function<bool()>& condition,
                           std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        // Taken before the test, so a call that lands while it runs is not missed.
        std::uint64_t seen = calls;
        guard.unlock();
        if (condition()) return true;
        guard.lock();
        if (!changed.wait_until(guard, deadline, [&] { return calls != seen; })) {
            guard.unlock();
            return condition();
        }
    }
}

void CallRecorder::Recorded() {
    {
        std::lock_guard<std::mutex> guard(lock);
        ++calls;
    }
    changed.notify_all();
}

void RecordedRows::Apply(const TransferFact& fact) {
    std::lock_guard<std::mutex> guard(lock);
    ApplyTransferFact(rows, fact);
}

int RecordedRows::AddTransferRow(WStringView path) {
    std::lock_guard<std::mutex> guard(lock);
    return rows.AddTransferRow(path);
}

WString RecordedRows::Cell(int row, int column) const {
    std::lock_guard<std::mutex> guard(lock);
    return rows.Cell(row, column);
}

int RecordedRows::Count() const {
    std::lock_guard<std::mutex> guard(lock);
    return rows.Count();
}

std::optional<TransferRow> RecordedRows::Row(int row) const {
    std::lock_guard<std::mutex> guard(lock);
    return rows.Row(row);
}

std::vector<TransferRow> RecordedRows::Rows() const {
    std::lock_guard<std::mutex> guard(lock);
    return rows.Rows();
}

void WindowRecorder::PostTransferFact(TransferFact fact) {
    rows.Apply(fact);
    Recorded();
}

void WindowRecorder::AppendLogMessage(std::vector<LogRun> runs) {
    {
        // Both under the lock, so a waiter never sees the message in one and not the other.
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(runs);
        log.Append(std::move(runs));
    }
    Recorded();
}

WString WindowRecorder::LogText() const {
    std::lock_guard<std::mutex> guard(lock);
    return log.PlainText();
}

void WindowRecorder::SetPeerStatusText(const WString& text) {
    {
        std::lock_guard<std::mutex> guard(lock);
        statusText = text;
    }
    Recorded();
}

void WindowRecorder::SetWindowTitle(const WString& newTitle) {
    {
        std::lock_guard<std::mutex> guard(lock);
        title = newTitle;
    }
    Recorded();
}

void WindowRecorder::ShowLinkEvent(LinkEvent event) {
    {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(event);
    }
    Recorded();
}

void WindowRecorder::ShowLinkClosed() {
    ++closedCount;
    Recorded();
}

std::vector<std::vector<LogRun>> WindowRecorder::Messages() const {
    std::lock_guard<std::mutex> guard(lock);
    return messages;
}

WString WindowRecorder::StatusText() const {
    std::lock_guard<std::mutex> guard(lock);
    return statusText;
}

WString WindowRecorder::Title() const {
    std::lock_guard<std::mutex> guard(lock);
    return title;
}

std::vector<LinkEvent> WindowRecorder::Events() const {
    std::lock_guard<std::mutex> guard(lock);
    return events;
}

std::size_t WindowRecorder::EventCount(LinkEvent event) const {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

MessageRecorder::MessageRecorder(int answer)
    : answer(answer), previous(InstalledMessagePresenter()) {
    InstallMessagePresenter(this);
}

MessageRecorder::~MessageRecorder() {
    InstallMessagePresenter(previous);
}

int MessageRecorder::Present(unsigned type, const WString& caption, const WString& text) {
    {
        std::lock_guard<std::mutex> guard(lock);
        boxes.push_back({type, caption, text});
    }
    Recorded();
    return answer;
}

std::vector<RecordedBox> MessageRecorder::Boxes() const {
    std::lock_guard<std::mutex> guard(lock);
    return boxes;
}

std::string Utf8(const WString& text) {
    return ToUtf8(text);
}

}  // namespace mirka::test
