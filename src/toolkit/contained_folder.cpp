#include "toolkit/contained_folder.h"

#include <utility>

// What does not depend on the system; the rest is in contained_folder_posix.cpp and
// contained_folder_win.cpp.

namespace mirka {

ContainedFolder::ContainedFolder(int descriptor, WString root)
    : rootDescriptor(descriptor), rootPath(std::move(root)) {}

ContainedFolder::ContainedFolder(ContainedFolder&& other) noexcept
    : rootDescriptor(std::exchange(other.rootDescriptor, -1)),
      rootPath(std::move(other.rootPath)) {}

ContainedFolder& ContainedFolder::operator=(ContainedFolder&& other) noexcept {
    std::swap(rootDescriptor, other.rootDescriptor);
    std::swap(rootPath, other.rootPath);
    return *this;
}

}  // namespace mirka
