#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>

#include "link/file_record.h"
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

    struct Resume {
        PathReservation reservation;
        std::int64_t offset;
    };
    // A partial file of the offered name that this offer can continue, reserved for it. Only
    // a file no reception holds, of at least twice the checksum span, whose first bytes match
    // the checksum, not longer than the offered file, and first offered with the same size.
    std::optional<Resume> ReserveResume(const WString& folder, const FileRecord& record,
                                        WStringView offeredName);
    // A fresh temporary path for `name`, reserved; nothing when every candidate is taken. A
    // candidate is taken when its final name or its temporary name exists or is reserved.
    std::optional<PathReservation> ReserveNew(const WString& folder, WStringView name);

    // Moves a finished temporary file to its final name, or to the next free clash name when
    // that was taken meanwhile; never over an existing file. Returns the final path, or
    // nothing when the file could not be moved (it vanished, or the folder did).
    std::optional<WString> PlaceFinishedFile(const WString& temporaryPath);

    // The size first offered for a partial file, kept in a small file beside it, so a later
    // offer of another file by the same name and first bytes is not completed from it.
    static void RecordOfferedSize(const WString& temporaryPath, std::int64_t size);
    static std::optional<std::int64_t> OfferedSizeOf(const WString& temporaryPath);
    // Removes the temporary file (if asked) and the note of its size.
    static void Discard(const WString& temporaryPath, bool removeFile);

    bool IsReserved(const WString& temporaryPath);
    // Reserves exactly this path (a folder's file, or a partial folder taken up again);
    // nothing when a running reception holds it.
    std::optional<PathReservation> Reserve(const WString& path);

private:
    friend class PathReservation;
    bool TryReserve(const WString& temporaryPath);
    void Release(const WString& temporaryPath);
    bool Taken(const WString& finalPath);

    std::mutex lock;
    std::set<WString> reserved;
};

}  // namespace mirka
