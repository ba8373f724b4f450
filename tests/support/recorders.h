#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/log_document.h"
#include "link/window_port.h"
#include "toolkit/message_box.h"

namespace mirka::test {

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

// Records every call a worker thread makes on the talk window.
class WindowRecorder : public TalkWindowPort {
public:
    void AppendLogMessage(std::vector<LogRun> runs) override;
    void SetPeerStatusText(const WString& text) override;
    void SetWindowTitle(const WString& title) override;
    void ClearInputBox() override;
    void FlashWindow() override;
    void PlayWave(const WString& fileName) override;
    void PostTransferFact(TransferFact fact) override { rows.Apply(fact); }

    RecordedRows& Transfers() { return rows; }
    WString LogText() const;
    std::vector<std::vector<LogRun>> Messages() const;
    WString StatusText() const;
    WString Title() const;
    std::vector<WString> Sounds() const;
    int flashes() const { return flashCount; }
    int inputClears() const { return clearCount; }

private:
    RecordedRows rows;
    mutable std::mutex lock;
    LogDocument log;
    std::vector<std::vector<LogRun>> messages;
    WString statusText;
    WString title;
    std::vector<WString> sounds;
    std::atomic<int> flashCount{0};
    std::atomic<int> clearCount{0};
};

struct RecordedBox {
    unsigned type;
    WString caption;
    WString text;
};

// Installed for its lifetime as the process's message presenter (the one before comes back
// after it); answers every box.
class MessageRecorder : public MessagePresenter {
public:
    explicit MessageRecorder(int answer = kIdOk);
    ~MessageRecorder() override;
    int Present(unsigned type, const WString& caption, const WString& text) override;
    std::vector<RecordedBox> Boxes() const;

private:
    int answer;
    MessagePresenter* previous;  // put back when the recorder goes
    mutable std::mutex lock;
    std::vector<RecordedBox> boxes;
};

// Readable output of UTF-16 text in assertion messages.
std::string Utf8(const WString& text);

}  // namespace mirka::test
