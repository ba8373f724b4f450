#include <windows.h>
// shellapi.h needs windows.h before it.

#include <shellapi.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "cli/terminal.h"
#include "toolkit/file_system.h"
#include "toolkit/text.h"

// Windows has no poll over a console, a pipe and a signal: the main thread waits on events
// instead. Standard input (console, pipe or file alike) is read by one thread of its own,
// only when the main thread asks for more, into a buffer whose event is set while it holds
// bytes or the input has ended; Ctrl-C comes through a console control handler that sets
// the signal's event.
namespace mirka::cli {

namespace {

constexpr int kFirstWaitable = 1000;

HANDLE HandleOf(int fd) {
    switch (fd) {
        case 0:
            return ::GetStdHandle(STD_INPUT_HANDLE);
        case 1:
            return ::GetStdHandle(STD_OUTPUT_HANDLE);
        case 2:
            return ::GetStdHandle(STD_ERROR_HANDLE);
        default:
            return INVALID_HANDLE_VALUE;
    }
}

bool IsConsole(HANDLE handle) {
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && handle && ::GetConsoleMode(handle, &mode);
}

// The events WaitReadable takes by number; the main thread and the queue's constructor
// register them, so one lock.
std::mutex waitableLock;
std::map<int, HANDLE> waitables;
int nextWaitable = kFirstWaitable;

// Ctrl-C and its kin: counted, and the event set while any is untaken.
HANDLE signalEvent = nullptr;
int signalNumber = -1;
std::atomic<int> signalsPending{0};
int lastColumns = -1;  // main thread

BOOL WINAPI OnControl(DWORD kind) {
    switch (kind) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            ++signalsPending;
            if (signalEvent) ::SetEvent(signalEvent);
            // A closing console ends the process once this returns: a moment for the main
            // thread to tell the peer, as a hang-up does on POSIX.
            if (kind == CTRL_CLOSE_EVENT) ::Sleep(2000);
            return TRUE;
        default:
            return FALSE;
    }
}

// Standard input's reader. The thread reads only when asked (the main thread waits on the
// input or wants a line), so a console's mode set before the ask (no echo) holds for that
// read, and the buffer never holds more than one read's bytes.
class InputReader {
public:
    InputReader() : ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    // Main thread. Asks for more when the buffer is empty; the event is set once bytes or
    // the end are there.
    HANDLE Want() {
        std::lock_guard<std::mutex> guard(lock);
        if (!started) {
            started = true;
            // Never joined: it may sit in a read when the process ends, which ends it.
            std::thread([this] { Read(); }).detach();
        }
        if (buffer.empty() && !ended) {
            wanted = true;
            more.notify_one();
        }
        return ready;
    }

    // Main thread: at most `max` bytes of what is there, up to and with the first `stop`
    // byte when one is given; nothing once the input has ended and the buffer is empty.
    std::optional<std::string> Take(std::size_t max, int stop) {
        std::lock_guard<std::mutex> guard(lock);
        if (buffer.empty()) {
            if (ended) return std::nullopt;
            return std::string();
        }
        std::size_t count = std::min(max, buffer.size());
        if (stop >= 0)
            if (std::size_t at = buffer.find(static_cast<char>(stop)); at < count) count = at + 1;
        std::string taken = buffer.substr(0, count);
        buffer.erase(0, count);
        if (buffer.empty() && !ended) ::ResetEvent(ready);
        return taken;
    }

    bool Started() {
        std::lock_guard<std::mutex> guard(lock);
        return started;
    }

private:
    void Read() {
        HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        bool console = IsConsole(in);
        char16_t heldHigh = 0;  // a surrogate whose pair the next read brings
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                more.wait(guard, [this] { return wanted; });
                wanted = false;
            }
            std::string bytes;
            bool end = false;
            if (console) {
                wchar_t units[1024];
                DWORD count = 0;
                if (!::ReadConsoleW(in, units, 1024, &count, nullptr)) {
                    end = ::GetLastError() != ERROR_OPERATION_ABORTED;
                } else {
                    WString text;
                    if (heldHigh) text += heldHigh;
                    heldHigh = 0;
                    text.append(reinterpret_cast<const char16_t*>(units), count);
                    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
                        heldHigh = text.back();
                        text.pop_back();
                    }
                    // Ctrl-Z at the start of a line ends the input, as it does for a program
                    // reading the console through the C runtime.
                    if (!text.empty() && text.front() == 0x1A) end = true;
                    bytes = ToUtf8(text);
                    // The console ends a line with CR LF; the reader wants LF.
                    for (std::size_t at; (at = bytes.find("\r\n")) != std::string::npos;)
                        bytes.erase(at, 1);
                }
            } else {
                char chunk[4096];
                DWORD count = 0;
                if (!::ReadFile(in, chunk, sizeof chunk, &count, nullptr) || count == 0)
                    end = true;
                else
                    bytes.assign(chunk, count);
            }
            std::lock_guard<std::mutex> guard(lock);
            if (end) {
                ended = true;
                ::SetEvent(ready);
                return;
            }
            buffer += bytes;
            if (!buffer.empty()) {
                ::SetEvent(ready);
            } else {
                wanted = true;  // a read that brought nothing (a Ctrl-C): read again
            }
        }
    }

    std::mutex lock;  // the fields below; held by the reader only around a read, not in it
    std::condition_variable more;
    std::string buffer;
    bool wanted = false;
    bool ended = false;
    bool started = false;
    HANDLE ready;
};

// Never destroyed: its thread may still be reading while the process ends.
InputReader& Input() {
    static InputReader* reader = new InputReader();
    return *reader;
}

// UTF-8 that a write split in the middle of a character: kept for the next write, per
// console output (main thread).
std::string heldBytes[3];

std::size_t CompleteUtf8(const std::string& bytes) {
    // The length without a trailing, unfinished character.
    std::size_t end = bytes.size();
    std::size_t back = 0;
    while (back < 4 && back < end &&
           (static_cast<unsigned char>(bytes[end - 1 - back]) & 0xC0) == 0x80)
        ++back;
    if (back == end) return end;
    unsigned char lead = static_cast<unsigned char>(bytes[end - 1 - back]);
    std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return need > back + 1 ? end - 1 - back : end;
}

}  // namespace

void Terminal::Setup() {
    // No setlocale: the "C" locale keeps the core's narrow text UTF-8, as every literal of
    // this program is.
    ::SetConsoleOutputCP(CP_UTF8);
    for (int fd : {1, 2}) {
        HANDLE handle = HandleOf(fd);
        DWORD mode;
        if (handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode))
            ::SetConsoleMode(handle,
                             mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

std::vector<std::string> Terminal::Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
    ::LocalFree(wide);
    return args;
}

std::filesystem::path Terminal::PathOf(const std::string& argument) {
    return ToFsPath(FromUtf8(argument));
}

std::optional<std::string> Terminal::Variable(const char* name) {
    std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = ::_wgetenv(wide.c_str());
    if (!value) return std::nullopt;
    return ToUtf8(reinterpret_cast<const char16_t*>(value));
}

bool Terminal::IsTerminal(int fd) {
    return IsConsole(HandleOf(fd));
}

bool Terminal::SameFile(int a, int b) {
    HANDLE first = HandleOf(a);
    HANDLE second = HandleOf(b);
    if (IsConsole(first) && IsConsole(second)) return true;
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION other{};
    return ::GetFileInformationByHandle(first, &one) &&
           ::GetFileInformationByHandle(second, &other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

int Terminal::Columns(int fd, int fallback) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(HandleOf(fd), &info)) return fallback;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : fallback;
}

std::optional<std::string> Terminal::ReadSecretLine(const std::string& prompt) {
    HANDLE in = HandleOf(0);
    DWORD before = 0;
    bool restore = ::GetConsoleMode(in, &before);
    if (restore) {
        // What was typed ahead is dropped (when no read is under way); what is typed once the
        // prompt shows is kept.
        if (!Input().Started()) ::FlushConsoleInputBuffer(in);
        ::SetConsoleMode(in, (before & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                 ENABLE_PROCESSED_INPUT);
    }
    WriteAll(2, prompt);
    std::string line;
    bool any = false;
    for (;;) {
        HANDLE handles[2] = {Input().Want(), signalEvent};
        DWORD woke = ::WaitForMultipleObjects(signalEvent ? 2 : 1, handles, FALSE, INFINITE);
        // A signal (Ctrl-C) ends the question; it stays for TakeSignal.
        if (woke == WAIT_OBJECT_0 + 1) {
            any = false;
            break;
        }
        std::optional<std::string> bytes = Input().Take(4096, '\n');
        if (!bytes) break;
        if (bytes->empty()) continue;
        any = true;
        line += *bytes;
        if (line.back() == '\n') {
            line.pop_back();
            break;
        }
    }
    if (restore) {
        ::SetConsoleMode(in, before);
        WriteAll(2, "\n");  // the Enter the console did not echo
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void Terminal::CatchSignals() {
    if (!signalEvent) {
        signalEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (signalEvent) signalNumber = WaitableNumber(signalEvent);
    }
    ::SetConsoleCtrlHandler(OnControl, TRUE);
    lastColumns = Columns(2, -1);
}

int Terminal::SignalFd() {
    return signalNumber;
}

bool Terminal::TakeResize() {
    // No signal tells of a new width: the main thread's wait ends at least once a second,
    // and each time asks.
    int columns = Columns(2, -1);
    if (columns == lastColumns) return false;
    lastColumns = columns;
    return true;
}

bool Terminal::TakeSignal() {
    int pending = signalsPending.load();
    while (pending > 0 && !signalsPending.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending <= 0) return false;
    if (pending == 1 && signalEvent) {
        ::ResetEvent(signalEvent);
        // One that came between the count and the reset keeps the event set.
        if (signalsPending.load() > 0) ::SetEvent(signalEvent);
    }
    return true;
}

std::vector<bool> Terminal::WaitReadable(const std::vector<int>& fds, int timeoutMs) {
    std::vector<HANDLE> handles;
    std::vector<int> slot(fds.size(), -1);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        HANDLE handle = nullptr;
        if (fds[i] == 0) {
            handle = Input().Want();
        } else if (fds[i] >= kFirstWaitable) {
            std::lock_guard<std::mutex> guard(waitableLock);
            auto found = waitables.find(fds[i]);
            if (found != waitables.end()) handle = found->second;
        }
        if (!handle) continue;
        slot[i] = static_cast<int>(handles.size());
        handles.push_back(handle);
    }
    std::vector<bool> readable(fds.size(), false);
    DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (handles.empty()) {
        ::Sleep(wait == INFINITE ? 1000 : wait);
        return readable;
    }
    DWORD woke =
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait);
    if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED) return readable;
    for (std::size_t i = 0; i < fds.size(); ++i)
        readable[i] = slot[i] >= 0 && ::WaitForSingleObject(handles[slot[i]], 0) == WAIT_OBJECT_0;
    return readable;
}

std::optional<std::string> Terminal::ReadSome(int fd, std::size_t max) {
    if (fd != 0) return std::nullopt;
    return Input().Take(max, -1);
}

bool Terminal::WriteAll(int fd, const std::string& bytes) {
    HANDLE handle = HandleOf(fd);
    if (!handle || handle == INVALID_HANDLE_VALUE) return false;
    if (IsConsole(handle)) {
        std::string& held = heldBytes[fd];
        std::string text = held + bytes;
        std::size_t whole = CompleteUtf8(text);
        held = text.substr(whole);
        text.resize(whole);
        WString wide = FromUtf8(text);
        std::size_t done = 0;
        while (done < wide.size()) {
            DWORD written = 0;
            DWORD count = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
            if (!::WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(wide.data()) + done,
                                 count, &written, nullptr) ||
                written == 0)
                return false;
            done += written;
        }
        return true;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        DWORD count = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!::WriteFile(handle, bytes.data() + done, count, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

int Terminal::WaitableNumber(void* event) {
    std::lock_guard<std::mutex> guard(waitableLock);
    int number = nextWaitable++;
    waitables[number] = static_cast<HANDLE>(event);
    return number;
}

void Terminal::ForgetWaitable(int number) {
    std::lock_guard<std::mutex> guard(waitableLock);
    waitables.erase(number);
}

}  // namespace mirka::cli
