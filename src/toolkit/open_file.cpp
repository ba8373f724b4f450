#include "toolkit/open_file.h"

#include <utility>

// What does not depend on the system; the rest is in open_file_posix.cpp and open_file_win.cpp.

namespace mirka {

OpenFile::OpenFile(OpenFile&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)), identity(other.identity) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        Close();
        descriptor = std::exchange(other.descriptor, -1);
        identity = other.identity;
    }
    return *this;
}

}  // namespace mirka
