#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "toolkit/open_file.h"
#include "toolkit/text.h"

// Folders sent whole: the check of every relative path a peer sends, and the listing of a
// folder this side sends.
namespace mirka {

// Limits on a folder a peer sends (and on one this side lists).
inline constexpr std::size_t kMaxFolderDepth = 64;        // components in a relative path
inline constexpr std::size_t kMaxFolderPathBytes = 4096;  // UTF-8 bytes of a relative path
inline constexpr std::size_t kMaxFolderEntries = 100000;  // files plus sub-folders
inline constexpr std::int64_t kMaxFolderBytes = std::int64_t{1} << 44;  // 16 TiB
// A component may be as long as a single received name (kMaxReceivedNameBytes): a longer
// one would be cut and could then meet another name cut the same way.

enum class PeerPathFault {
    None,
    Empty,
    Absolute,
    EmptyOrDotComponent,
    DotDot,
    Backslash,
    DriveLetter,
    ControlCharacter,
    BadUtf8,
    ComponentTooLong,
    TooDeep,
    TooLong,
};

struct PeerPath {
    PeerPathFault fault = PeerPathFault::None;
    std::vector<WString> components;  // each one as it will be named on this side
};

// Checks a relative path the peer sent (UTF-8, '/' between components) before anything
// touches the disk. A refused path has its fault set and no components. Each accepted
// component has been through SafeReceivedName (reserved characters become '_', trailing
// dots and blanks are dropped); one that would lose its name there is refused.
PeerPath CheckPeerPath(std::string_view utf8);

// A short text for the fault, for the log line that ends a refused folder.
WStringView PeerPathFaultText(PeerPathFault fault);

// The paths on this side of one folder's entries so far (components from CheckPeerPath,
// below the folder), to tell when two entries would be one file or folder here, and
// whether a file's parent was announced as a folder. Each path is kept as a keyed 64-bit
// hash: its text may be 4 KiB, and a folder may have 100,000 entries. The key is drawn
// for each set, so a peer cannot make two paths meet; two that meet by chance (odds of a
// few in 10^10 for the largest folder) refuse the folder or let one file's parents be
// made unannounced.
class LocalPaths {
public:
    enum class Kind { None, File, Folder };
    LocalPaths();
    // The folder itself (no components) is always there as a folder.
    Kind Find(const std::vector<WString>& components) const;
    void Add(const std::vector<WString>& components, bool folder);

private:
    std::uint64_t HashOf(const std::vector<WString>& components) const;
    std::array<unsigned char, 16> key{};
    std::unordered_map<std::uint64_t, bool> seen;  // hash -> is a folder
};

struct FolderEntry {
    std::string relativePath;  // UTF-8, '/' between components, never empty
    bool directory = false;
    std::int64_t size = 0;        // files
    std::int64_t modifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
    WString sourcePath;           // the full local path
    FileIdentity identity;        // which file it was when listed
};

struct FolderListing {
    WString name;  // the listed folder's own name (its last component)
    // Every sub-folder comes before what it holds, and the names within a folder are sorted
    // (by their UTF-8 bytes), so the same folder lists the same way every time.
    std::vector<FolderEntry> entries;
    // Relative paths, for the log, of what is not sent: symbolic links, special files,
    // entries that cannot be read, names the receiving side would refuse and names it
    // would turn into another entry's name.
    std::vector<WString> skipped;
    std::size_t fileCount = 0;
    std::int64_t totalBytes = 0;
    std::int64_t modifiedNs = 0;  // the listed folder's own modification time
    // More entries (or skipped ones), depth, path bytes or total bytes than the limits: the
    // listing stopped there and nothing of it may be sent.
    bool overLimits = false;
    bool unreadable = false;  // the folder itself could not be listed
};

// Lists a folder to send. Symbolic links below it are never followed (to folders or
// files): they are skipped, as are special files (fifos, sockets, devices). Empty folders
// are entries too. The folder itself may be a link the user dropped.
FolderListing ListFolder(const WString& folder);

}  // namespace mirka
