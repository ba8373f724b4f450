#pragma once

#include <cstdint>
#include <string>

#include "toolkit/text.h"

// The chat commands: a line typed in the talk window that begins with one of seven command
// words is carried out here; any other line goes to the peer as a chat line.
namespace mirka {

// What the commands act on: the talk window, the process-wide values, the link manager and
// the web search. The talk window binds it to those; tests record the calls.
class ChatCommandTarget {
public:
    virtual ~ChatCommandTarget() = default;

    // One message for the log: a heading line, "\r\n", then the body (as AppendLog takes it).
    virtual void AppendLog(const WString& text) = 0;

    virtual bool SoundOn() const = 0;
    virtual void SetSoundOn(bool on) = 0;
    virtual void SetOwnStatus(const WString& text) = 0;
    virtual WString UserName() const = 0;

    // Empties the log; nothing is asked.
    virtual void ClearLog() = 0;
    // Asks for a file name (save dialog) and writes the log there with SaveLog.
    virtual void SaveLogWithDialog() = 0;

    // Search words in the locale's code page; the result goes out as a text line.
    virtual void RunWebSearch(const std::string& words) = 0;

    // The link manager's side.
    virtual void QueueStatusMessage(const WString& statusText) = 0;
    virtual void QueueChatLine(const WString& text, const WString& name) = 0;
    virtual void SetSendWait(std::uint16_t milliseconds) = 0;
    virtual void SetSendBufSize(std::int32_t bytes) = 0;
};

enum class InputOutcome {
    // A command ran; its text stays in the input box.
    kCommand,
    // A chat line was queued; the link empties the input box once the line has gone out,
    // so the window does not empty it itself.
    kChatLine,
};

// Runs at most one command, or queues one chat line. `inputText` is the input box's whole
// text with CR LF line breaks; commands look at its first 1,023 units, a chat line takes
// its first 999.
InputOutcome DispatchInput(WStringView inputText, ChatCommandTarget& target);

// The list of the commands, as one log message.
WStringView CommandListText();

// Appends the command list to the log ("/help" and the window's "?" button).
void ShowCommandList(ChatCommandTarget& target);

}  // namespace mirka
