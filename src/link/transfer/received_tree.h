#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#ifdef _WIN32
// Windows' headers rename CreateFile to CreateFileW: every file that sees this class must see
// the member renamed alike.
#include <winsock2.h>
#endif

#include "toolkit/contained_folder.h"
#include "toolkit/open_file.h"
#include "toolkit/text.h"

// The partial tree of a folder being received, and the note beside it (".<root>.made") of
// every file and folder a reception of this program made in it. The note is what lets a
// later reception take the tree up again, and what a delete, a cut or the end of the folder
// may touch: anything else found in the tree (the user's own, or a stray of a cut session)
// is never cut, overwritten or removed.
namespace mirka {

class ReceivedTree {
public:
    enum class Kind : char { File = 'F', Folder = 'D' };
    using Path = std::vector<WString>;  // components below the tree's root

    // Makes the root folder `rootName` directly in `place` (nothing may have the name) and
    // starts its note.
    static std::optional<ReceivedTree> Create(const ContainedFolder& place,
                                              const WString& rootName);
    // The tree an earlier reception left under `rootName`; nothing when no note of ours
    // names this very folder.
    static std::optional<ReceivedTree> TakeUp(const ContainedFolder& place,
                                              const WString& rootName);

    // Whether what is at `below` now is a file or folder a reception made.
    bool Made(const Path& below) const;
    // Opens the file a reception made at `below`, only if it is still that file.
    std::optional<OpenFile> OpenMade(const Path& below) const;
    // Makes a new file at `below` (nothing may have the name) and notes it.
    std::optional<OpenFile> CreateFile(const Path& below);
    // Notes a file or folder just made; false when the note cannot take it.
    bool Record(Kind kind, const Path& below, FileIdentity identity);
    // Moves what is at `below` out of the tree, to the same place in a folder "<name>.kept"
    // beside it; false when it could not be moved.
    bool SetAside(const Path& below);

    struct Sweep {
        std::size_t removed = 0;   // made by a reception, not announced this time
        std::size_t setAside = 0;  // not made by a reception (during the folder too)
        std::size_t stuck = 0;     // could be neither removed nor set aside
        WString asideName;         // the folder they went to
    };
    // Before the tree takes its final name: only `announced` (files and folders) and the
    // folders on their way stay in it.
    Sweep KeepOnly(const std::set<Path>& announced);
    // A delete: every file and folder a reception made goes (folders once empty), then the
    // root if it is empty; anything else stays where it is.
    void RemoveMade();
    // Removes the note (the tree has its final name, or is gone).
    void Forget();

    // At most this many files and folders noted per tree.
    static constexpr std::size_t kMaxNoted = 200000;

private:
    ReceivedTree(ContainedFolder place, WString rootName, OpenFile note);
    Path Full(const Path& below) const;
    bool Append(Kind kind, const Path& below, FileIdentity identity);
    void SweepFolder(const Path& folder, const std::set<Path>& keep, Sweep& sweep);

    ContainedFolder place;
    WString rootName;
    OpenFile note;
    FileIdentity root;
    std::map<Path, std::pair<Kind, FileIdentity>> made;
    WString asideName;  // empty until something is set aside
    std::size_t movedAside = 0;
};

}  // namespace mirka
