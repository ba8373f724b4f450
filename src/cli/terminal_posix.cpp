#include "cli/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <clocale>

namespace mirka::cli {

namespace {
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t resized = 0;

void OnResize(int) {
    resized = 1;
}

void OnSignal(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

void Terminal::Setup() {
    std::setlocale(LC_ALL, "");
}

std::vector<std::string> Terminal::Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::filesystem::path Terminal::PathOf(const std::string& argument) {
    return std::filesystem::path(argument);
}

std::optional<std::string> Terminal::Variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

bool Terminal::SameFile(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool Terminal::IsTerminal(int fd) {
    return isatty(fd) == 1;
}

int Terminal::Columns(int fd, int fallback) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return fallback;
}

std::optional<std::string> Terminal::ReadSecretLine(const std::string& prompt) {
    termios before{};
    bool restore = tcgetattr(STDIN_FILENO, &before) == 0;
    if (restore) {
        termios quiet = before;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        // What was typed ahead is dropped; what is typed once the prompt shows is kept.
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    WriteAll(STDERR_FILENO, prompt);
    std::string line;
    bool any = false;
    char c;
    for (;;) {
        // A signal (Ctrl-C) ends the question; its byte stays for TakeSignal.
        pollfd polls[2] = {{STDIN_FILENO, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (poll(polls, signalPipe[0] >= 0 ? 2 : 1, -1) < 0 && errno == EINTR) continue;
        if (polls[1].revents & POLLIN) {
            any = false;
            break;
        }
        if (read(STDIN_FILENO, &c, 1) != 1) break;
        any = true;
        if (c == '\n') break;
        line += c;
    }
    if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void Terminal::CatchSignals() {
    if (signalPipe[0] < 0 && pipe(signalPipe) == 0) {
        for (int fd : signalPipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal ends the run as Ctrl-C does: the peer hears it, partial files stay.
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The main thread's wait ends (a poll is never restarted) when the signal comes to it,
    // and within its one-second patience otherwise; the link's threads go on undisturbed.
    struct sigaction resize {};
    resize.sa_handler = OnResize;
    sigemptyset(&resize.sa_mask);
    resize.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &resize, nullptr);
}

bool Terminal::TakeResize() {
    if (!resized) return false;
    resized = 0;
    return true;
}

int Terminal::SignalFd() {
    return signalPipe[0];
}

bool Terminal::TakeSignal() {
    char byte;
    return signalPipe[0] >= 0 && read(signalPipe[0], &byte, 1) == 1;
}

std::vector<bool> Terminal::WaitReadable(const std::vector<int>& fds, int timeoutMs) {
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    int n = poll(polls.data(), polls.size(), timeoutMs);
    std::vector<bool> readable(fds.size(), false);
    if (n <= 0) return readable;
    for (std::size_t i = 0; i < polls.size(); ++i)
        readable[i] = fds[i] >= 0 && (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    return readable;
}

std::optional<std::string> Terminal::ReadSome(int fd, std::size_t max) {
    std::string bytes(max, '\0');
    for (;;) {
        ssize_t n = read(fd, bytes.data(), max);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::string();
        if (n <= 0) return std::nullopt;
        bytes.resize(static_cast<std::size_t>(n));
        return bytes;
    }
}

bool Terminal::WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace mirka::cli
