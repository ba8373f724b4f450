#include <fstream>

#include <gtest/gtest.h>

#include "image_files.h"
#include "screenshot/screenshot_file.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

WString InScreenshotFolder(WStringView name) {
    return WString(u"Screenshot") + kPathSeparator + WString(name);
}

TEST(ScreenshotPath, NamesTheFileAfterTheLocalTime) {
    EXPECT_EQ(ScreenshotBasePath(Time(2009, 5, 8, 16, 4, 16)),
              InScreenshotFolder(u"20090508_160416"));
    EXPECT_EQ(ScreenshotPath(Time(2010, 1, 2, 3, 4, 5), kScreenshotPng),
              InScreenshotFolder(u"20100102_030405.png"));
    EXPECT_EQ(ScreenshotPath(Time(2031, 12, 31, 23, 59, 59), kScreenshotJpeg),
              InScreenshotFolder(u"20311231_235959.jpg"));
}

TEST(ScreenshotPath, SameSecondGivesSameName) {
    std::tm first = Time(2009, 5, 8, 16, 4, 16);
    std::tm second = first;
    second.tm_isdst = 1;  // fields that do not appear in the name do not matter
    EXPECT_EQ(ScreenshotPath(first, kScreenshotPng), ScreenshotPath(second, kScreenshotPng));
    EXPECT_NE(ScreenshotPath(first, kScreenshotPng), ScreenshotPath(first, kScreenshotJpeg));
}

TEST(SaveScreenshot, CreatesTheFolderAndWritesTheChosenFormat) {
    test::TempFolder folder;
    test::TestPicture picture = test::QuadrantPicture(12, 8, false);
    WString base = FromFsPath(folder.Path() / "Screenshot" / "20090508_160416");
    WString path;

    ASSERT_TRUE(SaveScreenshot(picture.bitmap, base, kScreenshotPng, path));
    EXPECT_EQ(path, base + u".png");
    EXPECT_TRUE(test::ReadPng(ToFsPath(path)));

    // The folder exists now; the same second in the other format gets its own file.
    ASSERT_TRUE(SaveScreenshot(picture.bitmap, base, kScreenshotJpeg, path));
    EXPECT_EQ(path, base + u".jpg");
    EXPECT_TRUE(test::ReadJpeg(ToFsPath(path)));
    EXPECT_EQ(test::FolderEntries(folder.Path() / "Screenshot").size(), 2u);
}

TEST(SaveScreenshot, FailureStillNamesTheFile) {
    test::TempFolder folder;
    test::TestPicture picture = test::QuadrantPicture(12, 8, false);
    WString path;

    // An empty image.
    BgraBitmap empty = picture.bitmap;
    empty.height = 0;
    WString base = FromFsPath(folder.Path() / "Screenshot" / "a");
    EXPECT_FALSE(SaveScreenshot(empty, base, kScreenshotPng, path));
    EXPECT_EQ(path, base + u".png");

    // A plain file where the folder should be.
    std::ofstream(folder.Path() / "Blocked") << "x";
    base = FromFsPath(folder.Path() / "Blocked" / "b");
    EXPECT_FALSE(SaveScreenshot(picture.bitmap, base, kScreenshotJpeg, path));
    EXPECT_EQ(path, base + u".jpg");
    EXPECT_EQ(test::FolderEntries(folder.Path()), std::vector<std::string>{"Blocked"});
}

}  // namespace
}  // namespace mirka
