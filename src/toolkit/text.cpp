#include "toolkit/text.h"

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cwchar>

namespace mirka {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

bool LocaleIsPlainAscii() {
    std::string codeset = LocaleCodeset();
    return codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII" ||
           codeset == "646";
}

std::string NarrowCodeset() {
    return LocaleIsPlainAscii() ? "UTF-8" : LocaleCodeset();
}

std::string ToUtf8(WStringView text) {
    std::string out;
    out.reserve(text.size());
    AppendUtf8(text, out);
    return out;
}

void AppendUtf8(WStringView text, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

WString FromUtf8(std::string_view text) {
    WString out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        int length = lead < 0x80         ? 1
                     : (lead >> 5) == 6  ? 2
                     : (lead >> 4) == 14 ? 3
                     : (lead >> 3) == 30 ? 4
                                         : 0;
        std::uint32_t cp = length == 1   ? lead
                           : length == 2 ? lead & 0x1F
                           : length == 3 ? lead & 0x0F
                                         : lead & 0x07;
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (next & 0x3F);
        }
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

void CutNarrow(std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return;
    if (LocaleIsPlainAscii()) {
        // The text is UTF-8 then (see NarrowCodeset), which the C library's "C" locale
        // would cut inside a character.
        std::size_t keep = maxBytes;
        while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
        text.resize(keep);
        return;
    }
    std::mbstate_t state{};
    std::size_t keep = 0;
    while (keep < maxBytes) {
        std::size_t length = std::mbrlen(text.data() + keep, text.size() - keep, &state);
        if (length == 0) length = 1;
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
            state = std::mbstate_t{};
            length = 1;
        }
        if (keep + length > maxBytes) break;
        keep += length;
    }
    text.resize(keep);
}

void CutUnits(WString& text, std::size_t maxUnits) {
    if (text.size() <= maxUnits) return;
    std::size_t keep = maxUnits;
    if (keep > 0 && IsHighSurrogate(text[keep - 1]) && IsLowSurrogate(text[keep])) --keep;
    text.resize(keep);
}

WString FitField(WStringView text, std::size_t capacity) {
    WString result(text.substr(0, text.find(u'\0')));
    CutUnits(result, capacity == 0 ? 0 : capacity - 1);
    return result;
}

WStringView TerminatedView(const char16_t* buffer, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && buffer[length] != 0) ++length;
    return WStringView(buffer, length);
}

WStringView PathNamePart(WStringView path) {
    std::size_t slash = path.find_last_of(kPathSeparators);
    return slash == WStringView::npos ? path : path.substr(slash + 1);
}

WStringView PathExtensionPart(WStringView path) {
    WStringView name = PathNamePart(path);
    std::size_t dot = name.rfind(u'.');
    return dot == WStringView::npos ? WStringView() : name.substr(dot);
}

}  // namespace mirka
