#include "toolkit/memory_dump.h"

namespace mirka {

const WString& MemoryDump::Dump(const std::uint8_t* bytes) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    text.clear();
    text.reserve(18 * 68);
    text += u"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F | 0123456789ABCDEF\r\n";
    text += WString(48, u'-') + u"+" + WString(17, u'-') + u"\r\n";
    for (std::size_t row = 0; row < 16; ++row) {
        const std::uint8_t* line = bytes + row * 16;
        for (std::size_t i = 0; i < 16; ++i) {
            text.push_back(kHex[line[i] >> 4]);
            text.push_back(kHex[line[i] & 0x0F]);
            text.push_back(u' ');
        }
        text += u"| ";
        for (std::size_t i = 0; i < 16; ++i) text.push_back(static_cast<char16_t>(line[i]));
        text += u"\r\n";
    }
    return text;
}

}  // namespace mirka
