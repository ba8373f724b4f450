#pragma once

#include <vector>

#include "app/log_document.h"
#include "transfer_list/transfer_rows.h"
#include "toolkit/text.h"

namespace mirka {

// What the link and the transfers need of the talk window. Worker threads call these; the
// GUI's implementation queues each call to the window thread in order, so none of them
// blocks on the window.
class TalkWindowPort {
public:
    virtual ~TalkWindowPort() = default;

    // One log message: its runs are appended as a unit.
    virtual void AppendLogMessage(std::vector<LogRun> runs) = 0;
    virtual void SetPeerStatusText(const WString& text) = 0;
    virtual void SetWindowTitle(const WString& title) = 0;
    virtual void ClearInputBox() = 0;
    // Caption and taskbar attention, 5 times.
    virtual void FlashWindow() = 0;
    // Plays a wave file by its relative name, without waiting.
    virtual void PlayWave(const WString& fileName) = 0;
    // The transfer list's rows; thread-safe, the window redraws on its change listener.
    virtual TransferRows& Transfers() = 0;
};

}  // namespace mirka
