#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "common/settings_place.h"
#include "toolkit/format.h"

// The debug log "debug.txt": time-stamped entries in the locale's code page, appended
// across runs, flushed per entry. Entries written by several threads never interleave.
namespace mirka {

class DebugLog {
public:
    using Clock = std::function<std::tm()>;

    static DebugLog& Instance();

    // Opens for appending, or failing that for writing; without a file every entry is
    // dropped silently.
    void Open(const std::filesystem::path& path = "debug.txt");
    void Close();
    bool IsOpen();

    // One entry: "[%d/%d %02d:%02d:%02d]", "%12s : %4d行目: ", the message and CR LF.
    // rawTail is written straight behind the entry, with no line break of its own.
    void Write(std::string_view module, int line, const std::string& message,
               std::string_view rawTail = {});
    void WriteRaw(std::string_view text);

    // Tests fix the clock; the default reads the local time.
    void SetClock(Clock clock);

private:
    std::tm Now();

    std::mutex lock;
    std::FILE* stream = nullptr;
    Clock clock;
};

// The debug log's message capacity in bytes.
inline constexpr std::size_t kDebugMessageCapacity = 2048;

inline void OpenDebugLog() {
    DebugLog::Instance().Open(SettingsFilePath("debug.txt"));
}
inline void CloseDebugLog() {
    DebugLog::Instance().Close();
}

template <typename... Args>
void WriteDebugLog(std::string_view module, int line, std::string_view format,
                   const Args&... args) {
    DebugLog::Instance().Write(module, line, FormatNarrow(kDebugMessageCapacity, format, args...));
}

// The position piece and the time stamp, exposed for tests.
std::string DebugLogEntryPrefix(const std::tm& time, std::string_view module, int line);

}  // namespace mirka
