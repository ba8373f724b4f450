#include "cli/terminal_chat.h"

#include "search/web_search.h"

namespace mirka::cli {

void TerminalChat::SaveLogWithDialog() {
    // The terminal keeps what was said; there is no log document to save.
    sink(u"SystemMessage: \r\n端末ではログを保存できません (端末の出力を保存してください)\r\n");
}

void TerminalChat::RunWebSearch(const std::string& words) {
    mirka::RunWebSearch(words, [this](const WString& text) { link.QueueTextLine(text); });
}

}  // namespace mirka::cli
