#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>

#include "common/settings_place.h"
#include "toolkit/text.h"

// "conf.txt": an INI-like text file in the locale's code page. A ConfigFile is a short-lived
// image of it: load, read or change a few entries, save, drop. Every save is therefore a
// merge into what the file held a moment before, so entries nobody here knows survive.
namespace mirka {

// Lines longer than this are read in pieces, each parsed as a line of its own.
inline constexpr std::size_t kConfigPieceUnits = 2047;

class ConfigFile {
public:
    using Keys = std::map<WString, WString, std::less<>>;
    using Sections = std::map<WString, Keys, std::less<>>;

    // The default is "conf.txt" in the current directory; tests pass a file elsewhere.
    explicit ConfigFile(std::filesystem::path fileName = ConfigFilePath());

    // Empties the store and reads the file. False, with the store empty, when the file
    // cannot be read.
    bool Load();
    // Writes the whole store, sorted by section and key. The text goes to a new file that
    // then replaces the old one, so a failed save leaves the previous file whole.
    bool Save() const;

    // The value, or defaultValue when the section or key is missing, cut to limit units.
    WString GetString(WStringView section, WStringView key, WStringView defaultValue,
                      std::size_t limit) const;
    // The value read by ReadDecimal, or defaultValue when the section or key is missing.
    std::int32_t GetInt(WStringView section, WStringView key, std::int32_t defaultValue) const;
    // Names and values are single lines: anything from a CR or LF on would read back as
    // lines of their own, so it is dropped.
    void SetString(WStringView section, WStringView key, WStringView value);
    void SetInt(WStringView section, WStringView key, std::int32_t value);

    const Sections& Content() const { return sections; }

private:
    void ParseLine(WStringView line, WString& currentSection);

    std::filesystem::path fileName;
    Sections sections;
    // Set when the file exists but could not be read: saving then would replace it with
    // the few entries of this instance and lose the rest.
    bool unreadable = false;
};

// Decimal reading of the file's numbers: leading blanks and one sign, digits up to the
// first non-digit, 0 without digits; values beyond 32 bits saturate.
std::int32_t ReadDecimal(WStringView text);

}  // namespace mirka
