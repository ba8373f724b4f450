#include "toolkit/text.h"

#include <langinfo.h>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cwchar>

#include <iconv.h>

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

bool LocaleIsPlainAscii() {
    std::string codeset = LocaleCodeset();
    return codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII" ||
           codeset == "646";
}

std::string NarrowCodeset() {
    return LocaleIsPlainAscii() ? "UTF-8" : LocaleCodeset();
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
