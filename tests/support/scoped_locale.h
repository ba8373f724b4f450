#pragma once

#include <clocale>
#include <initializer_list>
#include <string>

namespace mirka::test {

// Switches the process locale to the first of the names that exists and restores the
// previous locale when it goes out of scope.
class ScopedLocale {
public:
    explicit ScopedLocale(std::initializer_list<const char*> names) {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved = current ? current : "C";
        for (const char* name : names) {
            if (std::setlocale(LC_ALL, name)) {
                active = true;
                break;
            }
        }
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, saved.c_str()); }

    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool Active() const { return active; }

private:
    std::string saved;
    bool active = false;
};

#ifdef _WIN32
// Windows' C runtime names a locale by its code page: 932 is Japanese Windows' own.
inline constexpr const char* kShiftJisSkipReason = "the C runtime has no code page 932 locale";

inline ScopedLocale ShiftJisLocale() {
    return ScopedLocale({".932", "Japanese_Japan.932"});
}
// A UTF-8 locale of the C library: only a C runtime that has one (the UCRT) takes ".UTF-8";
// the one mingw links (msvcrt) has none.
inline ScopedLocale Utf8Locale() {
    return ScopedLocale({".UTF-8"});
}
// A locale in which the program's own narrow text (toolkit/text.h) is UTF-8: without a UTF-8
// locale, msvcrt's "C" locale, where the program reads and writes UTF-8 itself.
inline ScopedLocale NarrowUtf8Locale() {
    return ScopedLocale({".UTF-8", "C"});
}
#else
inline constexpr const char* kShiftJisSkipReason =
    "locale ja_JP.SJIS is not installed (scripts/install-locales.sh generates it)";

inline ScopedLocale ShiftJisLocale() {
    return ScopedLocale({"ja_JP.SJIS", "ja_JP.sjis"});
}
inline ScopedLocale Utf8Locale() {
    return ScopedLocale({"C.UTF-8", "C.utf8", "en_US.UTF-8"});
}
inline ScopedLocale NarrowUtf8Locale() {
    return Utf8Locale();
}
#endif

}  // namespace mirka::test
