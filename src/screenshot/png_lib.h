#pragma once

#include <cstdint>
#include <vector>

#include "screenshot/bgra_bitmap.h"
#include "toolkit/text.h"

namespace mirka {

// Writes screenshots as PNG files through libpng: 8-bit RGBA, no interlace, row filter
// None, the time of writing and the program's four text chunks.
class CPngLib {
public:
    virtual ~CPngLib();

    // Writes the picture top row first with every pixel opaque, at the zlib compression
    // level given. False when the bitmap is unusable or the file cannot be written
    // completely; no file is left behind then.
    bool Write(WStringView path, const BgraBitmap& bitmap, int compressionLevel);

private:
    // One converted row: the picture is passed to libpng a row at a time.
    std::vector<std::uint8_t> row;
};

}  // namespace mirka
