#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "toolkit/text.h"

// A regular file held open by its descriptor, so that every read, write, cut and hash of a
// transfer goes to the very file that was checked when it was opened, whatever happens to
// its name meanwhile.
namespace mirka {

// Which file a name led to when it was looked at: the same pair later means the same file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool Known() const { return inode != 0; }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class OpenFile {
public:
    OpenFile() = default;
    // Takes over `descriptor`; nothing is open when it is not a regular file.
    explicit OpenFile(int descriptor);
    OpenFile(OpenFile&& other) noexcept;
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { Close(); }

    // A file to send, opened for reading. With `expected` known it must be that very file;
    // without `followLink` a link at the last component is refused.
    static std::optional<OpenFile> OpenForReading(const WString& path, FileIdentity expected = {},
                                                  bool followLink = true);

    bool IsOpen() const { return descriptor >= 0; }
    // A second descriptor of the same open file, for reads at an offset on another thread
    // while this one may be closed; not open when the system gives none.
    OpenFile Duplicate() const;
    FileIdentity Identity() const { return identity; }
    // The size now; -1 when it cannot be read.
    std::int64_t Size() const;
    bool Truncate(std::int64_t size);
    bool Seek(std::int64_t offset);
    // Writes all of it at the current position; false when the disk took less.
    bool Write(const void* data, std::size_t length);
    // Reads up to `length` at the current position: what was read, 0 at the end, -1 on an error.
    std::int64_t Read(void* data, std::size_t length);
    // Reads up to `length` at `offset` without moving the position.
    std::int64_t ReadAt(void* data, std::size_t length, std::int64_t offset) const;
    void Close();

private:
    int descriptor = -1;
    FileIdentity identity;
};

}  // namespace mirka
