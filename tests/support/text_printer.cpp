#include "support/text_printer.h"

#include <cstdint>
#include <cstdio>

namespace mirka::test {
namespace {

void PutUtf8(char32_t c, std::ostream* os) {
    char bytes[4];
    int n = 0;
    if (c < 0x80) {
        bytes[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
        bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
        bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes[n++] = static_cast<char>(0xF0 | (c >> 18));
        bytes[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    os->write(bytes, n);
}

void PutEscaped(std::uint32_t unit, std::ostream* os) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%04X", static_cast<unsigned>(unit));
    *os << escape;
}

}  // namespace

void PrintText(std::u16string_view text, std::ostream* os) {
    *os << "u\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        switch (unit) {
            case u'\r':
                *os << "\\r";
                continue;
            case u'\n':
                *os << "\\n";
                continue;
            case u'\t':
                *os << "\\t";
                continue;
            case u'"':
                *os << "\\\"";
                continue;
            case u'\\':
                *os << "\\\\";
                continue;
            default:
                break;
        }
        bool high = unit >= 0xD800 && unit < 0xDC00;
        bool low = unit >= 0xDC00 && unit < 0xE000;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            PutUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00), os);
            ++i;
        } else if (high || low || unit < 0x20 || unit == 0x7F) {
            // Unpaired halves and control characters stay visible as their code.
            PutEscaped(unit, os);
        } else {
            PutUtf8(unit, os);
        }
    }
    *os << '"';
}

}  // namespace mirka::test
