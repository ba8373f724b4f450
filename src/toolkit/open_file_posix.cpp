#include "toolkit/open_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <utility>

#include "toolkit/file_system.h"

namespace mirka {

OpenFile::OpenFile(int fd) {
    struct stat info {};
    if (fd < 0) return;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    descriptor = fd;
    identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<OpenFile> OpenFile::OpenForReading(const WString& path, FileIdentity expected,
                                                 bool followLink) {
    int flags = O_RDONLY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    // A fifo put in the file's place must not hold the open: it is refused once fstat looks.
    OpenFile file(::open(ToFsPath(path).c_str(), flags | O_NONBLOCK));
    if (!file.IsOpen() || (expected.Known() && file.Identity() != expected)) return std::nullopt;
    int status = ::fcntl(file.descriptor, F_GETFL);
    if (status < 0 || ::fcntl(file.descriptor, F_SETFL, status & ~O_NONBLOCK) != 0)
        return std::nullopt;
    return file;
}

std::int64_t OpenFile::Size() const {
    struct stat info {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) return -1;
    return info.st_size;
}

bool OpenFile::Truncate(std::int64_t size) {
    return descriptor >= 0 && size >= 0 && ::ftruncate(descriptor, static_cast<off_t>(size)) == 0;
}

bool OpenFile::Seek(std::int64_t offset) {
    return descriptor >= 0 && ::lseek(descriptor, static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool OpenFile::Write(const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t written = ::write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

std::int64_t OpenFile::Read(void* data, std::size_t length) {
    for (;;) {
        ssize_t got = ::read(descriptor, data, length);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

std::int64_t OpenFile::ReadAt(void* data, std::size_t length, std::int64_t offset) const {
    for (;;) {
        ssize_t got = ::pread(descriptor, data, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

OpenFile OpenFile::Duplicate() const {
    if (descriptor < 0) return OpenFile();
    return OpenFile(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
}

void OpenFile::Close() {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
}

}  // namespace mirka
