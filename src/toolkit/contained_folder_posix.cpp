#include "toolkit/contained_folder.h"

#include <dirent.h>
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
    facts.identity = {static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
    facts.modifiedNs = std::int64_t{info.st_mtim.tv_sec} * kNsPerSecond + info.st_mtim.tv_nsec;
    return facts;
}

}  // namespace

std::optional<ContainedFolder> ContainedFolder::Open(const WString& root) {
    int fd = ::open(root.empty() ? "." : ToFsPath(root).c_str(), kRootFlags);
    if (fd < 0) return std::nullopt;
    return ContainedFolder(fd, root);
}

bool ContainedFolder::AtItsPath() const {
    struct stat held {
    }, named{};
    return ::fstat(rootDescriptor, &held) == 0 &&
           ::stat(rootPath.empty() ? "." : ToFsPath(rootPath).c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

std::optional<ContainedFolder> ContainedFolder::Duplicate() const {
    int fd = ::fcntl(rootDescriptor, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    return ContainedFolder(fd, rootPath);
}

ContainedFolder::~ContainedFolder() {
    if (rootDescriptor >= 0) ::close(rootDescriptor);
}

bool ContainedFolder::MakeFolders(const std::vector<WString>& components,
                                  std::vector<std::pair<std::size_t, FileIdentity>>* made) const {
    if (!AllPlain(components)) return false;
    Descriptor current(::fcntl(rootDescriptor, F_DUPFD_CLOEXEC, 0));
    if (!current.Valid()) return false;
    for (std::size_t i = 0; i < components.size(); ++i) {
        std::string name = NativeName(components[i]);
        bool created = ::mkdirat(current.Get(), name.c_str(), 0777) == 0;
        if (!created && errno != EEXIST) return false;
        // Whatever stands there now, made by us or not, is entered only when it is a folder.
        Descriptor next(::openat(current.Get(), name.c_str(), kWalkFlags));
        if (!next.Valid()) return false;
        struct stat info {};
        if (created && made && ::fstat(next.Get(), &info) == 0)
            made->emplace_back(i, FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                                               static_cast<std::uint64_t>(info.st_ino)});
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

namespace {
// The parent folder of `components` and the last name, for the *at calls on a leaf.
struct LeafPlace {
    Descriptor parent;
    std::string name;
    bool Valid() const { return parent.Valid(); }
};

LeafPlace ParentOf(int root, const std::vector<WString>& components) {
    LeafPlace place;
    if (components.empty() || !AllPlain(components)) return place;
    WalkResult walk = OpenFolder(root, components, components.size() - 1);
    if (walk.outcome != Walk::Reached) return place;
    place.parent = std::move(walk.folder);
    place.name = NativeName(components.back());
    return place;
}

bool StatLeaf(const LeafPlace& place, struct stat& info) {
    return place.Valid() &&
           ::fstatat(place.parent.Get(), place.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

FileIdentity IdentityFromStat(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}
}  // namespace

std::optional<OpenFile> ContainedFolder::OpenFileAt(const std::vector<WString>& components,
                                                    Opening how) const {
    LeafPlace place = ParentOf(rootDescriptor, components);
    if (!place.Valid()) return std::nullopt;
    int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    if (how == Opening::CreateNew) flags |= O_CREAT | O_EXCL;
    if (how == Opening::Replace) flags |= O_CREAT;
    // O_NONBLOCK: a fifo in the file's place does not hold the open; OpenFile refuses it.
    OpenFile file(::openat(place.parent.Get(), place.name.c_str(), flags, 0666));
    if (!file.IsOpen()) return std::nullopt;
    if (how == Opening::Replace && !file.Truncate(0)) return std::nullopt;
    return file;
}

FileIdentity ContainedFolder::IdentityOf(const std::vector<WString>& components) const {
    LeafPlace place = ParentOf(rootDescriptor, components);
    struct stat info {};
    if (!StatLeaf(place, info) || S_ISLNK(info.st_mode)) return {};
    return IdentityFromStat(info);
}

bool ContainedFolder::RemoveFileIf(const std::vector<WString>& components,
                                   FileIdentity identity) const {
    LeafPlace place = ParentOf(rootDescriptor, components);
    struct stat info {};
    if (!identity.Known() || !StatLeaf(place, info) || !S_ISREG(info.st_mode) ||
        IdentityFromStat(info) != identity)
        return false;
    return ::unlinkat(place.parent.Get(), place.name.c_str(), 0) == 0;
}

bool ContainedFolder::RemoveEmptyFolder(const std::vector<WString>& components) const {
    LeafPlace place = ParentOf(rootDescriptor, components);
    struct stat info {};
    if (!StatLeaf(place, info) || !S_ISDIR(info.st_mode)) return false;
    return ::unlinkat(place.parent.Get(), place.name.c_str(), AT_REMOVEDIR) == 0;
}

RenameOutcome ContainedFolder::MoveNoReplace(const std::vector<WString>& from,
                                             const std::vector<WString>& to) const {
    LeafPlace source = ParentOf(rootDescriptor, from);
    LeafPlace target = ParentOf(rootDescriptor, to);
    if (!source.Valid() || !target.Valid()) return RenameOutcome::Failed;
    int sourceFd = source.parent.Get(), targetFd = target.parent.Get();
    const char* sourceName = source.name.c_str();
    const char* targetName = target.name.c_str();
    if (::renameat2(sourceFd, sourceName, targetFd, targetName, RENAME_NOREPLACE) == 0)
        return RenameOutcome::Done;
    if (errno == EEXIST) return RenameOutcome::Exists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return RenameOutcome::Failed;
    struct stat info {};
    if (::fstatat(sourceFd, sourceName, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return RenameOutcome::Failed;
    if (S_ISDIR(info.st_mode)) {
        // File systems without the no-replace flag. Folders cannot be hard-linked, so take the
        // name with an empty folder of our own first: only that placeholder is ever replaced.
        if (::mkdirat(targetFd, targetName, 0700) != 0)
            return errno == EEXIST ? RenameOutcome::Exists : RenameOutcome::Failed;
        if (::renameat(sourceFd, sourceName, targetFd, targetName) == 0) return RenameOutcome::Done;
        ::unlinkat(targetFd, targetName, AT_REMOVEDIR);  // only while still empty
        return RenameOutcome::Failed;
    }
    // A hard link fails when the name exists, so link + unlink never overwrites either.
    if (::linkat(sourceFd, sourceName, targetFd, targetName, 0) == 0) {
        ::unlinkat(sourceFd, sourceName, 0);
        return RenameOutcome::Done;
    }
    return errno == EEXIST ? RenameOutcome::Exists : RenameOutcome::Failed;
}

std::optional<std::vector<ContainedFolder::Child>> ContainedFolder::List(
    const std::vector<WString>& components) const {
    if (!AllPlain(components)) return std::nullopt;
    WalkResult walk = OpenFolder(rootDescriptor, components, components.size());
    if (walk.outcome != Walk::Reached) return std::nullopt;
    // O_PATH descriptors cannot be read: the listing opens the folder itself once more.
    int fd = ::openat(walk.folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<Child> children;
    while (dirent* item = ::readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        children.push_back({FromFsPath(std::filesystem::path(name)), FactsFromStat(info).kind,
                            IdentityFromStat(info)});
    }
    ::closedir(dir);
    return children;
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
