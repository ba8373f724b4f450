#pragma once

#include <string>
#include <vector>

// Standard output and standard error as the main thread writes them. On a terminal, the
// live lines of the running transfers stay at the bottom of standard error: every other line
// is written above them, and each change redraws the block in one write, so the terminal
// never shows half a line.
namespace mirka::cli {

class TerminalOutput {
public:
    // `live`: standard error is a terminal the live lines may be drawn on.
    explicit TerminalOutput(bool live);

    // One line (without its line end) to standard output, or to standard error.
    void Out(const std::string& line);
    void Err(const std::string& line);
    // Text without a line end, for a question the next input answers.
    void Prompt(const std::string& text);
    // A line typed on the terminal, echoed by it after the prompt (or on the cursor's empty
    // line): the cursor moved below it, and the next erase takes the echo away too.
    void InputEchoed(const std::string& typed);
    // The user answered the prompt: it stays as a line of its own with the answer, above
    // the block.
    void PromptAnswered(const std::string& answer);
    // The question went away unanswered: its prompt line is ended.
    void PromptWithdrawn();
    // Replaces the live block (each line already fitted to the width); nothing without live
    // lines.
    void SetLive(std::vector<std::string> lines);
    bool Live() const { return live; }
    // The terminal is now `columns` wide: what was drawn before may take more rows now, as
    // the terminal wraps it again, and the next erase counts them.
    void SetScreenColumns(int columns) { screenColumns = columns; }

private:
    // The bytes that remove the drawn block, and those that draw it again.
    std::string Erase();
    std::string Draw();
    void Write(int fd, const std::string& text);
    // One write: the block erased, `above` written, the block drawn again below it.
    void Redraw(const std::string& above);

    bool live;
    bool outIsErr;  // standard output goes to the same terminal
    std::vector<std::string> block;
    std::string prompt;            // shown below the block until answered
    std::size_t drawn = 0;         // lines of the block on the screen, just above the cursor
    std::vector<int> drawnWidths;  // their columns, and the prompt's last
    int screenColumns = 0;         // 0: unknown, every line takes one row
};

}  // namespace mirka::cli
