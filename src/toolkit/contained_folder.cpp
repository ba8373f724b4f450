#include "toolkit/contained_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "toolkit/file_system.h"

namespace mirka {

namespace {

// The folders on the way are only ever the starting point of *at calls, so O_PATH
// (no read permission needed) is enough where the system has it.
#ifdef O_PATH
constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kRootFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kWalkFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kRootFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// Owns one descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }

private:
    int fd;
};

// A name that stays inside the folder it is looked up in.
bool IsPlainName(const WString& name) {
    return !name.empty() && name != u"." && name != u".." &&
           name.find_first_of(kPathSeparators) == WString::npos &&
           name.find(u'\0') == WString::npos;
}

std::string NativeName(const WString& name) {
    return ToFsPath(name).native();
}

bool AllPlain(const std::vector<WString>& components) {
    for (const WString& name : components) {
        if (!IsPlainName(name)) return false;
    }
    return true;
}

enum class Walk { Reached, Missing, Blocked };
struct WalkResult {
    Walk outcome = Walk::Blocked;
    Descriptor folder;
};

// Opens the folder named by the first `count` components, each one reached without
// following a link. Missing when one of them does not exist yet, Blocked when one is a link,
// not a folder, or cannot be opened.
WalkResult OpenFolder(int root, const std::vector<WString>& components, std::size_t count) {
    WalkResult result;
    result.folder = Descriptor(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!result.folder.Valid()) return result;
    for (std::size_t i = 0; i < count; ++i) {
        Descriptor next(
            ::openat(result.folder.Get(), NativeName(components[i]).c_str(), kWalkFlags));
        if (!next.Valid()) {
            result.outcome = errno == ENOENT ? Walk::Missing : Walk::Blocked;
            result.folder = Descriptor();
            return result;
        }
        result.folder = std::move(next);
    }
    result.outcome = Walk::Reached;
    return result;
}

PathFacts FactsFromStat(const struct stat& info) {
    PathFacts facts;
    facts.kind = S_ISREG(info.st_mode)   ? PathFacts::Kind::File
                 : S_ISDIR(info.st_mode) ? PathFacts::Kind::Folder
                 : S_ISLNK(info.st_mode) ? PathFacts::Kind::Link
                                         : PathFacts::Kind::Other;
    if (facts.kind == PathFacts::Kind::File) facts.size = info.st_size;
    facts.modifiedNs = std::int64_t{info.st_mtim.tv_sec} * kNsPerSecond + info.st_mtim.tv_nsec;
    return facts;
}

}  // namespace

std::optional<ContainedFolder> ContainedFolder::Open(const WString& root) {
    if (root.empty()) return std::nullopt;
    int fd = ::open(ToFsPath(root).c_str(), kRootFlags);
    if (fd < 0) return std::nullopt;
    return ContainedFolder(fd, root);
}

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

ContainedFolder::~ContainedFolder() {
    if (rootDescriptor >= 0) ::close(rootDescriptor);
}

bool ContainedFolder::MakeFolders(const std::vector<WString>& components) {
    if (!AllPlain(components)) return false;
    Descriptor current(::fcntl(rootDescriptor, F_DUPFD_CLOEXEC, 0));
    if (!current.Valid()) return false;
    for (const WString& component : components) {
        std::string name = NativeName(component);
        if (::mkdirat(current.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) return false;
        // Whatever stands there now, made by us or not, is entered only when it is a folder.
        Descriptor next(::openat(current.Get(), name.c_str(), kWalkFlags));
        if (!next.Valid()) return false;
        current = std::move(next);
    }
    return true;
}

ContainedFolder::LeafInfo ContainedFolder::Inspect(const std::vector<WString>& components) const {
    LeafInfo info;
    if (components.empty() || !AllPlain(components)) return info;
    WalkResult parent = OpenFolder(rootDescriptor, components, components.size() - 1);
    if (parent.outcome == Walk::Missing) info.kind = Leaf::Absent;
    if (parent.outcome != Walk::Reached) return info;
    struct stat leaf {};
    if (::fstatat(parent.folder.Get(), NativeName(components.back()).c_str(), &leaf,
                  AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) info.kind = Leaf::Absent;
        return info;
    }
    if (S_ISREG(leaf.st_mode)) {
        info.kind = Leaf::RegularFile;
        info.size = leaf.st_size;
    }
    return info;
}

bool ContainedFolder::SetModified(const std::vector<WString>& components,
                                  std::int64_t modifiedNs) const {
    if (components.empty() || !AllPlain(components)) return false;
    WalkResult parent = OpenFolder(rootDescriptor, components, components.size() - 1);
    if (parent.outcome != Walk::Reached) return false;
    std::string name = NativeName(components.back());
    struct stat leaf {};
    if (::fstatat(parent.folder.Get(), name.c_str(), &leaf, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISLNK(leaf.st_mode))
        return false;
    std::int64_t seconds = modifiedNs / kNsPerSecond;
    std::int64_t rest = modifiedNs % kNsPerSecond;
    if (rest < 0) {  // before 1970: the nanoseconds part must still be positive
        rest += kNsPerSecond;
        --seconds;
    }
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest);
    // Should a link have replaced the file since the look above, only the link's own time
    // changes.
    return ::utimensat(parent.folder.Get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ContainedFolder::RenameChildNoReplace(const WString& from, const WString& to) const {
    if (!IsPlainName(from) || !IsPlainName(to)) return false;
    std::string source = NativeName(from), target = NativeName(to);
    struct stat info {};
    if (::fstatat(rootDescriptor, source.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode))
        return false;
    if (::renameat2(rootDescriptor, source.c_str(), rootDescriptor, target.c_str(),
                    RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // File systems without the no-replace flag. Folders cannot be hard-linked, so take the
    // name with an empty folder of our own first: only that placeholder is ever replaced.
    if (::mkdirat(rootDescriptor, target.c_str(), 0700) != 0) return false;
    if (::renameat(rootDescriptor, source.c_str(), rootDescriptor, target.c_str()) == 0)
        return true;
    ::unlinkat(rootDescriptor, target.c_str(), AT_REMOVEDIR);  // only while still empty
    return false;
}

WString ContainedFolder::PathOf(const std::vector<WString>& components) const {
    WString path = rootPath;
    while (path.size() > 1 && kPathSeparators.find(path.back()) != WStringView::npos)
        path.pop_back();
    for (const WString& component : components) {
        if (path.empty() || path.back() != kPathSeparator) path.push_back(kPathSeparator);
        path += component;
    }
    return path;
}

PathFacts FactsOf(const WString& path) {
    struct stat info {};
    if (path.empty() || ::lstat(ToFsPath(path).c_str(), &info) != 0) return {};
    return FactsFromStat(info);
}

PathFacts TargetFactsOf(const WString& path) {
    struct stat info {};
    if (path.empty() || ::stat(ToFsPath(path).c_str(), &info) != 0) return {};
    return FactsFromStat(info);
}

}  // namespace mirka
