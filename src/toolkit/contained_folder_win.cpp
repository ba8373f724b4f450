#include "toolkit/contained_folder.h"

#include <windows.h>

#include <io.h>
#include <winternl.h>
#include <cwctype>
#include <utility>

#include "toolkit/file_system.h"
#include "toolkit/open_file_win.h"

// The Windows half: every name below the root is opened relative to its parent folder's
// handle (NtCreateFile with a root directory, the Windows openat) and with
// FILE_OPEN_REPARSE_POINT, so a symbolic link, junction or mount point is opened as itself and
// then refused instead of followed. Handles are shared for reading, writing and deleting, as
// POSIX descriptors do not hold a name either.
namespace mirka {

namespace {

constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::int64_t kNsPerTick = 100;
// FileRenameInformation of the system's information classes.
constexpr int kRenameInformation = 10;
// FileDispositionInfoEx, which mingw-w64's header hides behind a wrong version test.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// 100 ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kTicksTo1970 = 116444736000000000;

// Owns one handle.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle(handle) {}
    Handle(Handle&& other) noexcept : handle(std::exchange(other.handle, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle, other.handle);
        return *this;
    }
    ~Handle() {
        if (Valid()) ::CloseHandle(handle);
    }
    HANDLE Get() const { return handle; }
    HANDLE Release() { return std::exchange(handle, INVALID_HANDLE_VALUE); }
    bool Valid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// Names Windows would read as a device, whatever follows their first dot.
bool IsDeviceName(const WString& name) {
    WString base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    for (char16_t& c : base) c = static_cast<char16_t>(std::towupper(c));
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
        base == u"CONOUT$")
        return true;
    return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
           base[3] >= u'1' && base[3] <= u'9';
}

// A name that stays inside the folder it is looked up in and means the same to every
// Windows program: no stream (':'), no wildcard or reserved character, no device name, and
// no trailing dot or space (which the Windows paths of other programs would drop).
bool IsPlainName(const WString& name) {
    if (name.empty() || name == u"." || name == u".." || name.back() == u'.' || name.back() == u' ')
        return false;
    for (char16_t c : name)
        if (c < 0x20 || WStringView(u"\\/:*?\"<>|").find(c) != WStringView::npos) return false;
    return !IsDeviceName(name);
}

bool AllPlain(const std::vector<WString>& components) {
    for (const WString& name : components)
        if (!IsPlainName(name)) return false;
    return true;
}

HANDLE RootHandle(int descriptor) {
    return HandleOf(descriptor);
}

struct Opened {
    Handle handle;
    NTSTATUS status = 0;
    bool created = false;
};

// Opens `name` in the folder `parent` without following a reparse point at it.
Opened OpenRelative(HANDLE parent, const WString& name, ACCESS_MASK access, ULONG disposition,
                    ULONG options) {
    Opened result;
    std::wstring wide(name.begin(), name.end());
    UNICODE_STRING text{};
    text.Buffer = wide.data();
    text.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = INVALID_HANDLE_VALUE;
    result.status = ::NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, kShareAll,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(result.status)) {
        result.handle = Handle(handle);
        result.created = io.Information == FILE_CREATED;
    }
    return result;
}

bool IsReparse(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

enum class Walk { Reached, Missing, Blocked };
struct WalkResult {
    Walk outcome = Walk::Blocked;
    Handle folder;
};

Handle DuplicateOf(HANDLE handle) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return Handle();
    return Handle(copy);
}

// Opens the folder named by the first `count` components, each one reached without
// following a reparse point.
WalkResult OpenFolder(HANDLE root, const std::vector<WString>& components, std::size_t count) {
    WalkResult result;
    result.folder = DuplicateOf(root);
    if (!result.folder.Valid()) return result;
    for (std::size_t i = 0; i < count; ++i) {
        Opened next = OpenRelative(result.folder.Get(), components[i],
                                   FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                   FILE_OPEN, FILE_DIRECTORY_FILE);
        DWORD attributes = 0;
        if (!next.handle.Valid() || !IdentityOfHandle(next.handle.Get(), &attributes).Known() ||
            IsReparse(attributes)) {
            bool missing = next.status == kNameNotFound || next.status == kPathNotFound;
            result.outcome = missing ? Walk::Missing : Walk::Blocked;
            result.folder = Handle();
            return result;
        }
        result.folder = std::move(next.handle);
    }
    result.outcome = Walk::Reached;
    return result;
}

std::int64_t NsFromFileTime(const FILETIME& time) {
    std::int64_t ticks =
        static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    return (ticks - kTicksTo1970) * kNsPerTick;
}

PathFacts FactsFromHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return {};
    PathFacts facts;
    facts.kind = IsReparse(info.dwFileAttributes)                     ? PathFacts::Kind::Link
                 : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathFacts::Kind::Folder
                 : ::GetFileType(handle) == FILE_TYPE_DISK            ? PathFacts::Kind::File
                                                                      : PathFacts::Kind::Other;
    if (facts.kind == PathFacts::Kind::File)
        facts.size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) |
                                               info.nFileSizeLow);
    facts.identity = {info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    facts.modifiedNs = NsFromFileTime(info.ftLastWriteTime);
    return facts;
}

// The parent folder of `components` and the last name, for the calls on a leaf.
struct LeafPlace {
    Handle parent;
    WString name;
    bool Valid() const { return parent.Valid(); }
};

LeafPlace ParentOf(HANDLE root, const std::vector<WString>& components) {
    LeafPlace place;
    if (components.empty() || !AllPlain(components)) return place;
    WalkResult walk = OpenFolder(root, components, components.size() - 1);
    if (walk.outcome != Walk::Reached) return place;
    place.parent = std::move(walk.folder);
    place.name = components.back();
    return place;
}

// What lies at a leaf, looked at through a handle on it (so it cannot change in between).
Opened OpenLeaf(const LeafPlace& place, ACCESS_MASK access, ULONG options = 0) {
    if (!place.Valid()) return {};
    return OpenRelative(place.parent.Get(), place.name, access | FILE_READ_ATTRIBUTES, FILE_OPEN,
                        options);
}

// Removes the name at once, as unlink does, even while the file is still open elsewhere (where
// the system can: Windows 10 1607); otherwise when the last handle on it closes.
bool MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO_EX now{};
    now.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
    if (::SetFileInformationByHandle(handle, kDispositionInfoEx, &now, sizeof now)) return true;
    DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION)
        return false;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

PathFacts FactsByPath(const WString& path, bool followLink) {
    if (path.empty()) return {};
    Handle handle(::CreateFileW(
        ToFsPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
    if (!handle.Valid()) return {};
    return FactsFromHandle(handle.Get());
}

}  // namespace

std::optional<ContainedFolder> ContainedFolder::Open(const WString& root) {
    // The root itself may be a link or junction the user made: that one is followed.
    HANDLE handle =
        ::CreateFileW(root.empty() ? L"." : ToFsPath(root).c_str(),
                      FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    DWORD attributes = 0;
    if (!IdentityOfHandle(handle, &attributes).Known() ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return std::nullopt;
    }
    int descriptor = AdoptHandle(handle);
    if (descriptor < 0) return std::nullopt;
    return ContainedFolder(descriptor, root);
}

bool ContainedFolder::AtItsPath() const {
    PathFacts named = FactsByPath(rootPath.empty() ? WString(u".") : rootPath, true);
    FileIdentity held = IdentityOfHandle(RootHandle(rootDescriptor));
    return held.Known() && named.identity == held;
}

std::optional<ContainedFolder> ContainedFolder::Duplicate() const {
    Handle copy = DuplicateOf(RootHandle(rootDescriptor));
    if (!copy.Valid()) return std::nullopt;
    int descriptor = AdoptHandle(copy.Release());
    if (descriptor < 0) return std::nullopt;
    return ContainedFolder(descriptor, rootPath);
}

ContainedFolder::~ContainedFolder() {
    if (rootDescriptor >= 0) ::_close(rootDescriptor);
}

bool ContainedFolder::MakeFolders(const std::vector<WString>& components,
                                  std::vector<std::pair<std::size_t, FileIdentity>>* made) const {
    if (!AllPlain(components)) return false;
    Handle current = DuplicateOf(RootHandle(rootDescriptor));
    if (!current.Valid()) return false;
    for (std::size_t i = 0; i < components.size(); ++i) {
        // Whatever stands there now, made by us or not, is entered only when it is a folder.
        Opened next = OpenRelative(current.Get(), components[i],
                                   FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                   FILE_OPEN_IF, FILE_DIRECTORY_FILE);
        DWORD attributes = 0;
        if (!next.handle.Valid()) return false;
        FileIdentity identity = IdentityOfHandle(next.handle.Get(), &attributes);
        if (!identity.Known() || IsReparse(attributes)) return false;
        if (next.created && made) made->emplace_back(i, identity);
        current = std::move(next.handle);
    }
    return true;
}

ContainedFolder::LeafInfo ContainedFolder::Inspect(const std::vector<WString>& components) const {
    LeafInfo info;
    if (components.empty() || !AllPlain(components)) return info;
    WalkResult parent = OpenFolder(RootHandle(rootDescriptor), components, components.size() - 1);
    if (parent.outcome == Walk::Missing) info.kind = Leaf::Absent;
    if (parent.outcome != Walk::Reached) return info;
    LeafPlace place;
    place.parent = std::move(parent.folder);
    place.name = components.back();
    Opened leaf = OpenLeaf(place, 0);
    if (!leaf.handle.Valid()) {
        if (leaf.status == kNameNotFound) info.kind = Leaf::Absent;
        return info;
    }
    PathFacts facts = FactsFromHandle(leaf.handle.Get());
    if (facts.kind == PathFacts::Kind::File) {
        info.kind = Leaf::RegularFile;
        info.size = facts.size;
    }
    return info;
}

bool ContainedFolder::SetModified(const std::vector<WString>& components,
                                  std::int64_t modifiedNs) const {
    LeafPlace place = ParentOf(RootHandle(rootDescriptor), components);
    Opened leaf = OpenLeaf(place, FILE_WRITE_ATTRIBUTES);
    if (!leaf.handle.Valid()) return false;
    PathFacts facts = FactsFromHandle(leaf.handle.Get());
    if (facts.kind == PathFacts::Kind::Link || facts.kind == PathFacts::Kind::Missing) return false;
    // Times before 1601 cannot be written; the nearest one that can stands for them.
    std::int64_t ticks = modifiedNs / kNsPerTick + kTicksTo1970;
    if (modifiedNs % kNsPerTick < 0) --ticks;
    if (ticks < 0) ticks = 0;
    FILETIME written{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    // The handle is on the leaf itself, opened as a link if it is one: only its own time could
    // change, and a link was refused above.
    return ::SetFileTime(leaf.handle.Get(), nullptr, nullptr, &written) != 0;
}

std::optional<OpenFile> ContainedFolder::OpenFileAt(const std::vector<WString>& components,
                                                    Opening how) const {
    LeafPlace place = ParentOf(RootHandle(rootDescriptor), components);
    if (!place.Valid()) return std::nullopt;
    ULONG disposition = how == Opening::CreateNew  ? FILE_CREATE
                        : how == Opening::Existing ? FILE_OPEN
                                                   : FILE_OPEN_IF;
    Opened opened = OpenRelative(place.parent.Get(), place.name, GENERIC_READ | GENERIC_WRITE,
                                 disposition, FILE_NON_DIRECTORY_FILE);
    if (!opened.handle.Valid()) return std::nullopt;
    // OpenFile refuses a link, a device or a folder.
    OpenFile file(AdoptHandle(opened.handle.Release()));
    if (!file.IsOpen()) return std::nullopt;
    if (how == Opening::Replace && !file.Truncate(0)) return std::nullopt;
    return file;
}

FileIdentity ContainedFolder::IdentityOf(const std::vector<WString>& components) const {
    LeafPlace place = ParentOf(RootHandle(rootDescriptor), components);
    Opened leaf = OpenLeaf(place, 0);
    if (!leaf.handle.Valid()) return {};
    PathFacts facts = FactsFromHandle(leaf.handle.Get());
    if (facts.kind == PathFacts::Kind::Link || facts.kind == PathFacts::Kind::Missing) return {};
    return facts.identity;
}

bool ContainedFolder::RemoveFileIf(const std::vector<WString>& components,
                                   FileIdentity identity) const {
    if (!identity.Known()) return false;
    LeafPlace place = ParentOf(RootHandle(rootDescriptor), components);
    Opened leaf = OpenLeaf(place, DELETE, FILE_NON_DIRECTORY_FILE);
    if (!leaf.handle.Valid()) return false;
    PathFacts facts = FactsFromHandle(leaf.handle.Get());
    // Checked and removed through the same handle: no other file can take its place between.
    if (facts.kind != PathFacts::Kind::File || facts.identity != identity) return false;
    return MarkForDeletion(leaf.handle.Get());
}

bool ContainedFolder::RemoveEmptyFolder(const std::vector<WString>& components) const {
    LeafPlace place = ParentOf(RootHandle(rootDescriptor), components);
    Opened leaf = OpenLeaf(place, DELETE, FILE_DIRECTORY_FILE);
    if (!leaf.handle.Valid()) return false;
    if (FactsFromHandle(leaf.handle.Get()).kind != PathFacts::Kind::Folder) return false;
    // Refused by the system while the folder holds anything.
    return MarkForDeletion(leaf.handle.Get());
}

RenameOutcome ContainedFolder::MoveNoReplace(const std::vector<WString>& from,
                                             const std::vector<WString>& to) const {
    LeafPlace source = ParentOf(RootHandle(rootDescriptor), from);
    LeafPlace target = ParentOf(RootHandle(rootDescriptor), to);
    if (!source.Valid() || !target.Valid()) return RenameOutcome::Failed;
    // A link is moved as itself, never through.
    Opened moving = OpenLeaf(source, DELETE);
    if (!moving.handle.Valid()) return RenameOutcome::Failed;
    // The system's own call: the Win32 one may read a bare name as relative to the working
    // folder instead of to the handle given (wine does).
    std::wstring name(target.name.begin(), target.name.end());
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) +
                                      name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = target.parent.Get();
    rename->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), rename->FileName);
    IO_STATUS_BLOCK io{};
    NTSTATUS status =
        ::NtSetInformationFile(moving.handle.Get(), &io, rename, static_cast<ULONG>(buffer.size()),
                               static_cast<FILE_INFORMATION_CLASS>(kRenameInformation));
    if (NT_SUCCESS(status)) return RenameOutcome::Done;
    return status == kNameCollision ? RenameOutcome::Exists : RenameOutcome::Failed;
}

std::optional<std::vector<ContainedFolder::Child>> ContainedFolder::List(
    const std::vector<WString>& components) const {
    if (!AllPlain(components)) return std::nullopt;
    WalkResult walk = OpenFolder(RootHandle(rootDescriptor), components, components.size());
    if (walk.outcome != Walk::Reached) return std::nullopt;
    std::vector<Child> children;
    std::vector<unsigned char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(walk.folder.Get(), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size()))) {
        kind = FileFullDirectoryInfo;
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + at);
            WString name(entry->FileName, entry->FileName + entry->FileNameLength / sizeof(WCHAR));
            if (name != u"." && name != u"..") {
                // Each one looked at through a handle of its own, opened as a link if it is one,
                // so that the identity is the one the other calls see.
                Opened child =
                    OpenRelative(walk.folder.Get(), name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0);
                if (child.handle.Valid()) {
                    PathFacts facts = FactsFromHandle(child.handle.Get());
                    children.push_back({std::move(name), facts.kind, facts.identity});
                }
            }
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
    if (::GetLastError() != ERROR_NO_MORE_FILES) return std::nullopt;
    return children;
}

WString ContainedFolder::PathOf(const std::vector<WString>& components) const {
    WString path = rootPath;
    while (path.size() > 1 && kPathSeparators.find(path.back()) != WStringView::npos)
        path.pop_back();
    for (const WString& component : components) {
        if (path.empty() || kPathSeparators.find(path.back()) == WStringView::npos)
            path.push_back(kPathSeparator);
        path += component;
    }
    return path;
}

PathFacts FactsOf(const WString& path) {
    return FactsByPath(path, false);
}

PathFacts TargetFactsOf(const WString& path) {
    return FactsByPath(path, true);
}

}  // namespace mirka
