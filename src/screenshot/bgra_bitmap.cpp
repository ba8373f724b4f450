#include "screenshot/bgra_bitmap.h"

#include <cstdlib>

namespace mirka {

namespace {

// The sides as 64-bit magnitudes, so that INT_MIN does not overflow.
std::int64_t Magnitude(int value) {
    return std::llabs(static_cast<std::int64_t>(value));
}

}  // namespace

int BitmapWidth(const BgraBitmap& bitmap) {
    return static_cast<int>(Magnitude(bitmap.width));
}

int BitmapHeight(const BgraBitmap& bitmap) {
    return static_cast<int>(Magnitude(bitmap.height));
}

bool IsUsableBitmap(const BgraBitmap& bitmap) {
    std::int64_t width = Magnitude(bitmap.width);
    std::int64_t height = Magnitude(bitmap.height);
    if (bitmap.bits == nullptr || width == 0 || height == 0) return false;
    if (width > kMaxBitmapSide || height > kMaxBitmapSide) return false;
    return bitmap.stride >= width * 4;
}

const std::uint8_t* RowFromTop(const BgraBitmap& bitmap, int y) {
    int stored = bitmap.height < 0 ? y : BitmapHeight(bitmap) - 1 - y;
    return bitmap.bits + static_cast<std::ptrdiff_t>(stored) * bitmap.stride;
}

void CopyRowOpaque(const std::uint8_t* bgra, int width, std::uint8_t* out) {
    for (int x = 0; x < width; ++x, bgra += 4, out += 4) {
        out[0] = bgra[0];
        out[1] = bgra[1];
        out[2] = bgra[2];
        out[3] = 255;
    }
}

void ConvertRowToRgb(const std::uint8_t* bgra, int width, std::uint8_t* out) {
    for (int x = 0; x < width; ++x, bgra += 4, out += 3) {
        out[0] = bgra[2];
        out[1] = bgra[1];
        out[2] = bgra[0];
    }
}

}  // namespace mirka
