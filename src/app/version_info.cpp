#include "app/version_info.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <string>
#include <vector>

#include "toolkit/format.h"

namespace mirka {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::vector<std::string_view> SplitAtBlanks(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        if (text[start] == ' ') {
            ++start;
            continue;
        }
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        parts.push_back(text.substr(start, end - start));
        start = end;
    }
    return parts;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

int MonthNumber(std::string_view name) {
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (EqualsIgnoringCase(name, kMonths[i])) return static_cast<int>(i) + 1;
    }
    return 0;
}

// Leading digits as a decimal number; none gives 0.
int ReadDecimal(std::string_view text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

WString FormatBuildStamp(std::string_view date, std::string_view time) {
    std::vector<std::string_view> parts = SplitAtBlanks(date);
    parts.resize(3);
    WString when = Format(128, u"%04d/%02d/%02d %s", ReadDecimal(parts[2]), MonthNumber(parts[0]),
                          ReadDecimal(parts[1]), time);
    return Format(kFormatCapacity, u"LastModified: %s", when);
}

WString BuildStamp() {
    return FormatBuildStamp(__DATE__, __TIME__);
}

WString ReadChangeLog(const std::filesystem::path& programFolder) {
    std::ifstream in(programFolder / kChangeLogName, std::ios::binary);
    if (!in) return {};
    std::string bytes(kChangeLogMaxBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::size_t length = static_cast<std::size_t>(in.gcount());
    if (length == 0) return {};
    bytes.resize(length);
    // The last byte is dropped; in a multibyte code page the character it belonged to goes
    // with it rather than showing as a broken one.
    CutNarrow(bytes, std::min(length - 1, kChangeLogMaxBytes));
    return FromNarrow(bytes);
}

}  // namespace mirka
