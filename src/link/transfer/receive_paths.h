#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>

#include "link/wire/file_record.h"
#include "toolkit/contained_folder.h"
#include "toolkit/open_file.h"
#include "toolkit/text.h"

// Where received files go, and the rules for their names: a reception writes "<final>.tmp"
// and renames it to its final name at the end; a name that is taken gets "_[xx]" before its
// extension. The table knows every temporary path that a running reception holds, so two
// receptions never share a file, and a resume never picks a file that is still being written.
namespace mirka {

class ReceivePaths;

// Holds one temporary path for a running reception; released when destroyed.
class PathReservation {
public:
    PathReservation() = default;
    PathReservation(ReceivePaths* table, WString path) : table(table), path(std::move(path)) {}
    PathReservation(PathReservation&& other) noexcept { *this = std::move(other); }
    PathReservation& operator=(PathReservation&& other) noexcept;
    ~PathReservation() { Release(); }
    void Release();
    const WString& Path() const { return path; }

private:
    ReceivePaths* table = nullptr;
    WString path;
};

class ReceivePaths {
public:
    static constexpr WStringView kTemporarySuffix = u".tmp";
    // Names tried for a taken name: "_[00]" to "_[fe]".
    static constexpr int kClashCandidates = 255;

    static WString FinalPathOf(WStringView temporaryPath);
    // "stem_[xx].ext" for clash number `index`.
    static WString ClashName(WStringView name, int index);
    // Whether a temporary file's name is the offered name's own or one of its clash forms.
    static bool BelongsTo(WStringView temporaryName, WStringView offeredName);

    // The receive folder setting as the start of a path: empty (the working folder) stays
    // empty, anything else ends with a separator.
    static WString FolderPrefix(WStringView setting);

    struct Resume {
        PathReservation reservation;
        std::int64_t offset;
        OpenFile file;
    };
    // A partial file of the offered name that this offer can continue, reserved for it and
    // open. Only a file that a reception of this program made (its note names this very
    // file) and no reception holds, of at least twice the checksum span, whose first bytes
    // match the checksum, not longer than the offered file, and first offered with the same
    // size. `prefix` is the receive folder as FolderPrefix gives it, `place` that folder.
    std::optional<Resume> ReserveResume(const ContainedFolder& place, const WString& prefix,
                                        const FileRecord& record, WStringView offeredName);
    // A fresh temporary path for `name`, reserved; nothing when every candidate is taken. A
    // candidate is taken when anything has its final name or its temporary name, or it is
    // reserved.
    std::optional<PathReservation> ReserveNew(const ContainedFolder& place, const WString& prefix,
                                              WStringView name);
    // Makes the temporary file `temporaryName` (directly in `place`) that nothing else may
    // have, and the note beside it that marks it as this program's partial file.
    static std::optional<OpenFile> CreatePartial(const ContainedFolder& place,
                                                 const WString& temporaryName,
                                                 std::int64_t offeredSize);

    // Moves a finished temporary file or folder (directly in `place`) to its final name, or
    // to the next free clash name when that was taken meanwhile; never over anything there.
    // Returns the final path, or nothing when it could not be moved (it vanished, say).
    std::optional<WString> PlaceFinished(const ContainedFolder& place, const WString& prefix,
                                         const WString& temporaryName);

    // The note beside a partial file: the size first offered for it, so a later offer of
    // another file by the same name and first bytes is not completed from it, and which file
    // the reception made, so that nothing else ever passes for it.
    struct PartialNote {
        std::int64_t offeredSize = 0;
        FileIdentity made;
    };
    static bool WriteNote(const ContainedFolder& place, const WString& temporaryName,
                          const PartialNote& note);
    static std::optional<PartialNote> ReadNote(const ContainedFolder& place,
                                               const WString& temporaryName);
    // Marks the file at `temporaryPath` as a partial file this program left, first offered
    // with `offeredSize` (what a reception does when it makes one).
    static bool MarkAsPartial(const WString& temporaryPath, std::int64_t offeredSize);
    // Removes the note and, when `file` is known, the temporary file, only if it is still
    // that file.
    static void Discard(const ContainedFolder& place, const WString& temporaryName,
                        FileIdentity file);

    bool IsReserved(const WString& temporaryPath);
    // Reserves exactly this path (a folder's file, or a partial folder taken up again);
    // nothing when a running reception holds it.
    std::optional<PathReservation> Reserve(const WString& path);

private:
    friend class PathReservation;
    bool TryReserve(const WString& temporaryPath);
    void Release(const WString& temporaryPath);
    bool Taken(const ContainedFolder& place, const WString& prefix, const WString& finalName);

    // Guards the set alone, never across a call to the file system: paths are reserved on
    // the I/O thread (an offer) and released by whichever thread lets a reception go (the
    // I/O thread, the pump on the user's cancel, a digest result, the window thread when the
    // manager goes).
    std::mutex lock;
    std::set<WString> reserved;
};

}  // namespace mirka
