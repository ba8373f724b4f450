#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "link/transfer/folder_tree.h"
#include "link/transfer/receive_paths.h"
#include "link/transfer/received_tree.h"
#include "toolkit/contained_folder.h"
#include "toolkit/text.h"

// What the transfer engine keeps of a folder on its way: the folder is one row and one unit
// for the user, its files go as ordinary verified transfers ("members") that have no row.
namespace mirka {

// Files of one folder in flight at once: small files then cost a fraction of a round trip
// each, and a folder never takes more than half of the peer's 64 receptions.
inline constexpr std::size_t kFolderFilesInFlight = 32;
// Folders a receiver takes at once; later offers are refused.
inline constexpr std::size_t kMaxFolderReceptions = 8;
// Files of one folder announced and still waiting for their offers, at most; one more ends
// the folder. The sender puts each file's offer right after its entry, so between two
// copies one waits at a time; even a sender announcing all it has in flight fits.
inline constexpr std::size_t kMaxFolderFilesWaiting = 64;
static_assert(kFolderFilesInFlight <= kMaxFolderFilesWaiting);
// Memory the paths of one folder's sub-folders may take while it is received (they are kept
// to set the sub-folders' times at the end): any folder of up to about 13,000 sub-folders
// fits at any depth, and 8 folders of a peer's longest paths stay near 1 GiB, not 9.
inline constexpr std::size_t kMaxFolderPathMemory = std::size_t{128} << 20;
// What a sub-folder is taken to cost on the disk (one block) when the free space is
// checked before it is made.
inline constexpr std::int64_t kFolderEntryBytes = 4096;

// Bytes and files done, and the speed the row shows (sampled at each refresh).
struct FolderProgress {
    std::int32_t filesDone = 0;
    std::int32_t filesTotal = 0;
    std::int64_t bytesDone = 0;  // of the files done
    std::int64_t totalBytes = 0;
    std::uint32_t rate = 1;
    std::int64_t sampledBytes = 0;
    std::chrono::steady_clock::time_point sampledAt = std::chrono::steady_clock::now();
};

struct SendingFolder {
    WString path;  // the dropped folder
    FolderListing listing;
    std::size_t nextEntry = 0;
    std::set<std::int32_t> running;  // member task ids offered and not yet delivered
    FolderProgress progress;
    bool paused = false;
    bool endSent = false;
    // Every file delivered and the end sent: the receiver's receipt for the folder is due.
    std::optional<std::chrono::steady_clock::time_point> receiptDue;
};

// A file the peer announced in a folder, waiting for its offer.
struct FolderMember {
    std::vector<WString> components;  // below the folder
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
};

struct ReceivingFolder {
    WString name;      // the folder's name as the peer sent it (made safe)
    WString rootName;  // "<name>.tmp" or a clash form of it, directly in the receive folder
    WString prefix;    // the receive folder, as the start of a path
    PathReservation reservation;
    // The receive folder, set once the folder is taken; its files hold it too.
    std::shared_ptr<const ContainedFolder> place;
    std::optional<ReceivedTree> tree;  // the partial tree and its note, likewise
    // Every file of this session taken (below the folder): with the sub-folders, all that
    // the finished folder may hold.
    std::set<std::vector<WString>> filesTaken;
    std::map<std::int32_t, FolderMember> announced;  // by the task id of the coming offer
    std::map<std::int32_t, FolderMember> running;    // receptions under way
    // Sub-folders and their times, set at the end (writing files into them changes them).
    std::vector<std::pair<std::vector<WString>, std::int64_t>> folderTimes;
    std::int64_t modifiedNs = 0;
    std::size_t entriesSeen = 0;
    std::size_t entriesAnnounced = 0;
    std::int64_t bytesAnnounced = 0;  // sizes of the file entries so far
    FolderProgress progress;
    bool endSeen = false;
    // The entries' paths on this side so far: no two entries may be one path here, and a
    // file or folder goes only into a folder announced before it.
    LocalPaths localPaths;
    std::size_t foldersSeen = 0;       // folder entries so far, at most the offer's sub-folders
    std::size_t folderPathMemory = 0;  // what folderTimes takes, about

    // The components of a path below the folder, from the receive folder.
    std::vector<WString> Below(const std::vector<WString>& components) const {
        std::vector<WString> full{rootName};
        full.insert(full.end(), components.begin(), components.end());
        return full;
    }
};

}  // namespace mirka

namespace mirka {
// "<head>\r\nフォルダ名 > name (n 個のファイル, size)\r\n": a folder's start and end lines.
WString FolderLogLine(WStringView head, WStringView name, std::size_t files, std::int64_t bytes);
}  // namespace mirka
