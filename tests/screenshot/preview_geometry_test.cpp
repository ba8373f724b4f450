#include <gtest/gtest.h>

#include "screenshot/preview_geometry.h"

namespace mirka {
namespace {

// A client area of 400 x 300 leaves 278 pixels above the bottom strip.
constexpr int kClientWidth = 400;
constexpr int kClientHeight = 300;
constexpr int kUsable = kClientHeight - kPreviewBottomStrip;

PreviewRect Place(int width, int height) {
    return PreviewPlacement(kClientWidth, kClientHeight, width, height);
}

TEST(PreviewPlacement, SmallImageKeepsItsSizeCentredAtTheTop) {
    EXPECT_EQ(Place(100, 50), (PreviewRect{150, 0, 100, 50}));
    EXPECT_EQ(Place(101, 50), (PreviewRect{150, 0, 101, 50}));
}

TEST(PreviewPlacement, WideImageFillsTheWidthCentredAboveTheStrip) {
    EXPECT_EQ(Place(800, 100), (PreviewRect{0, 114, 400, 50}));
    // Whatever the width, the image meets both sides and stays out of the bottom strip.
    for (int width = kClientWidth + 1; width < 5000; ++width) {
        PreviewRect rect = Place(width, 150);
        ASSERT_EQ(rect.x, 0) << width;
        ASSERT_EQ(rect.width, kClientWidth) << width;
        ASSERT_LE(rect.y + rect.height, kUsable) << width;
        ASSERT_LE(std::abs(rect.y - (kUsable - rect.y - rect.height)), 1) << width;
    }
}

TEST(PreviewPlacement, TallImageFillsTheHeightCentredHorizontally) {
    EXPECT_EQ(Place(100, 1000), (PreviewRect{187, 0, 27, 278}));
    // Too big both ways: the tighter side decides.
    EXPECT_EQ(Place(1600, 1200), (PreviewRect{15, 0, 370, 278}));
    EXPECT_EQ(Place(1600, 800), (PreviewRect{0, 39, 400, 200}));
}

TEST(PreviewPlacement, ExactFitAndDegenerateSizes) {
    EXPECT_EQ(Place(kClientWidth, kUsable), (PreviewRect{0, 0, kClientWidth, kUsable}));
    EXPECT_EQ(Place(kClientWidth, 100), (PreviewRect{0, 89, kClientWidth, 100}));
    EXPECT_EQ(Place(0, 100), PreviewRect{});
    EXPECT_EQ(Place(100, -5), PreviewRect{});
    // A client area no higher than the strip shows nothing rather than a negative size.
    PreviewRect squeezed = PreviewPlacement(400, 10, 100, 50);
    EXPECT_EQ(squeezed.width, 0);
    EXPECT_EQ(squeezed.height, 0);
}

}  // namespace
}  // namespace mirka
