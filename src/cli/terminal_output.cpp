#include "cli/terminal_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace mirka::cli {

namespace {
bool SameFile(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}
}  // namespace

TerminalOutput::TerminalOutput(bool live)
    : live(live), outIsErr(live && SameFile(STDOUT_FILENO, STDERR_FILENO)) {}

std::string TerminalOutput::Erase() {
    std::string bytes;
    if (!live) return bytes;
    // From the start of the cursor's line, up over the block, clearing to the screen's end.
    bytes += "\r";
    if (drawn > 0) bytes += "\x1b[" + std::to_string(drawn) + "A";
    bytes += "\x1b[J";
    drawn = 0;
    return bytes;
}

std::string TerminalOutput::Draw() {
    std::string bytes;
    for (const std::string& line : block) bytes += line + "\n";
    drawn = block.size();
    bytes += prompt;
    return bytes;
}

void TerminalOutput::Write(int fd, const std::string& text) {
    Terminal::WriteAll(fd, text);
}

void TerminalOutput::Out(const std::string& line) {
    if (!outIsErr) {
        Write(STDOUT_FILENO, line + "\n");
        return;
    }
    Redraw(line + "\n");
}

void TerminalOutput::Err(const std::string& line) {
    if (!live) {
        Write(STDERR_FILENO, line + "\n");
        return;
    }
    Redraw(line + "\n");
}

void TerminalOutput::Redraw(const std::string& above) {
    // In this order: the erase counts the lines drawn before, the draw those it draws.
    std::string bytes = Erase();
    bytes += above;
    bytes += Draw();
    Write(STDERR_FILENO, bytes);
}

void TerminalOutput::Prompt(const std::string& text) {
    if (!live) {
        Write(STDERR_FILENO, text);
        return;
    }
    std::string bytes = Erase();
    prompt = text;
    Write(STDERR_FILENO, bytes + Draw());
}

void TerminalOutput::SetLive(std::vector<std::string> lines) {
    if (!live || lines == block) return;
    std::string bytes = Erase();
    block = std::move(lines);
    Write(STDERR_FILENO, bytes + Draw());
}

}  // namespace mirka::cli
