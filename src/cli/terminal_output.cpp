#include "cli/terminal_output.h"

#include <unistd.h>

#include "cli/display_width.h"
#include "cli/terminal.h"

namespace mirka::cli {

TerminalOutput::TerminalOutput(bool live)
    : live(live), outIsErr(live && Terminal::SameFile(STDOUT_FILENO, STDERR_FILENO)) {}

std::string TerminalOutput::Erase() {
    std::string bytes;
    if (!live) return bytes;
    // From the start of the cursor's line, up over the block, clearing to the screen's end.
    // A line wider than the screen (it became narrower since) takes the rows it wraps to.
    auto rows = [this](int width) {
        return screenColumns > 0 && width > screenColumns
                   ? static_cast<std::size_t>((width + screenColumns - 1) / screenColumns)
                   : std::size_t{1};
    };
    std::size_t up = 0;
    for (std::size_t i = 0; i < drawnWidths.size(); ++i)
        up += rows(drawnWidths[i]) - (i + 1 == drawnWidths.size() ? 1 : 0);
    if (drawnWidths.empty()) up = drawn;
    bytes += "\r";
    if (up > 0) bytes += "\x1b[" + std::to_string(up) + "A";
    bytes += "\x1b[J";
    drawn = 0;
    drawnWidths.clear();
    return bytes;
}

std::string TerminalOutput::Draw() {
    std::string bytes;
    drawnWidths.clear();
    for (const std::string& line : block) {
        bytes += line + "\n";
        drawnWidths.push_back(DisplayWidth::Of(FromNarrow(line)));
    }
    drawn = block.size();
    bytes += prompt;
    // The cursor's own line: the prompt, or nothing.
    drawnWidths.push_back(DisplayWidth::Of(FromNarrow(prompt)));
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

void TerminalOutput::InputEchoed(const std::string& typed) {
    if (!live) return;
    if (drawnWidths.empty()) drawnWidths.push_back(0);
    drawnWidths.back() += DisplayWidth::Of(FromNarrow(typed));
    drawnWidths.push_back(0);
}

void TerminalOutput::PromptAnswered(const std::string& answer) {
    std::string asked = prompt + answer;
    if (!live) return;
    std::string bytes = Erase();
    prompt.clear();
    bytes += asked + "\n";
    Write(STDERR_FILENO, bytes + Draw());
}

void TerminalOutput::PromptWithdrawn() {
    if (!live) {
        Write(STDERR_FILENO, "\n");
        return;
    }
    std::string bytes = Erase();
    prompt.clear();
    Write(STDERR_FILENO, bytes + Draw());
}

void TerminalOutput::SetLive(std::vector<std::string> lines) {
    if (!live || lines == block) return;
    std::string bytes = Erase();
    block = std::move(lines);
    Write(STDERR_FILENO, bytes + Draw());
}

}  // namespace mirka::cli
