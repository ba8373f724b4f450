#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirka::test {

// Hex text (blanks allowed) to bytes, and back.
inline std::vector<std::uint8_t> FromHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return bytes;
}

template <typename Container>
std::string ToHex(const Container& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

}  // namespace mirka::test
