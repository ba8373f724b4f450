#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The few calls of the system's terminal and signals the terminal end makes, in one place.
// terminal_posix.cpp and terminal_win.cpp are its two halves; the descriptors are the C
// runtime's 0, 1 and 2, and on Windows also the numbers WaitableNumber hands out.
namespace mirka::cli {

class Terminal {
public:
    // Once, before anything is read or written: the locale on POSIX; on Windows UTF-8 for the
    // console's output and its escape sequences on.
    static void Setup();
    // The program's arguments (without its name) as UTF-8 on Windows, whatever the code page;
    // the bytes given on POSIX.
    static std::vector<std::string> Arguments(int argc, char** argv);
    // The path an argument names (on Windows through UTF-16, never the ANSI code page).
    static std::filesystem::path PathOf(const std::string& argument);
    // An environment variable's value as UTF-8 (on Windows read as UTF-16, never through the
    // ANSI code page); nothing when it is not set.
    static std::optional<std::string> Variable(const char* name);
    static bool IsTerminal(int fd);
    // Whether two descriptors write to the same file or terminal (false when unknown).
    static bool SameFile(int a, int b);
    // Columns of the terminal on `fd`, or `fallback` when it tells none.
    static int Columns(int fd, int fallback);
    // Asks on standard error and reads one line from standard input without echo; nothing at
    // the end of input or when a caught signal came.
    static std::optional<std::string> ReadSecretLine(const std::string& prompt);
    // SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console's closing)
    // make SignalFd readable (once per signal); SIGPIPE is ignored, so a closed output is an
    // error to a write, not the end of the process.
    static void CatchSignals();
    static int SignalFd();
    // The terminal's size changed since the last call.
    static bool TakeResize();
    // Takes one signal's byte; true when one was there.
    static bool TakeSignal();
    // Waits until one of `fds` is readable or `timeoutMs` passes (-1: no limit); which ones
    // are readable, in the order given (a closed or failed descriptor counts as readable).
    static std::vector<bool> WaitReadable(const std::vector<int>& fds, int timeoutMs);
    // Reads what is there (at most `max` bytes; empty when nothing is); nothing at the end
    // of input.
    static std::optional<std::string> ReadSome(int fd, std::size_t max);
    // Writes everything, retrying short writes; false when the output is gone. UTF-8 text; a
    // Windows console gets it as UTF-16.
    static bool WriteAll(int fd, const std::string& bytes);
#ifdef _WIN32
    // The number WaitReadable takes for an event (a HANDLE) of the caller's; it stays valid
    // while the event does.
    static int WaitableNumber(void* event);
    static void ForgetWaitable(int number);
#endif
};

}  // namespace mirka::cli
