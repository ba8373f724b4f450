#pragma once

#include <optional>
#include <string>
#include <vector>

// The few calls of the system's terminal and signals the terminal end makes, in one place
// (POSIX; a Windows build needs its twin of this file alone).
namespace mirka::cli {

class Terminal {
public:
    static bool IsTerminal(int fd);
    // Columns of the terminal on `fd`, or `fallback` when it tells none.
    static int Columns(int fd, int fallback);
    // Asks on standard error and reads one line from standard input without echo; nothing at
    // the end of input or when a caught signal came.
    static std::optional<std::string> ReadSecretLine(const std::string& prompt);
    // SIGINT, SIGTERM and SIGHUP make SignalFd readable (once per signal); SIGPIPE is ignored, so a
    // closed output is an error to a write, not the end of the process.
    static void CatchSignals();
    static int SignalFd();
    // The terminal's size changed (SIGWINCH) since the last call.
    static bool TakeResize();
    // Takes one signal's byte; true when one was there.
    static bool TakeSignal();
    // Waits until one of `fds` is readable or `timeoutMs` passes (-1: no limit); which ones
    // are readable, in the order given (a closed or failed descriptor counts as readable).
    static std::vector<bool> WaitReadable(const std::vector<int>& fds, int timeoutMs);
    // Reads what is there (at most `max` bytes; empty when nothing is); nothing at the end
    // of input.
    static std::optional<std::string> ReadSome(int fd, std::size_t max);
    // Writes everything, retrying short writes; false when the output is gone.
    static bool WriteAll(int fd, const std::string& bytes);
};

}  // namespace mirka::cli
