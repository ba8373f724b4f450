#pragma once

#include <array>
#include <cstdint>

#include "toolkit/little_endian.h"
#include "toolkit/text.h"

// The chat font: the 116-byte CHARFORMAT2W record of the rich-edit control. The program
// uses its face, size and colour; it is also the style block of every chat line on the
// wire, so it is encoded and decoded byte for byte.
namespace mirka {

inline constexpr std::uint32_t kCfmBold = 0x00000001;
inline constexpr std::uint32_t kCfmFace = 0x20000000;
inline constexpr std::uint32_t kCfmColor = 0x40000000;
inline constexpr std::uint32_t kCfmSize = 0x80000000;
inline constexpr std::uint32_t kCfeBold = 0x00000001;
inline constexpr std::uint32_t kCfeAutoColor = 0x40000000;

struct CharFormat {
    static constexpr std::size_t kBytes = 116;
    static constexpr std::size_t kFaceUnits = 32;

    std::uint32_t cbSize = kBytes;
    std::uint32_t mask = 0;
    std::uint32_t effects = 0;
    std::int32_t height = 0;  // twips; negative values are kept as stored
    std::int32_t offset = 0;
    std::uint32_t color = 0;  // COLORREF: red + 256 * green + 65536 * blue
    std::uint8_t charSet = 0;
    std::uint8_t pitchAndFamily = 0;
    std::array<char16_t, kFaceUnits> faceName{};
    std::uint16_t weight = 0;
    std::int16_t spacing = 0;
    std::uint32_t backColor = 0;
    std::uint32_t lcid = 0;
    std::uint32_t reserved = 0;
    std::int16_t style = 0;
    std::uint16_t kerning = 0;
    std::uint8_t underlineType = 0;
    std::uint8_t animation = 0;
    std::uint8_t revAuthor = 0;
    std::uint8_t underlineColor = 0;

    WString Face() const { return WString(TerminatedView(faceName.data(), kFaceUnits)); }
    // The face is cut to 31 units and terminated.
    void SetFace(WStringView face);

    std::array<std::uint8_t, kBytes> Encode() const;
    static CharFormat Decode(const std::uint8_t* bytes);

    bool operator==(const CharFormat&) const = default;
};

// The chat font record with the size, colour and face mask bits set and no effects.
CharFormat MakeChatFont(WStringView face, std::int32_t size, std::uint32_t color);

}  // namespace mirka
