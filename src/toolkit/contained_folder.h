#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "toolkit/text.h"

// Folders and files made below a receive folder, and facts about a path, without ever
// following a symbolic link. The POSIX calls this takes live in contained_folder.cpp only.
namespace mirka {

// A folder that received paths are made in: nothing below it is ever created, opened or
// changed through a symbolic link, whatever a peer or a local program put there. Every
// operation walks down from the root's descriptor one name at a time (openat with
// O_NOFOLLOW), so a link planted anywhere on the way stops it instead of leading elsewhere.
// Names are single components: empty, ".", ".." or a name holding a separator is refused.
class ContainedFolder {
public:
    // Opens the root (the receive folder, which may itself be a link the user made: that is
    // the user's choice); nothing when it cannot be opened as a folder.
    static std::optional<ContainedFolder> Open(const WString& root);

    ContainedFolder(ContainedFolder&& other) noexcept;
    ContainedFolder& operator=(ContainedFolder&& other) noexcept;
    ContainedFolder(const ContainedFolder&) = delete;
    ContainedFolder& operator=(const ContainedFolder&) = delete;
    ~ContainedFolder();

    // Creates every missing folder of `components` below the root, one level at a time:
    // false when one cannot be made, or when something in the way is a link or not a folder.
    // An empty list is the root itself (true).
    bool MakeFolders(const std::vector<WString>& components);

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

    // Renames a real folder directly below the root from one name to another without
    // replacing anything: false when `to` exists, `from` is not a folder or the rename failed.
    bool RenameChildNoReplace(const WString& from, const WString& to) const;

    // The full path of `components` below the root, for the streams that write the files.
    WString PathOf(const std::vector<WString>& components) const;

private:
    ContainedFolder(int descriptor, WString root);

    int rootDescriptor = -1;
    WString rootPath;
};

// The type, size and modification time of a path.
struct PathFacts {
    enum class Kind { Missing, File, Folder, Link, Other };
    Kind kind = Kind::Missing;
    std::int64_t size = 0;        // of a file
    std::int64_t modifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
};
// Of the path itself: a link is a Link, whatever it points to.
PathFacts FactsOf(const WString& path);
// Of what the path leads to when it is a link (a broken link is Missing).
PathFacts TargetFactsOf(const WString& path);

}  // namespace mirka
