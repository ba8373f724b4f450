#include "app/font_choice.h"

#include <fstream>

#include "toolkit/little_endian.h"

namespace mirka {
namespace {

constexpr std::size_t kOffWidth = 4, kOffEscapement = 8, kOffOrientation = 12, kOffWeight = 16,
                      kOffItalic = 20, kOffUnderline = 21, kOffStrikeOut = 22, kOffCharSet = 23,
                      kOffOutPrecision = 24, kOffClipPrecision = 25, kOffQuality = 26,
                      kOffPitchAndFamily = 27, kOffFace = 28;

}  // namespace

void LogFont::SetFace(WStringView face) {
    FillField(faceName, face);
}

std::array<std::uint8_t, LogFont::kBytes> LogFont::Encode() const {
    std::array<std::uint8_t, kBytes> b{};
    PutI32(&b[0], height);
    PutI32(&b[kOffWidth], width);
    PutI32(&b[kOffEscapement], escapement);
    PutI32(&b[kOffOrientation], orientation);
    PutI32(&b[kOffWeight], weight);
    b[kOffItalic] = italic;
    b[kOffUnderline] = underline;
    b[kOffStrikeOut] = strikeOut;
    b[kOffCharSet] = charSet;
    b[kOffOutPrecision] = outPrecision;
    b[kOffClipPrecision] = clipPrecision;
    b[kOffQuality] = quality;
    b[kOffPitchAndFamily] = pitchAndFamily;
    for (std::size_t i = 0; i < kFaceUnits; ++i) PutU16(&b[kOffFace + 2 * i], faceName[i]);
    return b;
}

LogFont LogFont::Decode(const std::uint8_t* b) {
    LogFont f;
    f.height = GetI32(&b[0]);
    f.width = GetI32(&b[kOffWidth]);
    f.escapement = GetI32(&b[kOffEscapement]);
    f.orientation = GetI32(&b[kOffOrientation]);
    f.weight = GetI32(&b[kOffWeight]);
    f.italic = b[kOffItalic];
    f.underline = b[kOffUnderline];
    f.strikeOut = b[kOffStrikeOut];
    f.charSet = b[kOffCharSet];
    f.outPrecision = b[kOffOutPrecision];
    f.clipPrecision = b[kOffClipPrecision];
    f.quality = b[kOffQuality];
    f.pitchAndFamily = b[kOffPitchAndFamily];
    for (std::size_t i = 0; i < kFaceUnits; ++i) f.faceName[i] = GetU16(&b[kOffFace + 2 * i]);
    return f;
}

LogFont StartingLogFont(const CharFormat& chatFont, const std::filesystem::path& fontIni) {
    LogFont start;
    // Up to the face's terminator; the zeroed record supplies the rest.
    WString face = chatFont.Face();
    for (std::size_t i = 0; i < face.size(); ++i) start.faceName[i] = face[i];
    start.height = chatFont.height / 10;
    std::ifstream in(fontIni, std::ios::binary);
    if (!in) return start;
    std::array<std::uint8_t, LogFont::kBytes> bytes = start.Encode();
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    // A short file replaces only the bytes it has; gcount counts them even on a short read.
    return in.gcount() > 0 ? LogFont::Decode(bytes.data()) : start;
}

void ApplyChosenFont(CharFormat& chatFont, const LogFont& chosen, std::uint32_t color) {
    chatFont.SetFace(chosen.Face());
    chatFont.color = color;
    chatFont.height = static_cast<std::int16_t>(chosen.height) * 10;
}

}  // namespace mirka
