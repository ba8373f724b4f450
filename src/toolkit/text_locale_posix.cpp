#include <langinfo.h>
#include <cerrno>

#include <iconv.h>

#include "toolkit/text.h"

// The locale's code page through iconv, for the POSIX systems.
namespace mirka {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// One iconv descriptor per thread and direction, reopened when the locale's codeset changes.
class Converter {
public:
    Converter(bool toNarrow) : toNarrow(toNarrow) {}
    ~Converter() {
        if (handle != reinterpret_cast<iconv_t>(-1)) iconv_close(handle);
    }
    iconv_t Get() {
        std::string codeset = NarrowCodeset();
        if (codeset != openCodeset) {
            if (handle != reinterpret_cast<iconv_t>(-1)) iconv_close(handle);
            handle = toNarrow ? iconv_open(codeset.c_str(), "UTF-16LE")
                              : iconv_open("UTF-16LE", codeset.c_str());
            openCodeset = codeset;
        }
        iconv(handle, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        return handle;
    }

private:
    bool toNarrow;
    iconv_t handle = reinterpret_cast<iconv_t>(-1);
    std::string openCodeset;
};

std::string EncodeUnitsLe(WStringView text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace

std::string LocaleCodeset() {
    const char* name = nl_langinfo(CODESET);
    return (name && *name) ? name : "ANSI_X3.4-1968";
}

std::string ToNarrow(WStringView text) {
    thread_local Converter converter(true);
    iconv_t cd = converter.Get();
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
    std::string in = EncodeUnitsLe(text);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr);
        if (result != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // A character the code page cannot hold, or a lone surrogate: skip it.
        std::size_t skip = 2;
        if (inLeft >= 4) {
            char16_t unit =
                static_cast<unsigned char>(inPtr[0]) | (static_cast<unsigned char>(inPtr[1]) << 8);
            char16_t next =
                static_cast<unsigned char>(inPtr[2]) | (static_cast<unsigned char>(inPtr[3]) << 8);
            if (IsHighSurrogate(unit) && IsLowSurrogate(next)) skip = 4;
        }
        if (skip > inLeft) skip = inLeft;
        inPtr += skip;
        inLeft -= skip;
        out.push_back('?');
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);  // flush any shift sequence
    out.append(buffer, outPtr);
    return out;
}

WString FromNarrow(std::string_view text) {
    thread_local Converter converter(false);
    iconv_t cd = converter.Get();
    WString out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (char c : text) {
            auto byte = static_cast<unsigned char>(c);
            out.push_back(byte < 0x80 ? byte : kReplacement);
        }
        return out;
    }
    std::string in(text);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[512];
    auto appendUnits = [&out](const char* begin, const char* end) {
        for (const char* p = begin; p + 1 < end; p += 2) {
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                                (static_cast<unsigned char>(p[1]) << 8)));
        }
    };
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        appendUnits(buffer, outPtr);
        if (result != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // Invalid byte, or a multibyte character cut off at the end.
        ++inPtr;
        --inLeft;
        out.push_back(kReplacement);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace mirka
