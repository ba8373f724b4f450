#include "screenshot/preview_geometry.h"

#include <algorithm>
#include <cstdint>

namespace mirka {

PreviewRect PreviewPlacement(int clientWidth, int clientHeight, int imageWidth, int imageHeight) {
    std::int64_t cw = std::max(clientWidth, 0);
    std::int64_t usable = std::max(clientHeight - kPreviewBottomStrip, 0);
    std::int64_t w = imageWidth;
    std::int64_t h = imageHeight;
    if (w <= 0 || h <= 0) return {};

    // Compare cw / w with usable / h without rounding: the side that limits the scale gets the
    // area's exact size and the other is truncated, so a scaled image never falls a pixel
    // short of the side it was fitted to.
    std::int64_t width = w;
    std::int64_t height = h;
    if (cw < w || usable < h) {
        if (cw * h <= usable * w) {
            width = cw;
            height = h * cw / w;
        } else {
            width = w * usable / h;
            height = usable;
        }
    }

    PreviewRect rect{0, 0, static_cast<int>(width), static_cast<int>(height)};
    if (width < cw) {
        rect.x = static_cast<int>(cw / 2 - width / 2);
    } else if (height < usable) {
        // Centred in the area above the strip, where the picture is meant to sit. The older
        // formula ch / 2 - height / 2 + 11 puts it 22 pixels lower than that: its bottom
        // reaches into the strip, over the buttons, whenever the picture nearly fills the area.
        rect.y = static_cast<int>(usable / 2 - height / 2);
    }
    return rect;
}

}  // namespace mirka
