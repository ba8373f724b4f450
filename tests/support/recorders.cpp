#include "support/recorders.h"

namespace mirka::test {

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

void WindowRecorder::AppendLogMessage(std::vector<LogRun> runs) {
    std::lock_guard<std::mutex> guard(lock);
    messages.push_back(runs);
    log.Append(std::move(runs));
}

WString WindowRecorder::LogText() const {
    std::lock_guard<std::mutex> guard(lock);
    return log.PlainText();
}

void WindowRecorder::SetPeerStatusText(const WString& text) {
    std::lock_guard<std::mutex> guard(lock);
    statusText = text;
}

void WindowRecorder::SetWindowTitle(const WString& newTitle) {
    std::lock_guard<std::mutex> guard(lock);
    title = newTitle;
}

void WindowRecorder::ClearInputBox() {
    ++clearCount;
}
void WindowRecorder::FlashWindow() {
    ++flashCount;
}

void WindowRecorder::PlayWave(const WString& fileName) {
    std::lock_guard<std::mutex> guard(lock);
    sounds.push_back(fileName);
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

std::vector<WString> WindowRecorder::Sounds() const {
    std::lock_guard<std::mutex> guard(lock);
    return sounds;
}

MessageRecorder::MessageRecorder(int answer)
    : answer(answer), previous(InstalledMessagePresenter()) {
    InstallMessagePresenter(this);
}

MessageRecorder::~MessageRecorder() {
    InstallMessagePresenter(previous);
}

int MessageRecorder::Present(unsigned type, const WString& caption, const WString& text) {
    std::lock_guard<std::mutex> guard(lock);
    boxes.push_back({type, caption, text});
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
