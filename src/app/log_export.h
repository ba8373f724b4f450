#pragma once

#include <string>
#include <vector>

#include "common/log_document.h"
#include "toolkit/text.h"

// Writing the conversation log to a file, as RTF or as plain text.
namespace mirka {

// What the save dialog of the log shows and proposes.
inline constexpr char16_t kSaveLogTitle[] = u"保存先を指定してください";
inline constexpr char16_t kSaveLogInitialName[] = u"log.rtf";
inline constexpr char16_t kSaveLogDefaultExtension[] = u".rtf";
inline constexpr char16_t kSaveLogTextFilter[] = u"テキスト";
inline constexpr char16_t kSaveLogTextPattern[] = u"*.txt";
inline constexpr char16_t kSaveLogRtfFilter[] = u"リッチテキスト";
inline constexpr char16_t kSaveLogRtfPattern[] = u"*.rtf";

enum class LogFileFormat { kRtf, kPlainText };

// A name whose extension is ".txt", in any case, gets plain text; every other name RTF.
LogFileFormat LogFormatForPath(WStringView path);

// RTF in plain ASCII: a font table and a colour table, each run in its face, size, colour
// and weight, each paragraph with its start indent; characters beyond ASCII as \uN escapes.
std::string LogToRtf(const std::vector<LogRun>& runs);

// UTF-8 with a byte order mark; every line break (CR LF, a lone CR or a lone LF) as CR LF.
std::string LogToPlainText(const std::vector<LogRun>& runs);

// Writes the log in the format its name asks for. The text goes to a new file in the same
// folder, which then replaces the target, so a failed save never leaves a half-written log
// under the chosen name. Returns false when the file could not be written.
bool SaveLog(const LogDocument& log, WStringView path);

}  // namespace mirka
