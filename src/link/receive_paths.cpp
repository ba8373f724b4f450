#include "link/receive_paths.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
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

bool ReceivePaths::Taken(const WString& finalPath) {
    WString temporary = finalPath + WString(kTemporarySuffix);
    std::error_code error;
    return IsReserved(temporary) || std::filesystem::exists(ToFsPath(finalPath), error) ||
           std::filesystem::exists(ToFsPath(temporary), error);
}

std::optional<ReceivePaths::Resume> ReceivePaths::ReserveResume(const WString& folder,
                                                                const FileRecord& record,
                                                                WStringView offeredName) {
    std::error_code error;
    std::filesystem::path dir = folder.empty() ? std::filesystem::path(".") : ToFsPath(folder);
    std::vector<WString> names;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error)) {
        WString name = FromFsPath(it->path().filename());
        if (BelongsTo(name, offeredName)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const WString& name : names) {
        WString path = folder + name;
        std::optional<std::int64_t> firstOffered = OfferedSizeOf(path);
        if (firstOffered && *firstOffered != record.fileSize) continue;
        std::ifstream in(ToFsPath(path), std::ios::binary);
        if (!in.is_open()) continue;
        in.seekg(0, std::ios::end);
        std::int64_t size = static_cast<std::int64_t>(in.tellg());
        if (size < static_cast<std::int64_t>(2 * kChecksumBytes)) continue;
        // The last checksum span of the partial file is always received again.
        std::int64_t offset = size - static_cast<std::int64_t>(kChecksumBytes);
        if (offset > record.fileSize) continue;  // more than the offered file holds
        std::array<std::uint8_t, kChecksumBytes> head{};
        in.seekg(0);
        in.read(reinterpret_cast<char*>(head.data()), head.size());
        if (ResumeChecksum(head.data()) != record.checksum) continue;
        if (!TryReserve(path)) continue;  // another reception is writing it
        return Resume{PathReservation(this, path), offset};
    }
    return std::nullopt;
}

std::optional<PathReservation> ReceivePaths::ReserveNew(const WString& folder, WStringView name) {
    WString target = folder + WString(name);
    for (int i = -1; i < kClashCandidates; ++i) {
        if (i >= 0) target = folder + ClashName(name, i);
        if (Taken(target)) continue;
        WString temporary = target + WString(kTemporarySuffix);
        if (TryReserve(temporary)) return PathReservation(this, temporary);
    }
    return std::nullopt;
}

std::optional<WString> ReceivePaths::PlaceFinishedFile(const WString& temporaryPath) {
    WString finalPath = FinalPathOf(temporaryPath);
    WString name(PathNamePart(finalPath));
    WString folder = finalPath.substr(0, finalPath.size() - name.size());
    for (int i = -1; i < kClashCandidates; ++i) {
        WString target = i < 0 ? finalPath : folder + ClashName(name, i);
        // A clash name another reception will take at its end is not ours either.
        if (i >= 0 && IsReserved(target + WString(kTemporarySuffix))) continue;
        switch (RenameNoReplace(ToFsPath(temporaryPath), ToFsPath(target))) {
            case RenameOutcome::Done:
                Discard(temporaryPath, false);
                return target;
            case RenameOutcome::Exists:
                continue;
            case RenameOutcome::Failed:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

namespace {
std::filesystem::path SizeNotePath(const WString& temporaryPath) {
    WString name(PathNamePart(temporaryPath));
    WString folder = temporaryPath.substr(0, temporaryPath.size() - name.size());
    return ToFsPath(folder + u"." + name + u".size");
}
}  // namespace

void ReceivePaths::RecordOfferedSize(const WString& temporaryPath, std::int64_t size) {
    std::ofstream(SizeNotePath(temporaryPath), std::ios::trunc) << size << '\n';
}

std::optional<std::int64_t> ReceivePaths::OfferedSizeOf(const WString& temporaryPath) {
    std::ifstream in(SizeNotePath(temporaryPath));
    std::int64_t size = -1;
    if (!(in >> size) || size < 0) return std::nullopt;
    return size;
}

void ReceivePaths::Discard(const WString& temporaryPath, bool removeFile) {
    std::error_code ignored;
    if (removeFile) std::filesystem::remove(ToFsPath(temporaryPath), ignored);
    std::filesystem::remove(SizeNotePath(temporaryPath), ignored);
}

}  // namespace mirka
