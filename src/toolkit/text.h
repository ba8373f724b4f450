#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Text inside the program is UTF-16. Narrow text (settings file, debug log, gateway and
// search engine) is in the code page of the process locale, set with setlocale at start-up.
namespace mirka {

using WString = std::u16string;
using WStringView = std::u16string_view;

// Narrow text in the current locale's code page, except that a locale whose code page is
// plain ASCII ("C", "POSIX", or a locale name the C library did not have) reads and writes
// UTF-8, so Japanese text survives; a Shift_JIS or EUC-JP locale keeps its own code page.
// Characters the code page cannot hold become '?'; bytes that are not valid in it become U+FFFD, so
// the result is always well-formed UTF-16.
std::string ToNarrow(WStringView text);
WString FromNarrow(std::string_view text);

// The codeset name of the current locale (for example "UTF-8" or "SHIFT_JIS").
std::string LocaleCodeset();
// The codeset ToNarrow and FromNarrow use: the locale's, or UTF-8 for a plain-ASCII one.
std::string NarrowCodeset();
bool LocaleIsPlainAscii();

// UTF-8 conversions for file names and for the GUI boundary. Ill-formed input becomes U+FFFD.
std::string ToUtf8(WStringView text);
// Appends the UTF-8 form; never more than 3 bytes per UTF-16 unit, so a caller that reserved
// that much keeps one buffer (a secret is then never copied on a reallocation).
void AppendUtf8(WStringView text, std::string& out);
inline constexpr std::size_t kMaxUtf8BytesPerUnit = 3;
WString FromUtf8(std::string_view text);

// Cuts a narrow text in the locale's code page to at most maxBytes bytes without splitting
// a multibyte character.
void CutNarrow(std::string& text, std::size_t maxBytes);

// Cuts a UTF-16 text to at most maxUnits units without splitting a surrogate pair.
void CutUnits(WString& text, std::size_t maxUnits);

// A zero-terminated field of `capacity` units holds at most capacity - 1 units.
WString FitField(WStringView text, std::size_t capacity);

// Writes `text` into a fixed zero-terminated field as FitField cuts it, the rest zeros.
template <std::size_t N>
void FillField(std::array<char16_t, N>& field, WStringView text) {
    field.fill(0);
    WString fitted = FitField(text, N);
    for (std::size_t i = 0; i < fitted.size(); ++i) field[i] = fitted[i];
}

// Length of a zero-terminated text stored in a fixed buffer (stops at the buffer's end).
WStringView TerminatedView(const char16_t* buffer, std::size_t capacity);

// The separators of this platform's paths; kPathSeparator is the one written.
#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
inline constexpr WStringView kPathSeparators = u"\\/";
#else
inline constexpr char16_t kPathSeparator = u'/';
inline constexpr WStringView kPathSeparators = u"/";
#endif

// Name and extension parts of a path: after the last separator, and from the name's last
// dot on (empty when the name has no dot).
WStringView PathNamePart(WStringView path);
WStringView PathExtensionPart(WStringView path);

}  // namespace mirka
