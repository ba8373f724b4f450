#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

#include "toolkit/text.h"

// What the version box shows: the program's name and version, the build stamp, the author's
// line, the home-page link and the change log kept beside the program file.
namespace mirka {

inline constexpr char16_t kVersionBoxCaption[] = u"バージョン情報";
inline constexpr char16_t kProgramVersionText[] = u"ミルカ Ver1.00";
inline constexpr char16_t kAuthorNotice[] = u"(C) ミルカ開発チーム";
// A placeholder address (a documentation domain) until the project has a page of its own.
inline constexpr char16_t kHomePageAddress[] = u"https://example.org/mirka/";
inline constexpr char kChangeLogName[] = "changelog.txt";
// A change log past this size is shown only up to it.
inline constexpr std::size_t kChangeLogMaxBytes = 1 << 20;

// "LastModified: %04d/%02d/%02d %s" from a compiler-style date ("May  8 2009": English
// month abbreviation in any case, day, year, separated by blanks) and a time "hh:mm:ss".
// An unknown month reads as 0.
WString FormatBuildStamp(std::string_view date, std::string_view time);

// The stamp of this build.
WString BuildStamp();

// "changelog.txt" in the program's folder (not the current folder), as narrow text in the
// locale's code page without its last byte (a file normally ends with its line break).
// Empty when the file is missing, unreadable or empty.
WString ReadChangeLog(const std::filesystem::path& programFolder);

}  // namespace mirka
