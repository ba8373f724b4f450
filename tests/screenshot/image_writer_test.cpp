#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <csignal>
#endif

#include "image_files.h"
#include "screenshot/jpeg_lib.h"
#include "screenshot/screenshot_file.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

using test::QuadrantColour;
using test::QuadrantPicture;

constexpr int kWidth = 64;
constexpr int kHeight = 40;

class ImageWriterTest : public ::testing::TestWithParam<bool> {
protected:
    std::filesystem::path File(const char* name) const { return folder.Path() / name; }
    WString FileText(const char* name) const { return FromFsPath(File(name)); }

    test::TempFolder folder;
};

// Parameter: whether the bitmap stores its top row first (negative height).
INSTANTIATE_TEST_SUITE_P(Orientation, ImageWriterTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TopDown" : "BottomUp"; });

TEST_P(ImageWriterTest, PngHoldsOpaquePictureTopRowFirstWithChunks) {
    test::TestPicture picture = QuadrantPicture(kWidth, kHeight, GetParam());
    std::int64_t before = std::time(nullptr);
    ASSERT_TRUE(SavePng(FileText("a.png"), picture.bitmap));

    auto png = test::ReadPng(File("a.png"));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, kWidth);
    EXPECT_EQ(png->height, kHeight);
    ASSERT_EQ(png->colourType, 6);  // RGB with alpha
    ASSERT_EQ(png->bitDepth, 8);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t* p = &png->rgba[(y * kWidth + x) * 4];
            test::Rgb expected = QuadrantColour(x, y, kWidth, kHeight);
            wrong += p[0] != expected.red || p[1] != expected.green || p[2] != expected.blue ||
                     p[3] != 255;
        }
    }
    EXPECT_EQ(wrong, 0);

    EXPECT_EQ(png->texts["Title"], "png file");
    EXPECT_EQ(png->texts["Author"], "...");
    EXPECT_EQ(png->texts["Software"], "Graphic Tool");
    EXPECT_EQ(png->texts["Copyright"], "...");
    EXPECT_EQ(png->texts.size(), 4u);
    EXPECT_EQ(png->textCompression, -1);  // plain tEXt
    ASSERT_TRUE(png->hasTime);
    EXPECT_GE(png->timeUtc, before - 1);
    EXPECT_LE(png->timeUtc, std::time(nullptr) + 1);
}

TEST_P(ImageWriterTest, JpegHoldsPictureTopRowFirst) {
    test::TestPicture picture = QuadrantPicture(kWidth, kHeight, GetParam());
    ASSERT_TRUE(SaveJpeg(FileText("a.jpg"), picture.bitmap));

    auto jpeg = test::ReadJpeg(File("a.jpg"));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, kWidth);
    EXPECT_EQ(jpeg->height, kHeight);
    ASSERT_EQ(jpeg->components, 3);
    // Away from the quadrant edges the colours survive quality 97 closely.
    for (auto [x, y] :
         {std::pair{2, 2}, {kWidth - 3, 2}, {2, kHeight - 3}, {kWidth - 3, kHeight - 3}}) {
        const std::uint8_t* p = &jpeg->samples[(y * kWidth + x) * 3];
        test::Rgb expected = QuadrantColour(x, y, kWidth, kHeight);
        EXPECT_NEAR(p[0], expected.red, 12) << x << "," << y;
        EXPECT_NEAR(p[1], expected.green, 12) << x << "," << y;
        EXPECT_NEAR(p[2], expected.blue, 12) << x << "," << y;
    }
}

TEST(ImageWriter, GreyJpegHasOneComponent) {
    test::TempFolder folder;
    test::TestPicture picture = QuadrantPicture(kWidth, kHeight, false);
    CJpegLib jpeg;
    ASSERT_TRUE(jpeg.Write(FromFsPath(folder.Path() / "g.jpg"), 90, true, picture.bitmap));
    auto grey = test::ReadJpeg(folder.Path() / "g.jpg");
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->components, 1);
    EXPECT_NEAR(grey->samples[2 * kWidth + 2], 76, 8);  // red's luminance
    EXPECT_NEAR(grey->samples[(kHeight - 3) * kWidth + kWidth - 3], 255, 8);
}

TEST(ImageWriter, UnusableBitmapsAreRefusedWithoutAFile) {
    test::TempFolder folder;
    std::uint8_t pixels[64] = {};
    const BgraBitmap refused[] = {
        {nullptr, 2, 2, 8},                        // no pixels
        {pixels, 0, 2, 8},                         // no width
        {pixels, 2, 0, 8},                         // no height
        {pixels, 4, 2, 8},                         // rows shorter than the width
        {pixels, kMaxBitmapSide + 1, 1, 1 << 20},  // too wide to hold
        {pixels, 1, -(kMaxBitmapSide + 1), 4},     // too high to hold
        {pixels, 1, INT_MIN, 4},
    };
    WString png = FromFsPath(folder.Path() / "r.png");
    WString jpg = FromFsPath(folder.Path() / "r.jpg");
    for (const BgraBitmap& bitmap : refused) {
        EXPECT_FALSE(SavePng(png, bitmap)) << bitmap.width << "x" << bitmap.height;
        EXPECT_FALSE(SaveJpeg(jpg, bitmap)) << bitmap.width << "x" << bitmap.height;
    }
    EXPECT_TRUE(test::FolderEntries(folder.Path()).empty());

    // A negative width is only a sign, as in the clipboard's bitmaps.
    const BgraBitmap mirrored{pixels, -2, 2, 8};
    EXPECT_TRUE(SavePng(png, mirrored));
}

TEST(ImageWriter, MissingFolderFailsWithoutAFile) {
    test::TempFolder folder;
    test::TestPicture picture = QuadrantPicture(8, 4, false);
    EXPECT_FALSE(SavePng(FromFsPath(folder.Path() / "missing" / "a.png"), picture.bitmap));
    EXPECT_FALSE(SaveJpeg(FromFsPath(folder.Path() / "missing" / "a.jpg"), picture.bitmap));
    EXPECT_TRUE(test::FolderEntries(folder.Path()).empty());
}

TEST(ImageWriter, NewFileReplacesOlderOfTheSameName) {
    test::TempFolder folder;
    WString path = FromFsPath(folder.Path() / "same.png");
    ASSERT_TRUE(SavePng(path, QuadrantPicture(8, 4, false).bitmap));
    ASSERT_TRUE(SavePng(path, QuadrantPicture(6, 10, true).bitmap));
    auto png = test::ReadPng(folder.Path() / "same.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 6);
    EXPECT_EQ(png->height, 10);
    EXPECT_EQ(test::FolderEntries(folder.Path()), std::vector<std::string>{"same.png"});
}

#ifndef _WIN32
// A write that fails halfway (the file size limit stands in for a full disk) goes through
// the libraries' error exits: the call reports failure, no partial file stays, and the older
// file of the same name is untouched. Runs in a child process because of the limit.
void WriteIntoSizeLimit(const std::filesystem::path& folder, bool jpeg) {
    std::string name = jpeg ? "full.jpg" : "full.png";
    WString path = FromFsPath(folder / name);
    auto save = jpeg ? SaveJpeg : SavePng;
    if (!save(path, QuadrantPicture(2, 2, false).bitmap)) std::_Exit(2);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{8192, 8192};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
    if (save(path, test::NoisePicture(200, 200).bitmap)) std::_Exit(4);
    if (test::FolderEntries(folder) != std::vector{name}) std::_Exit(5);
    if (jpeg) {
        auto old = test::ReadJpeg(ToFsPath(path));
        std::_Exit(old && old->width == 2 ? 0 : 6);
    }
    auto old = test::ReadPng(ToFsPath(path));
    std::_Exit(old && old->width == 2 ? 0 : 6);
}

TEST(ImageWriterDeathTest, FailedWriteLeavesNoHalfFile) {
    test::TempFolder pngFolder;
    test::TempFolder jpegFolder;
    EXPECT_EXIT(WriteIntoSizeLimit(pngFolder.Path(), false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(WriteIntoSizeLimit(jpegFolder.Path(), true), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace mirka
