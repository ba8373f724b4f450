#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/event_queue.h"
#include "cli/progress_report.h"
#include "cli/terminal_output.h"
#include "cli/terminal_window.h"
#include "common/program_values.h"
#include "link/task_manager.h"
#include "transfer_list/transfer_rows.h"

// One run of the terminal end: links as asked, sends what it was given, takes or refuses
// offers, shows what happens, disconnects once nothing is left to do (or at the end of input
// with --stay, or on Ctrl-C) and says by its exit code how it all ended.
// Threads: the main thread runs everything here and is the only one that writes to the
// terminal; the link's workers reach it only through the event queue, and it answers an
// offer through the link, which takes the answer on its own thread.
namespace mirka::cli {

class CliSession {
public:
    explicit CliSession(CliOptions options);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // The exit code (see exit_code.h).
    int Run();

private:
    // Sets the allocator to keep the memory of freed transfer blocks (where it can be told).
    static void KeepFreedBlocks();
    // Checks what was given before any link: paths, receive folder, passphrase.
    int Prepare();
    // Starts the link on a short-lived thread while the main thread keeps serving events and
    // signals; true when linked.
    bool StartLink();
    // After a start the peer refused for its passphrase: on a terminal, asks for one (again)
    // without echo; true when the link is to be tried again with it.
    bool AskPassphraseAgain();
    // After a start the handshake refused: takes in everything its link still says.
    void SettleRefusedStart();
    // A wait turned a peer away in the handshake ("address (why)") and listens on.
    void NoteRefusal(const WString& refusal);
    // Until nothing is left to do, the input ends, the link closes or a signal comes.
    void Serve();
    // The end of the link as this side asks for it, and the last facts it brings.
    void Finish();
    // Takes every queued event; false when nothing was there.
    bool HandleEvents();
    // Reads the terminal's width again; the live lines follow it.
    void FollowWidth();
    void Handle(CliEvent& event);
    void HandleInput();
    void HandleLine(const std::string& line);
    void AskNext();
    // I/O thread: an offer asked about or withdrawn; never waits.
    void OnOffer(TaskManager& manager, const TransferEngine::OfferAsked& offer);
    void OfferWithdrawn(std::uint64_t ticket);
    // Refuses every offer still asked about: nobody is left to answer.
    void RefuseQuestions();
    // Every own send has ended and no transfer is running.
    bool AllDone() const;
    void PrintLog(const std::vector<LogRun>& runs);
    void PrintMessage(const WString& message);
    void Note(const std::string& utf8Json, const WString& text);
    int ExitCode();

    CliOptions options;
    bool inputIsTerminal = false;
    EventQueue queue;
    TerminalOutput output;
    ProgressReport::Style style;
    std::unique_ptr<ProgressReport> report;
    TerminalWindow window{queue};
    ProgramValues values;
    WString passphrase;
    std::vector<WString> sendPaths;
    // Declared after the window and the values it uses, so it goes first.
    std::unique_ptr<TaskManager> link;

    TransferRows rows;
    std::vector<int> ownSends;                         // rows of this side's sends
    std::set<int> cutRows;                             // rows still running when the link ended
    std::deque<TransferEngine::OfferAsked> questions;  // the first is being asked
    std::string input;                                 // a line not yet ended
    // Read by the I/O thread when an offer comes: nobody is left to ask once input ended.
    std::atomic<bool> inputOpen{true};
    bool linked = false;
    bool linkClosed = false;
    bool peerEnded = false;
    bool interrupted = false;
    bool startFailed = false;
    int prepareError = 0;
    int passphrasePrompts = 0;  // asked on the terminal so far
};

}  // namespace mirka::cli
