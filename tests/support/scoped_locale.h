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

inline constexpr const char* kShiftJisSkipReason =
    "locale ja_JP.SJIS is not installed (scripts/install-locales.sh generates it)";

inline ScopedLocale ShiftJisLocale() {
    return ScopedLocale({"ja_JP.SJIS", "ja_JP.sjis"});
}
inline ScopedLocale Utf8Locale() {
    return ScopedLocale({"C.UTF-8", "C.utf8", "en_US.UTF-8"});
}

}  // namespace mirka::test
