#include "common/chat_font.h"

namespace mirka {

// Field offsets of CHARFORMAT2W; crBackColor is 4-byte aligned, leaving two padding bytes.
namespace {
constexpr std::size_t kOffMask = 4, kOffEffects = 8, kOffHeight = 12, kOffOffset = 16,
                      kOffColor = 20, kOffCharSet = 24, kOffPitch = 25, kOffFace = 26,
                      kOffWeight = 90, kOffSpacing = 92, kOffBackColor = 96, kOffLcid = 100,
                      kOffReserved = 104, kOffStyle = 108, kOffKerning = 110,
                      kOffUnderlineType = 112, kOffAnimation = 113, kOffRevAuthor = 114,
                      kOffUnderlineColor = 115;
}  // namespace

void CharFormat::SetFace(WStringView face) {
    FillField(faceName, face);
}

std::array<std::uint8_t, CharFormat::kBytes> CharFormat::Encode() const {
    std::array<std::uint8_t, kBytes> b{};
    PutU32(&b[0], cbSize);
    PutU32(&b[kOffMask], mask);
    PutU32(&b[kOffEffects], effects);
    PutI32(&b[kOffHeight], height);
    PutI32(&b[kOffOffset], offset);
    PutU32(&b[kOffColor], color);
    b[kOffCharSet] = charSet;
    b[kOffPitch] = pitchAndFamily;
    for (std::size_t i = 0; i < kFaceUnits; ++i) PutU16(&b[kOffFace + 2 * i], faceName[i]);
    PutU16(&b[kOffWeight], weight);
    PutU16(&b[kOffSpacing], static_cast<std::uint16_t>(spacing));
    PutU32(&b[kOffBackColor], backColor);
    PutU32(&b[kOffLcid], lcid);
    PutU32(&b[kOffReserved], reserved);
    PutU16(&b[kOffStyle], static_cast<std::uint16_t>(style));
    PutU16(&b[kOffKerning], kerning);
    b[kOffUnderlineType] = underlineType;
    b[kOffAnimation] = animation;
    b[kOffRevAuthor] = revAuthor;
    b[kOffUnderlineColor] = underlineColor;
    return b;
}

CharFormat CharFormat::Decode(const std::uint8_t* b) {
    CharFormat f;
    f.cbSize = GetU32(&b[0]);
    f.mask = GetU32(&b[kOffMask]);
    f.effects = GetU32(&b[kOffEffects]);
    f.height = GetI32(&b[kOffHeight]);
    f.offset = GetI32(&b[kOffOffset]);
    f.color = GetU32(&b[kOffColor]);
    f.charSet = b[kOffCharSet];
    f.pitchAndFamily = b[kOffPitch];
    for (std::size_t i = 0; i < kFaceUnits; ++i) f.faceName[i] = GetU16(&b[kOffFace + 2 * i]);
    f.weight = GetU16(&b[kOffWeight]);
    f.spacing = static_cast<std::int16_t>(GetU16(&b[kOffSpacing]));
    f.backColor = GetU32(&b[kOffBackColor]);
    f.lcid = GetU32(&b[kOffLcid]);
    f.reserved = GetU32(&b[kOffReserved]);
    f.style = static_cast<std::int16_t>(GetU16(&b[kOffStyle]));
    f.kerning = GetU16(&b[kOffKerning]);
    f.underlineType = b[kOffUnderlineType];
    f.animation = b[kOffAnimation];
    f.revAuthor = b[kOffRevAuthor];
    f.underlineColor = b[kOffUnderlineColor];
    return f;
}

CharFormat MakeChatFont(WStringView face, std::int32_t size, std::uint32_t color) {
    CharFormat f;
    f.mask = kCfmSize | kCfmColor | kCfmFace;
    f.height = size;
    f.color = color;
    f.SetFace(face);
    return f;
}

}  // namespace mirka
