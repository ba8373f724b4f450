#include "toolkit/platform.h"

#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#endif

namespace mirka {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

std::tm LocalTimeNow() { return LocalTime(std::time(nullptr)); }

std::uint32_t MillisecondTick() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

// Linux sleeps with sub-millisecond precision already; Windows would call timeBeginPeriod.
void BeginMillisecondTimer() {}
void EndMillisecondTimer() {}

void ShutdownSocketHandle(std::intptr_t handle) {
    if (handle < 0) return;
#ifdef _WIN32
    ::shutdown(static_cast<SOCKET>(handle), SD_BOTH);
#else
    ::shutdown(static_cast<int>(handle), SHUT_RDWR);
#endif
}

}  // namespace mirka

namespace mirka {

bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), 0) != 0;
#else
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
#endif
}

}  // namespace mirka
