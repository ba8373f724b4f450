#pragma once

namespace mirka {

// The strip at the bottom of the preview's client area that the picture leaves free.
inline constexpr int kPreviewBottomStrip = 22;

struct PreviewRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PreviewRect&) const = default;
};

// Where the preview draws an image of imageWidth x imageHeight in a client area of
// clientWidth x clientHeight. The image is shrunk to fit the area above the bottom strip,
// keeping its proportions, and never enlarged. When it is narrower than the area it is
// centred horizontally and stays at the top; otherwise, when it is lower than the area above
// the strip, it is centred vertically in that area. Empty for an empty image or area.
PreviewRect PreviewPlacement(int clientWidth, int clientHeight, int imageWidth, int imageHeight);

}  // namespace mirka
