#include "screenshot/staged_file.h"

#include <system_error>

#include "toolkit/file_system.h"

namespace mirka {

StagedFile::StagedFile(WStringView path) : target(ToFsPath(path)) {
    staging = target;
    staging += ".part";
}

StagedFile::~StagedFile() {
    if (file == nullptr) return;
    std::fclose(file);
    std::error_code ignored;
    std::filesystem::remove(staging, ignored);
}

std::FILE* StagedFile::Open() {
    if (file != nullptr || target.filename().empty()) return nullptr;
#ifdef _WIN32
    file = _wfopen(staging.c_str(), L"wb");
#else
    file = std::fopen(staging.c_str(), "wb");
#endif
    return file;
}

bool StagedFile::Commit() {
    if (file == nullptr) return false;
    // A full disk often shows only when the last buffer is flushed.
    bool written = std::ferror(file) == 0;
    written = std::fclose(file) == 0 && written;
    file = nullptr;
    std::error_code error;
    if (written) std::filesystem::rename(staging, target, error);
    if (!written || error) {
        std::filesystem::remove(staging, error);
        return false;
    }
    return true;
}

}  // namespace mirka
