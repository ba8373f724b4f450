#include "cli/terminal_window.h"

#include "link/gate/handshake_gate.h"

namespace mirka::cli {

void TerminalWindow::AppendLogMessage(std::vector<LogRun> runs) {
    CliEvent event;
    event.kind = CliEvent::Kind::Log;
    event.runs = std::move(runs);
    queue.Push(std::move(event));
}

void TerminalWindow::SetPeerStatusText(const WString& text) {
    CliEvent event;
    event.kind = CliEvent::Kind::PeerStatus;
    event.text = text;
    queue.Push(std::move(event));
}

void TerminalWindow::SetWindowTitle(const WString& title) {
    CliEvent event;
    event.kind = CliEvent::Kind::Title;
    event.text = title;
    queue.Push(std::move(event));
}

void TerminalWindow::ShowLinkEvent(LinkEvent linkEvent) {
    CliEvent event;
    event.kind = CliEvent::Kind::Link;
    event.linkEvent = linkEvent;
    queue.Push(std::move(event));
}

void TerminalWindow::PostTransferFact(TransferFact fact) {
    CliEvent event;
    event.kind = CliEvent::Kind::Fact;
    event.fact = std::move(fact);
    queue.Push(std::move(event));
}

void TerminalWindow::ShowLinkClosed() {
    CliEvent event;
    event.kind = CliEvent::Kind::LinkClosed;
    queue.Push(std::move(event));
}

int TerminalWindow::Present(unsigned type, const WString& caption, const WString& text) {
    Post(type, caption, text);
    // Every box the core shows is a notice with one button.
    return (type & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

void TerminalWindow::Post(unsigned type, const WString& caption, const WString& text) {
    for (secure::Outcome refusal :
         {secure::Outcome::WrongPassphrase, secure::Outcome::PeerHasNoPassphrase,
          secure::Outcome::PeerWantsPassphrase})
        if (text == HandshakeOutcomeText(refusal)) this->refusal = refusal;
    CliEvent event;
    event.kind = CliEvent::Kind::Box;
    event.boxType = type;
    event.caption = caption;
    event.text = text;
    queue.Push(std::move(event));
}

}  // namespace mirka::cli
