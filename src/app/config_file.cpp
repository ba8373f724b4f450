#include "app/config_file.h"

#include <fstream>
#include <limits>
#include <string>
#include <system_error>

namespace mirka {
namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

WStringView FirstLine(WStringView text) {
    return text.substr(0, text.find_first_of(u"\r\n"));
}

// Reads the whole file; false when it cannot be opened or read.
bool ReadBytes(const std::filesystem::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // Read through the stream, not its buffer: a read error (a folder of that name, say)
    // then sets badbit instead of throwing.
    bytes.clear();
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    return !in.bad();
}

void AppendLine(std::string& out, const WString& line) {
    out += ToNarrow(line);
    out += "\r\n";
}

}  // namespace

std::int32_t ReadDecimal(WStringView text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        value = std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

ConfigFile::ConfigFile(std::filesystem::path fileName) : fileName(std::move(fileName)) {}

bool ConfigFile::Load() {
    sections.clear();
    unreadable = false;
    std::string bytes;
    if (!ReadBytes(fileName, bytes)) {
        std::error_code ec;
        unreadable = std::filesystem::exists(fileName, ec) || ec;
        return false;
    }
    WString currentSection;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) end = bytes.size();
        if (end > start && bytes[end - 1] == '\r') --end;
        WString line = FromNarrow(std::string_view(bytes).substr(start, end - start));
        // Long lines are taken in pieces, never splitting a surrogate pair.
        WStringView rest = line;
        while (!rest.empty()) {
            WString piece(rest);
            CutUnits(piece, kConfigPieceUnits);
            ParseLine(piece, currentSection);
            rest.remove_prefix(piece.size());
        }
        start = next;
    }
    return true;
}

void ConfigFile::ParseLine(WStringView line, WString& currentSection) {
    if (line.empty()) return;
    if (line.front() == u'[') {
        // Without a "]" the rest of the line is the name, so the entries that follow stay
        // apart instead of landing in (and overriding) the previous section.
        WStringView name = line.substr(1);
        currentSection = WString(name.substr(0, name.find(u']')));
        sections[currentSection];
        return;
    }
    std::size_t equals = line.find(u'=');
    if (equals == WStringView::npos) return;
    sections[currentSection][WString(line.substr(0, equals))] = WString(line.substr(equals + 1));
}

bool ConfigFile::Save() const {
    if (unreadable) return false;
    std::string text;
    for (const auto& [name, keys] : sections) {
        AppendLine(text, u"[" + name + u"]");
        for (const auto& [key, value] : keys) AppendLine(text, key + u"=" + value);
    }

    std::filesystem::path newFile = fileName;
    newFile += ".new";
    bool written = false;
    {
        std::ofstream out(newFile, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        written = !out.fail();
    }
    std::error_code ec;
    if (written) std::filesystem::rename(newFile, fileName, ec);
    if (!written || ec) {
        std::filesystem::remove(newFile, ec);
        return false;
    }
    return true;
}

WString ConfigFile::GetString(WStringView section, WStringView key, WStringView defaultValue,
                              std::size_t limit) const {
    WStringView value = defaultValue;
    if (auto s = sections.find(section); s != sections.end()) {
        if (auto k = s->second.find(key); k != s->second.end()) value = k->second;
    }
    return FitField(value, limit + 1);
}

std::int32_t ConfigFile::GetInt(WStringView section, WStringView key,
                                std::int32_t defaultValue) const {
    auto s = sections.find(section);
    if (s == sections.end()) return defaultValue;
    auto k = s->second.find(key);
    return k == s->second.end() ? defaultValue : ReadDecimal(k->second);
}

void ConfigFile::SetString(WStringView section, WStringView key, WStringView value) {
    sections[WString(FirstLine(section))][WString(FirstLine(key))] = WString(FirstLine(value));
}

void ConfigFile::SetInt(WStringView section, WStringView key, std::int32_t value) {
    std::string digits = std::to_string(value);
    SetString(section, key, WString(digits.begin(), digits.end()));
}

}  // namespace mirka
