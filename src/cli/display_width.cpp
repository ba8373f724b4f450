#include "cli/display_width.h"

#include <algorithm>
#include <array>
#include <utility>

namespace mirka::cli {

namespace {

using Range = std::pair<char32_t, char32_t>;

// Wide and fullwidth blocks (East Asian Width W and F), the ones a terminal draws in two
// cells.
constexpr std::array<Range, 17> kWide = {{
    {0x1100, 0x115F},    // Hangul Jamo initials
    {0x2E80, 0x303E},    // CJK radicals, punctuation
    {0x3041, 0x33FF},    // kana, CJK symbols
    {0x3400, 0x4DBF},    // CJK extension A
    {0x4E00, 0x9FFF},    // CJK unified ideographs
    {0xA000, 0xA4CF},    // Yi
    {0xAC00, 0xD7A3},    // Hangul syllables
    {0xF900, 0xFAFF},    // CJK compatibility ideographs
    {0xFE30, 0xFE4F},    // CJK compatibility forms
    {0xFF00, 0xFF60},    // fullwidth forms
    {0xFFE0, 0xFFE6},    // fullwidth signs
    {0x1F300, 0x1F64F},  // pictographs, emoticons
    {0x1F900, 0x1F9FF},  // supplemental pictographs
    {0x20000, 0x2FFFD},  // CJK extensions B and later
    {0x30000, 0x3FFFD},  // CJK extension G
    {0x2329, 0x232A},    // angle brackets
    {0x3000, 0x3000},    // ideographic space
}};

// Combining marks and other characters drawn in no cell of their own.
constexpr std::array<Range, 8> kZero = {{
    {0x0300, 0x036F},
    {0x200B, 0x200F},
    {0x20D0, 0x20FF},
    {0x3099, 0x309A},  // kana voicing marks
    {0xFE00, 0xFE0F},  // variation selectors
    {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF},
    {0xE0100, 0xE01EF},
}};

bool In(const auto& ranges, char32_t c) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [c](const Range& r) { return c >= r.first && c <= r.second; });
}

// The code point at `i` and the units it takes.
std::pair<char32_t, std::size_t> At(WStringView text, std::size_t i) {
    char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
        return {0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00), 2};
    return {unit, 1};
}

}  // namespace

int DisplayWidth::OfCodePoint(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
    if (In(kZero, c)) return 0;
    return In(kWide, c) ? 2 : 1;
}

int DisplayWidth::Of(WStringView text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto [c, units] = At(text, i);
        width += OfCodePoint(c);
        i += units;
    }
    return width;
}

WString DisplayWidth::Fit(WStringView text, int columns) {
    if (Of(text) <= columns) return WString(text);
    if (columns <= 0) return WString();
    WString out;
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto [c, units] = At(text, i);
        int w = OfCodePoint(c);
        if (width + w > columns - 1) break;
        out.append(text.substr(i, units));
        width += w;
        i += units;
    }
    out += u'~';
    return out;
}

WString DisplayWidth::Pad(WStringView text, int columns) {
    WString out = Fit(text, columns);
    int width = Of(out);
    if (width < columns) out.append(static_cast<std::size_t>(columns - width), u' ');
    return out;
}

}  // namespace mirka::cli
