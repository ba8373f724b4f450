#include "toolkit/open_file.h"

#include <fcntl.h>
#include <io.h>
#include <utility>

#include "toolkit/file_system.h"
#include "toolkit/open_file_win.h"

namespace mirka {

int AdoptHandle(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return -1;
    int descriptor = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) ::CloseHandle(handle);
    return descriptor;
}

HANDLE HandleOf(int descriptor) {
    return descriptor < 0 ? INVALID_HANDLE_VALUE
                          : reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
}

FileIdentity IdentityOfHandle(HANDLE handle, DWORD* attributes) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return {};
    if (attributes) *attributes = info.dwFileAttributes;
    return {info.dwVolumeSerialNumber,
            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

OpenFile::OpenFile(int fd) {
    if (fd < 0) return;
    HANDLE handle = HandleOf(fd);
    DWORD attributes = 0;
    FileIdentity id = IdentityOfHandle(handle, &attributes);
    // Only a plain file on a disk: no folder, no link or junction, no pipe or device.
    if (!id.Known() || ::GetFileType(handle) != FILE_TYPE_DISK ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        ::_close(fd);
        return;
    }
    descriptor = fd;
    identity = id;
}

std::optional<OpenFile> OpenFile::OpenForReading(const WString& path, FileIdentity expected,
                                                 bool followLink) {
    // Others may go on reading, writing, renaming or removing it, as on POSIX.
    HANDLE handle = ::CreateFileW(
        ToFsPath(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    OpenFile file(AdoptHandle(handle));
    if (!file.IsOpen() || (expected.Known() && file.Identity() != expected)) return std::nullopt;
    return file;
}

std::int64_t OpenFile::Size() const {
    LARGE_INTEGER size{};
    if (descriptor < 0 || !::GetFileSizeEx(HandleOf(descriptor), &size)) return -1;
    return size.QuadPart;
}

bool OpenFile::Truncate(std::int64_t size) {
    if (descriptor < 0 || size < 0) return false;
    // The end moves; the position stays where it was, as with ftruncate.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    return ::SetFileInformationByHandle(HandleOf(descriptor), FileEndOfFileInfo, &end,
                                        sizeof end) != 0;
}

bool OpenFile::Seek(std::int64_t offset) {
    LARGE_INTEGER to{}, now{};
    to.QuadPart = offset;
    return descriptor >= 0 && offset >= 0 &&
           ::SetFilePointerEx(HandleOf(descriptor), to, &now, FILE_BEGIN) && now.QuadPart == offset;
}

bool OpenFile::Write(const void* data, std::size_t length) {
    if (descriptor < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        DWORD piece = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!::WriteFile(HandleOf(descriptor), bytes, piece, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        length -= written;
    }
    return true;
}

std::int64_t OpenFile::Read(void* data, std::size_t length) {
    if (descriptor < 0) return -1;
    DWORD piece = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
    DWORD got = 0;
    if (!::ReadFile(HandleOf(descriptor), data, piece, &got, nullptr)) return -1;
    return got;
}

std::int64_t OpenFile::ReadAt(void* data, std::size_t length, std::int64_t offset) const {
    if (descriptor < 0 || offset < 0) return -1;
    // A read at an offset moves a synchronous handle's position: read through a second
    // handle on the same file instead, so that this one's position stays.
    HANDLE second = ::ReOpenFile(HandleOf(descriptor), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (second == INVALID_HANDLE_VALUE) return -1;
    DWORD piece = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    bool read = ::ReadFile(second, data, piece, &got, &at) != 0;
    bool atEnd = !read && ::GetLastError() == ERROR_HANDLE_EOF;
    ::CloseHandle(second);
    if (read || atEnd) return read ? std::int64_t{got} : 0;
    return -1;
}

OpenFile OpenFile::Duplicate() const {
    if (descriptor < 0) return OpenFile();
    HANDLE copy = INVALID_HANDLE_VALUE;
    HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, HandleOf(descriptor), self, &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return OpenFile();
    return OpenFile(AdoptHandle(copy));
}

void OpenFile::Close() {
    if (descriptor >= 0) ::_close(descriptor);
    descriptor = -1;
}

}  // namespace mirka
