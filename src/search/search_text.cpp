#include "search/search_text.h"

#include <algorithm>
#include <array>
#include <cwchar>

namespace mirka {
namespace {

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void AppendPercent(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
}

struct Entity {
    std::string_view name;
    char character;
};

constexpr std::array<Entity, 6> kEntities = {{
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&quot;", '"'},
    {"&apos;", '\''},
    {"&amp;", '&'},
    {"&copy;", '@'},
}};

std::string_view UpToZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace

std::size_t NarrowCharLength(std::string_view text, std::size_t pos) {
    // Every code page a locale can have keeps the bytes below 0x80 single.
    if (static_cast<unsigned char>(text[pos]) < 0x80) return 1;
    std::mbstate_t state{};
    std::size_t length = std::mbrlen(text.data() + pos, text.size() - pos, &state);
    if (length == static_cast<std::size_t>(-2)) return 0;
    if (length == static_cast<std::size_t>(-1) || length == 0) return 1;
    return length;
}

std::string EncodeQueryText(std::string_view words) {
    words = UpToZero(words);
    std::string out;
    out.reserve(words.size() * 3);
    std::size_t i = 0;
    while (i < words.size()) {
        std::size_t length = NarrowCharLength(words, i);
        if (length >= 2) {
            // Every byte of a multibyte character is encoded, also a trail byte that happens
            // to be an ASCII letter.
            for (std::size_t k = 0; k < length; ++k)
                AppendPercent(out, static_cast<unsigned char>(words[i + k]));
            i += length;
            continue;
        }
        auto byte = static_cast<unsigned char>(words[i++]);
        if (IsAsciiAlnum(byte)) {
            out.push_back(static_cast<char>(byte));
        } else if (byte == ' ') {
            out.push_back('+');
        } else {
            AppendPercent(out, byte);
        }
    }
    return out;
}

std::string DecodeHtmlText(std::string_view html, std::size_t capacity) {
    html = UpToZero(html);
    const std::size_t stop = capacity > 4 ? capacity - 4 : 0;
    const std::size_t room = capacity > 2 ? capacity - 2 : 0;
    std::string out;
    bool inTag = false;
    std::size_t i = 0;
    while (i < html.size() && out.size() < stop) {
        std::size_t length = NarrowCharLength(html, i);
        if (length == 0) break;  // a character cut off by the end of the fragment
        if (length >= 2) {
            if (out.size() + length > room) break;
            out.append(html.substr(i, length));
            i += length;
            continue;
        }
        std::string_view rest = html.substr(i);
        bool isEntity = false;
        if (rest[0] == '&') {
            for (const Entity& entity : kEntities) {
                if (rest.starts_with(entity.name)) {
                    out.push_back(entity.character);
                    i += entity.name.size();
                    isEntity = true;
                    break;
                }
            }
        }
        if (isEntity) continue;
        char c = html[i++];
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
        } else if (!inTag) {
            out.push_back(c);
        }
    }
    return out;
}

std::string SearchWordsOfInputBox(WStringView inputText) {
    std::string words = ToNarrow(inputText);
    CutNarrow(words, kSearchWordsBytes);
    return words;
}

}  // namespace mirka
