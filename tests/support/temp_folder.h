#pragma once

#include <filesystem>
#include <string>

#include "toolkit/text.h"

namespace mirka::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return path; }
    // The folder as the program writes it, with a trailing separator.
    WString WithSeparator() const;

private:
    std::filesystem::path path;
};

// The whole file as bytes; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);

}  // namespace mirka::test
