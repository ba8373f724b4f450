#pragma once

#include <atomic>

#include "cli/event_queue.h"
#include "link/window_port.h"
#include "secure/handshake.h"
#include "toolkit/message_box.h"

// The terminal end's stand-in for the talk window and its message boxes: every call from a
// worker becomes an event for the main thread, which alone writes to the terminal. No call
// waits for the user; a box is shown as a line.
namespace mirka::cli {

class TerminalWindow : public TalkWindowPort, public MessagePresenter {
public:
    explicit TerminalWindow(EventQueue& queue) : queue(queue) {}

    void AppendLogMessage(std::vector<LogRun> runs) override;
    void SetPeerStatusText(const WString& text) override;
    void SetWindowTitle(const WString& title) override;
    void ShowLinkEvent(LinkEvent event) override;
    void PostTransferFact(TransferFact fact) override;
    void ShowLinkClosed() override;

    int Present(unsigned type, const WString& caption, const WString& text) override;
    void Post(unsigned type, const WString& caption, const WString& text) override;

    // Any thread: a box said the private link was refused for its passphrase. Set before the
    // box's caller goes on, so the thread that started the link knows when its start returns.
    bool PassphraseRefused() const { return refusal != secure::Outcome::Pending; }
    // Why: the peer wants a passphrase and this side gave none, or the two differ.
    secure::Outcome Refusal() const { return refusal; }
    // Main thread, between two starts of the link.
    void ClearRefusal() { refusal = secure::Outcome::Pending; }

private:
    EventQueue& queue;
    std::atomic<secure::Outcome> refusal{secure::Outcome::Pending};
};

}  // namespace mirka::cli
