#include "toolkit/platform.h"

#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cstdio>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

RenameOutcome RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), 0) != 0) return RenameOutcome::Done;
    DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? RenameOutcome::Exists
                                                                       : RenameOutcome::Failed;
#else
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return RenameOutcome::Done;
    if (errno == EEXIST) return RenameOutcome::Exists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return RenameOutcome::Failed;
    // File systems without the no-replace flag (some network mounts): a hard link fails
    // when the name exists, so link + unlink never overwrites either.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return RenameOutcome::Done;
    }
    if (errno == EEXIST) return RenameOutcome::Exists;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return RenameOutcome::Failed;
    // No hard links either: look, then rename. Only another program racing for the same
    // name in this moment could still be overwritten.
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) return RenameOutcome::Exists;
    return ::rename(from.c_str(), to.c_str()) == 0 ? RenameOutcome::Done : RenameOutcome::Failed;
#endif
}

}  // namespace mirka
