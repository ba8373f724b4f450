#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "toolkit/open_file.h"
#include "toolkit/platform.h"
#include "toolkit/text.h"

// Folders and files made below a receive folder, and facts about a path, without ever
// following a symbolic link. The system calls this takes live in contained_folder_posix.cpp
// and contained_folder_win.cpp only.
namespace mirka {

// The type, size and modification time of a path.
struct PathFacts {
    enum class Kind { Missing, File, Folder, Link, Other };
    Kind kind = Kind::Missing;
    std::int64_t size = 0;        // of a file
    std::int64_t modifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
    FileIdentity identity;
};
// A folder that received paths are made in: nothing below it is ever created, opened or
// changed through a symbolic link, whatever a peer or a local program put there. Every
// operation walks down from the root's descriptor one name at a time (openat with
// O_NOFOLLOW; on Windows NtCreateFile relative to the parent's handle, opening a reparse point
// as itself), so a link planted anywhere on the way stops it instead of leading elsewhere.
// Names are single components: empty, ".", ".." or a name holding a separator is refused.
class ContainedFolder {
public:
    // Opens the root (the receive folder, which may itself be a link the user made: that is
    // the user's choice); nothing when it cannot be opened as a folder. An empty root is the
    // working folder.
    static std::optional<ContainedFolder> Open(const WString& root);
    // Whether the root's path still leads to the folder held (it was not moved or removed).
    bool AtItsPath() const;
    // A second hold on the same root folder (the same one even if its name moves meanwhile).
    std::optional<ContainedFolder> Duplicate() const;

    ContainedFolder(ContainedFolder&& other) noexcept;
    ContainedFolder& operator=(ContainedFolder&& other) noexcept;
    ContainedFolder(const ContainedFolder&) = delete;
    ContainedFolder& operator=(const ContainedFolder&) = delete;
    ~ContainedFolder();

    // Creates every missing folder of `components` below the root, one level at a time:
    // false when one cannot be made, or when something in the way is a link or not a folder.
    // An empty list is the root itself (true).
    // `made`, when given, receives the index and identity of each folder this call created.
    bool MakeFolders(const std::vector<WString>& components,
                     std::vector<std::pair<std::size_t, FileIdentity>>* made = nullptr) const;

    enum class Leaf { Absent, RegularFile, Refused };
    struct LeafInfo {
        Leaf kind = Leaf::Refused;
        std::int64_t size = 0;  // of a regular file
    };
    // What lies at `components`: nothing (also when a folder on the way does not exist yet),
    // a regular file with its size, or something a received file must not be written
    // through (a link, a folder, a special file, or a link or file where a folder on the way
    // should be).
    LeafInfo Inspect(const std::vector<WString>& components) const;

    // Sets the modification time of the file or folder at `components` (nanoseconds since
    // 1970-01-01 UTC); false for a link (neither it nor its target is changed) or a failure.
    bool SetModified(const std::vector<WString>& components, std::int64_t modifiedNs) const;

    // Opens the regular file at `components` for reading and writing, never through a link:
    // CreateNew makes it and fails when anything has the name; Existing opens what is there;
    // Replace makes it or cuts what is there to nothing.
    enum class Opening { CreateNew, Existing, Replace };
    std::optional<OpenFile> OpenFileAt(const std::vector<WString>& components, Opening how) const;
    // Which file or folder is at `components` (a link or nothing: not known).
    FileIdentity IdentityOf(const std::vector<WString>& components) const;
    // Removes the file at `components` only when it is still the file `identity` names.
    bool RemoveFileIf(const std::vector<WString>& components, FileIdentity identity) const;
    // Removes the folder at `components` when it is empty (and not a link).
    bool RemoveEmptyFolder(const std::vector<WString>& components) const;
    // Renames the file or folder at `from` to `to` (both below the root, their parents
    // existing) without replacing anything and without following a link on the way.
    RenameOutcome MoveNoReplace(const std::vector<WString>& from,
                                const std::vector<WString>& to) const;
    // The names in the folder at `components`, with what each one is (never followed).
    struct Child {
        WString name;
        PathFacts::Kind kind;
        FileIdentity identity;
    };
    std::optional<std::vector<Child>> List(const std::vector<WString>& components) const;

    // The full path of `components` below the root, for the streams that write the files.
    WString PathOf(const std::vector<WString>& components) const;

private:
    ContainedFolder(int descriptor, WString root);

    int rootDescriptor = -1;
    WString rootPath;
};

// Of the path itself: a link is a Link, whatever it points to.
PathFacts FactsOf(const WString& path);
// Of what the path leads to when it is a link (a broken link is Missing).
PathFacts TargetFactsOf(const WString& path);

}  // namespace mirka
