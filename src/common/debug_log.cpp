#include "common/debug_log.h"

#include "toolkit/file_system.h"
#include "toolkit/platform.h"

namespace mirka {

DebugLog& DebugLog::Instance() {
    static DebugLog log;
    return log;
}

void DebugLog::Open(const std::filesystem::path& path) {
    std::lock_guard<std::mutex> guard(lock);
    if (stream) std::fclose(stream);
    stream = OpenStdioFile(path, "ab");
    if (!stream) stream = OpenStdioFile(path, "wb");
}

void DebugLog::Close() {
    std::lock_guard<std::mutex> guard(lock);
    if (stream) std::fclose(stream);
    stream = nullptr;
}

bool DebugLog::IsOpen() {
    std::lock_guard<std::mutex> guard(lock);
    return stream != nullptr;
}

void DebugLog::SetClock(Clock newClock) {
    std::lock_guard<std::mutex> guard(lock);
    clock = std::move(newClock);
}

std::tm DebugLog::Now() {
    return clock ? clock() : LocalTimeNow();
}

std::string DebugLogEntryPrefix(const std::tm& time, std::string_view module, int line) {
    std::string stamp = FormatNarrow(64, "[%d/%d %02d:%02d:%02d]", time.tm_mon + 1, time.tm_mday,
                                     time.tm_hour, time.tm_min, time.tm_sec);
    std::string position = ToNarrow(Format(256, u"%12s : %4d行目: ", module, line));
    return stamp + position;
}

void DebugLog::Write(std::string_view module, int line, const std::string& message,
                     std::string_view rawTail) {
    std::lock_guard<std::mutex> guard(lock);
    if (!stream) return;
    std::string entry = DebugLogEntryPrefix(Now(), module, line);
    entry += message;
    entry += "\r\n";
    entry += rawTail;
    std::fwrite(entry.data(), 1, entry.size(), stream);
    std::fflush(stream);
}

void DebugLog::WriteRaw(std::string_view text) {
    std::lock_guard<std::mutex> guard(lock);
    if (!stream) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace mirka
