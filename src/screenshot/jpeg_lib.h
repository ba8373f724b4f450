#pragma once

#include <cstdint>
#include <vector>

#include "screenshot/bgra_bitmap.h"
#include "toolkit/text.h"

namespace mirka {

// Writes screenshots as JPEG files through libjpeg (baseline not forced, library defaults
// otherwise).
class CJpegLib {
public:
    virtual ~CJpegLib();

    // Writes the picture top row first, as three RGB components or, when grayscale is set,
    // one grey component. False when the bitmap is unusable or the file cannot be written
    // completely; no file is left behind then.
    bool Write(WStringView path, int quality, bool grayscale, const BgraBitmap& bitmap);

private:
    // One converted row: the picture is passed to libjpeg a row at a time.
    std::vector<std::uint8_t> row;
};

}  // namespace mirka
