#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/log_document.h"
#include "common/program_values.h"
#include "link/window_port.h"
#include "toolkit/message_box.h"

namespace mirka::test {

// Records calls made from other threads and wakes whoever waits for one: a test waits for
// what it expects to see, never for a fixed time.
class CallRecorder {
public:
    // Waits until the condition holds, testing it again after every recorded call; returns
    // its last value. The condition runs without the recorder's lock held.
    bool WaitFor(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

protected:
    // After each call has been recorded (outside the lock).
    void Recorded();

    mutable std::mutex lock;  // the records of the derived class, and calls

private:
    mutable std::condition_variable changed;
    std::uint64_t calls = 0;
};

// The transfer list as the window keeps it; facts are applied as they come, from any
// thread, and the test thread reads it at any time.
class RecordedRows {
public:
    void Apply(const TransferFact& fact);
    // The window thread's own row, added before it asks for a send.
    int AddTransferRow(WStringView path);
    WString Cell(int row, int column) const;
    int Count() const;
    std::optional<TransferRow> Row(int row) const;
    std::vector<TransferRow> Rows() const;

private:
    mutable std::mutex lock;
    TransferRows rows;
};

// Records every call a worker thread makes on the talk window, the transfer facts included.
class WindowRecorder : public TalkWindowPort, public CallRecorder {
public:
    void AppendLogMessage(std::vector<LogRun> runs) override;
    void SetPeerStatusText(const WString& text) override;
    void SetWindowTitle(const WString& title) override;
    // Only the event is kept: how a window answers it (sound, flash, input box) is the
    // window's own business and is tested with the window.
    void ShowLinkEvent(LinkEvent event) override;
    void PostTransferFact(TransferFact fact) override;
    void ShowLinkClosed() override;

    RecordedRows& Transfers() { return rows; }
    int linkClosings() const { return closedCount; }
    WString LogText() const;
    std::vector<std::vector<LogRun>> Messages() const;
    WString StatusText() const;
    WString Title() const;
    std::vector<LinkEvent> Events() const;
    std::size_t EventCount(LinkEvent event) const;

private:
    RecordedRows rows;
    LogDocument log;
    std::vector<std::vector<LogRun>> messages;
    WString statusText;
    WString title;
    std::vector<LinkEvent> events;
    std::atomic<int> closedCount{0};
};

struct RecordedBox {
    unsigned type;
    WString caption;
    WString text;
};

// Installed for its lifetime as the process's message presenter (the one before comes back
// after it); answers every box.
class MessageRecorder : public MessagePresenter, public CallRecorder {
public:
    explicit MessageRecorder(int answer = kIdOk);
    ~MessageRecorder() override;
    int Present(unsigned type, const WString& caption, const WString& text) override;
    std::vector<RecordedBox> Boxes() const;

private:
    int answer;
    MessagePresenter* previous;  // put back when the recorder goes
    std::vector<RecordedBox> boxes;
};

// UTF-16 text as UTF-8, for records kept as narrow text.
std::string Utf8(const WString& text);

}  // namespace mirka::test
