#pragma once

#include <cstddef>
#include <cstdint>

namespace mirka {

// A 32-bit picture as the clipboard hands it over: each pixel is four bytes blue, green,
// red and a fourth byte that is ignored (clipboard bitmaps often leave it zero). Rows lie
// `stride` bytes apart from `bits` on. As in a device-independent bitmap, a positive height
// stores the bottom row first and a negative height the top row first; the width's sign
// does not matter. The bitmap only describes memory that its owner keeps.
struct BgraBitmap {
    const std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

// The largest side either file format can hold (libjpeg's limit). Rows are converted one at
// a time, so memory use does not grow with the height.
inline constexpr int kMaxBitmapSide = 65500;

int BitmapWidth(const BgraBitmap& bitmap);
int BitmapHeight(const BgraBitmap& bitmap);

// False for a missing buffer, an empty picture, a side over kMaxBitmapSide or rows shorter
// than the width.
bool IsUsableBitmap(const BgraBitmap& bitmap);

// The row `y` counted from the top of the picture; the bitmap must be usable.
const std::uint8_t* RowFromTop(const BgraBitmap& bitmap, int y);

// One row of `width` pixels into blue, green, red, 255 (four bytes a pixel) or into red,
// green, blue (three bytes).
void CopyRowOpaque(const std::uint8_t* bgra, int width, std::uint8_t* out);
void ConvertRowToRgb(const std::uint8_t* bgra, int width, std::uint8_t* out);

}  // namespace mirka
