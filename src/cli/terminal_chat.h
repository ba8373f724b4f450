#pragma once

#include <functional>

#include "app/chat_commands.h"
#include "common/program_values.h"
#include "link/task_manager.h"

// The chat commands as a typed line on the terminal runs them (--stay): the same commands as
// the window's input box, on the link and the values of this run. Main thread only.
namespace mirka::cli {

class TerminalChat : public ChatCommandTarget {
public:
    using Sink = std::function<void(const WString& message)>;
    TerminalChat(TaskManager& link, ProgramValues& values, Sink sink)
        : link(link), values(values), sink(std::move(sink)) {}

    void AppendLog(const WString& text) override { sink(text); }
    bool SoundOn() const override { return values.SoundOn(); }
    void SetSoundOn(bool on) override { values.SetSoundOn(on); }
    void SetOwnStatus(const WString& text) override { values.SetStatusText(text); }
    WString UserName() const override { return values.UserName(); }
    void ClearLog() override {}
    void SaveLogWithDialog() override;
    void RunWebSearch(const std::string& words) override;
    void QueueStatusMessage(const WString& statusText) override {
        link.QueueStatusMessage(statusText);
    }
    void QueueChatLine(const WString& text, const WString& name) override {
        link.QueueChatLine(text, name);
    }
    void SetSendWait(std::uint16_t milliseconds) override { link.sendWait = milliseconds; }
    void SetSendBufSize(std::int32_t bytes) override { link.sendBufSize = bytes; }

private:
    TaskManager& link;
    ProgramValues& values;
    Sink sink;
};

}  // namespace mirka::cli
