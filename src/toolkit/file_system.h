#pragma once

#include <cstdio>
#include <filesystem>

#include "toolkit/text.h"

namespace mirka {

// The one place where program text becomes a file-system path (UTF-8 names here).
std::filesystem::path ToFsPath(WStringView path);
WString FromFsPath(const std::filesystem::path& path);

// std::fopen by a path: the wide name on Windows, so no name passes the ANSI code page.
std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode);

// True when a file or folder matches the name; '*' and '?' in the last component are
// wildcards.
bool FileExists(WStringView name);

// Wildcard match of one file name against a pattern of '*' and '?'.
bool MatchWildcard(WStringView pattern, WStringView name);

}  // namespace mirka
