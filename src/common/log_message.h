#pragma once

#include <cstdint>
#include <vector>

#include "common/chat_font.h"
#include "common/log_document.h"

namespace mirka {

// Turns a text into one log message. The part up to the first "\r\n" is a bold heading in
// "ＭＳ Ｐゴシック" (height -200, indent 1 twip); the rest is the body, indented 200 twips,
// in the given style block or the default. A text without any line break gives the
// null-pointer error line and a dump of its first 256 bytes instead.
std::vector<LogRun> BuildLogMessage(const CharFormat* style, WStringView text);

// One's own line: its heading in its own colour, so it stands apart from the peer's lines;
// the body keeps the style its sender chose.
void MarkOwnLine(std::vector<LogRun>& runs);
inline constexpr std::uint32_t kOwnHeadingColor = 0x00B45F1A;  // COLORREF: a deep blue

LogStyle HeadingStyle();
LogStyle DefaultBodyStyle();

}  // namespace mirka
