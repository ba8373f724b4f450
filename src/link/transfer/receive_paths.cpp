#include "link/transfer/receive_paths.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "toolkit/file_system.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

namespace mirka {

PathReservation& PathReservation::operator=(PathReservation&& other) noexcept {
    if (this != &other) {
        Release();
        table = std::exchange(other.table, nullptr);
        path = std::move(other.path);
    }
    return *this;
}

void PathReservation::Release() {
    if (table) table->Release(path);
    table = nullptr;
}

WString ReceivePaths::FinalPathOf(WStringView temporaryPath) {
    if (temporaryPath.ends_with(kTemporarySuffix))
        temporaryPath.remove_suffix(kTemporarySuffix.size());
    return WString(temporaryPath);
}

WString ReceivePaths::ClashName(WStringView name, int index) {
    std::size_t dot = name.rfind(u'.');
    WStringView stem = name.substr(0, dot);
    WStringView extension = dot == WStringView::npos ? WStringView() : name.substr(dot);
    return Format(kFormatCapacity, u"%s_[%02x]%s", stem, index, extension);
}

bool ReceivePaths::BelongsTo(WStringView temporaryName, WStringView offeredName) {
    if (!temporaryName.ends_with(kTemporarySuffix)) return false;
    WStringView base = temporaryName.substr(0, temporaryName.size() - kTemporarySuffix.size());
    if (base == offeredName) return true;
    std::size_t dot = offeredName.rfind(u'.');
    WStringView stem = offeredName.substr(0, dot);
    WStringView extension = dot == WStringView::npos ? WStringView() : offeredName.substr(dot);
    // stem + "_[xx]" + extension
    constexpr std::size_t kSuffix = 5;
    if (base.size() != stem.size() + kSuffix + extension.size()) return false;
    if (!base.starts_with(stem) || !base.ends_with(extension)) return false;
    WStringView suffix = base.substr(stem.size(), kSuffix);
    auto hex = [](char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); };
    return suffix[0] == u'_' && suffix[1] == u'[' && hex(suffix[2]) && hex(suffix[3]) &&
           suffix[4] == u']';
}

bool ReceivePaths::TryReserve(const WString& temporaryPath) {
    std::lock_guard<std::mutex> guard(lock);
    return reserved.insert(temporaryPath).second;
}

void ReceivePaths::Release(const WString& temporaryPath) {
    std::lock_guard<std::mutex> guard(lock);
    reserved.erase(temporaryPath);
}

std::optional<PathReservation> ReceivePaths::Reserve(const WString& path) {
    if (!TryReserve(path)) return std::nullopt;
    return PathReservation(this, path);
}

bool ReceivePaths::IsReserved(const WString& temporaryPath) {
    std::lock_guard<std::mutex> guard(lock);
    return reserved.count(temporaryPath) != 0;
}

WString ReceivePaths::FolderPrefix(WStringView setting) {
    WString prefix(setting);
    if (!prefix.empty() && kPathSeparators.find(prefix.back()) == WStringView::npos)
        prefix.push_back(kPathSeparator);
    return prefix;
}

bool ReceivePaths::Taken(const ContainedFolder& place, const WString& prefix,
                         const WString& finalName) {
    WString temporary = finalName + WString(kTemporarySuffix);
    return IsReserved(prefix + temporary) ||
           place.Inspect({finalName}).kind != ContainedFolder::Leaf::Absent ||
           place.Inspect({temporary}).kind != ContainedFolder::Leaf::Absent;
}

std::optional<ReceivePaths::Resume> ReceivePaths::ReserveResume(const ContainedFolder& place,
                                                                const WString& prefix,
                                                                const FileRecord& record,
                                                                WStringView offeredName) {
    std::vector<WString> names;
    for (const ContainedFolder::Child& child :
         place.List({}).value_or(std::vector<ContainedFolder::Child>{})) {
        if (child.kind == PathFacts::Kind::File && BelongsTo(child.name, offeredName))
            names.push_back(child.name);
    }
    std::sort(names.begin(), names.end());
    for (const WString& name : names) {
        // A file no reception of this program made (the user's own "x.tmp", or one from a
        // version that kept no note) is never taken up, so a peer can neither read its size
        // through the offset nor cut or delete it.
        std::optional<PartialNote> note = ReadNote(place, name);
        if (!note || note->offeredSize != record.fileSize) continue;
        std::optional<OpenFile> file = place.OpenFileAt({name}, ContainedFolder::Opening::Existing);
        if (!file || file->Identity() != note->made) continue;
        std::int64_t size = file->Size();
        if (size < static_cast<std::int64_t>(2 * kChecksumBytes)) continue;
        // The last checksum span of the partial file is always received again.
        std::int64_t offset = size - static_cast<std::int64_t>(kChecksumBytes);
        if (offset > record.fileSize) continue;  // more than the offered file holds
        std::array<std::uint8_t, kChecksumBytes> head{};
        if (file->ReadAt(head.data(), head.size(), 0) != static_cast<std::int64_t>(head.size()))
            continue;
        if (ResumeChecksum(head.data()) != record.checksum) continue;
        if (!TryReserve(prefix + name)) continue;  // another reception is writing it
        return Resume{PathReservation(this, prefix + name), offset, std::move(*file)};
    }
    return std::nullopt;
}

std::optional<PathReservation> ReceivePaths::ReserveNew(const ContainedFolder& place,
                                                        const WString& prefix, WStringView name) {
    for (int i = -1; i < kClashCandidates; ++i) {
        WString target = i < 0 ? WString(name) : ClashName(name, i);
        if (Taken(place, prefix, target)) continue;
        WString temporary = prefix + target + WString(kTemporarySuffix);
        if (TryReserve(temporary)) return PathReservation(this, temporary);
    }
    return std::nullopt;
}

std::optional<OpenFile> ReceivePaths::CreatePartial(const ContainedFolder& place,
                                                    const WString& temporaryName,
                                                    std::int64_t offeredSize) {
    std::optional<OpenFile> file =
        place.OpenFileAt({temporaryName}, ContainedFolder::Opening::CreateNew);
    if (!file) return std::nullopt;
    if (!WriteNote(place, temporaryName, {offeredSize, file->Identity()})) {
        place.RemoveFileIf({temporaryName}, file->Identity());
        return std::nullopt;
    }
    return file;
}

std::optional<WString> ReceivePaths::PlaceFinished(const ContainedFolder& place,
                                                   const WString& prefix,
                                                   const WString& temporaryName) {
    // A receive folder moved or removed meanwhile holds the file under another path than the
    // one the user would be told: not received.
    if (!place.AtItsPath()) return std::nullopt;
    WString name = FinalPathOf(temporaryName);
    for (int i = -1; i < kClashCandidates; ++i) {
        WString target = i < 0 ? name : ClashName(name, i);
        // A clash name another reception will take at its end is not ours either.
        if (i >= 0 && IsReserved(prefix + target + WString(kTemporarySuffix))) continue;
        switch (place.MoveNoReplace({temporaryName}, {target})) {
            case RenameOutcome::Done:
                Discard(place, temporaryName, {});
                return prefix + target;
            case RenameOutcome::Exists:
                continue;
            case RenameOutcome::Failed:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

namespace {
// The note of "x.tmp" is ".x.tmp.size": "<offered size> <device> <inode>\n".
WString NoteName(const WString& temporaryName) {
    return u"." + temporaryName + u".size";
}
constexpr std::size_t kNoteBytes = 128;
}  // namespace

bool ReceivePaths::WriteNote(const ContainedFolder& place, const WString& temporaryName,
                             const PartialNote& note) {
    std::optional<OpenFile> file =
        place.OpenFileAt({NoteName(temporaryName)}, ContainedFolder::Opening::Replace);
    std::string text = std::to_string(note.offeredSize) + ' ' + std::to_string(note.made.device) +
                       ' ' + std::to_string(note.made.inode) + '\n';
    return file && file->Write(text.data(), text.size());
}

std::optional<ReceivePaths::PartialNote> ReceivePaths::ReadNote(const ContainedFolder& place,
                                                                const WString& temporaryName) {
    std::optional<OpenFile> file =
        place.OpenFileAt({NoteName(temporaryName)}, ContainedFolder::Opening::Existing);
    if (!file) return std::nullopt;
    std::array<char, kNoteBytes> text{};
    std::int64_t got = file->ReadAt(text.data(), text.size() - 1, 0);
    if (got <= 0) return std::nullopt;
    std::istringstream in(std::string(text.data(), static_cast<std::size_t>(got)));
    PartialNote note;
    // A note of an older version holds the size alone: it names no file, so none is taken up.
    if (!(in >> note.offeredSize >> note.made.device >> note.made.inode) || note.offeredSize < 0 ||
        !note.made.Known())
        return std::nullopt;
    return note;
}

bool ReceivePaths::MarkAsPartial(const WString& temporaryPath, std::int64_t offeredSize) {
    WString name(PathNamePart(temporaryPath));
    std::optional<ContainedFolder> place =
        ContainedFolder::Open(temporaryPath.substr(0, temporaryPath.size() - name.size()));
    if (!place) return false;
    FileIdentity made = place->IdentityOf({name});
    return made.Known() && WriteNote(*place, name, {offeredSize, made});
}

void ReceivePaths::Discard(const ContainedFolder& place, const WString& temporaryName,
                           FileIdentity file) {
    if (file.Known()) place.RemoveFileIf({temporaryName}, file);
    FileIdentity note = place.IdentityOf({NoteName(temporaryName)});
    if (note.Known()) place.RemoveFileIf({NoteName(temporaryName)}, note);
}

}  // namespace mirka
