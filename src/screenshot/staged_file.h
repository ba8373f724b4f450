#pragma once

#include <cstdio>
#include <filesystem>

#include "toolkit/text.h"

namespace mirka {

// An image file written under a temporary name beside its target and moved over the target
// only once complete: a failed write leaves no half file, an older file of the same name
// survives the failure, and a copy of that older file that is still being sent keeps
// reading the old contents.
class StagedFile {
public:
    explicit StagedFile(WStringView path);
    virtual ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // The stream to write to, or nullptr when the file cannot be created.
    std::FILE* Open();
    // Closes the stream and, when every byte reached the disk, moves the file into place.
    bool Commit();

private:
    std::filesystem::path target;
    std::filesystem::path staging;
    std::FILE* file = nullptr;
};

}  // namespace mirka
