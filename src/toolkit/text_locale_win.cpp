#include <windows.h>

#include <clocale>
#include <string>

#include "toolkit/text.h"

// The C runtime locale's code page through the system's converters, for Windows: after
// setlocale(LC_ALL, "") that is the ANSI code page (932 on Japanese Windows, so a conf.txt
// stays byte for byte the original program's); in the "C" locale it is UTF-8, as on POSIX.
namespace mirka {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

UINT NarrowCodePage() {
    return LocaleIsPlainAscii() ? CP_UTF8 : ___lc_codepage_func();
}

// Converts one character (one or two units) to the code page; false when it has none.
bool AppendNarrow(UINT codePage, const char16_t* units, int count, std::string& out) {
    char bytes[16];
    BOOL usedDefault = FALSE;
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(units);
    bool utf8 = codePage == CP_UTF8;
    int length =
        ::WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide,
                              count, bytes, sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
    if (length <= 0 || usedDefault) return false;
    out.append(bytes, static_cast<std::size_t>(length));
    return true;
}

bool AppendWide(UINT codePage, const char* bytes, int count, WString& out) {
    wchar_t units[4];
    int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, count, units, 4);
    if (length <= 0) return false;
    out.append(units, units + length);
    return true;
}

}  // namespace

std::string LocaleCodeset() {
    UINT codePage = ___lc_codepage_func();
    if (codePage == 0) return "ANSI_X3.4-1968";  // the "C" locale
    if (codePage == CP_UTF8) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

std::string ToNarrow(WStringView text) {
    const UINT codePage = NarrowCodePage();
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        int count =
            IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
        // A character the code page cannot hold, or a lone surrogate.
        if (!AppendNarrow(codePage, text.data() + i, count, out)) out.push_back('?');
        i += static_cast<std::size_t>(count);
    }
    return out;
}

WString FromNarrow(std::string_view text) {
    const UINT codePage = NarrowCodePage();
    WString out;
    if (text.empty()) return out;
    // Well-formed text in one call; otherwise character by character, so that only the
    // bytes that are not valid become U+FFFD.
    int whole = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (whole > 0) {
        std::wstring units(static_cast<std::size_t>(whole), L'\0');
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                              static_cast<int>(text.size()), units.data(), whole);
        return WString(units.begin(), units.end());
    }
    CPINFO info{};
    int longest = ::GetCPInfo(codePage, &info) ? static_cast<int>(info.MaxCharSize) : 1;
    if (codePage == CP_UTF8) longest = 4;
    for (std::size_t i = 0; i < text.size();) {
        int taken = 0;
        for (int length = 1; length <= longest && i + length <= text.size(); ++length) {
            if (AppendWide(codePage, text.data() + i, length, out)) {
                taken = length;
                break;
            }
        }
        if (taken == 0) {
            out.push_back(kReplacement);
            taken = 1;
        }
        i += static_cast<std::size_t>(taken);
    }
    return out;
}

}  // namespace mirka
