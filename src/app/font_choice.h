#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "common/chat_font.h"

// The data side of the chat font chooser: the Windows LOGFONTW record the chooser starts
// from (built from the chat font, optionally overlaid by "Font.ini") and the chosen font
// taken back into the chat font. The dialog itself lives with the windows.
namespace mirka {

inline constexpr char kFontIniName[] = "Font.ini";

struct LogFont {
    static constexpr std::size_t kBytes = 92;
    static constexpr std::size_t kFaceUnits = 32;

    std::int32_t height = 0;
    std::int32_t width = 0;
    std::int32_t escapement = 0;
    std::int32_t orientation = 0;
    std::int32_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t underline = 0;
    std::uint8_t strikeOut = 0;
    std::uint8_t charSet = 0;
    std::uint8_t outPrecision = 0;
    std::uint8_t clipPrecision = 0;
    std::uint8_t quality = 0;
    std::uint8_t pitchAndFamily = 0;
    std::array<char16_t, kFaceUnits> faceName{};

    // Up to the first zero unit; all 32 units when none.
    WString Face() const { return WString(TerminatedView(faceName.data(), kFaceUnits)); }
    // Cut to 31 units and terminated.
    void SetFace(WStringView face);

    std::array<std::uint8_t, kBytes> Encode() const;
    static LogFont Decode(const std::uint8_t* bytes);

    bool operator==(const LogFont&) const = default;
};

// The chooser's starting font: the chat font's face, height = size / 10 (truncating), the
// rest zero; then the leading bytes of fontIni (up to 92), when it can be read, on top.
LogFont StartingLogFont(const CharFormat& chatFont,
                        const std::filesystem::path& fontIni = kFontIniName);

// Takes the chosen face, colour and height back; the size becomes the height, read as a
// signed 16-bit number, times 10. Weight, italic and the other effects are not kept.
void ApplyChosenFont(CharFormat& chatFont, const LogFont& chosen, std::uint32_t color);

}  // namespace mirka
