#include "screenshot/screenshot_file.h"

#include <filesystem>
#include <system_error>

#include "screenshot/jpeg_lib.h"
#include "screenshot/png_lib.h"
#include "toolkit/file_system.h"
#include "toolkit/format.h"

namespace mirka {

WString ScreenshotBasePath(const std::tm& localTime) {
    WString path = u"Screenshot";
    path += kPathSeparator;
    path += Format(kFormatCapacity, u"%02d%02d%02d_%02d%02d%02d", localTime.tm_year + 1900,
                   localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                   localTime.tm_sec);
    return path;
}

WStringView ScreenshotExtension(ScreenshotFormat format) {
    return format == kScreenshotJpeg ? u".jpg" : u".png";
}

WString ScreenshotPath(const std::tm& localTime, ScreenshotFormat format) {
    return ScreenshotBasePath(localTime) + WString(ScreenshotExtension(format));
}

bool SavePng(WStringView path, const BgraBitmap& bitmap) {
    CPngLib png;
    return png.Write(path, bitmap, kPngCompressionLevel);
}

bool SaveJpeg(WStringView path, const BgraBitmap& bitmap) {
    CJpegLib jpeg;
    return jpeg.Write(path, kJpegQuality, false, bitmap);
}

bool SaveScreenshot(const BgraBitmap& bitmap, WStringView basePath, ScreenshotFormat format,
                    WString& path) {
    path = WString(basePath) + WString(ScreenshotExtension(format));
    if (!IsUsableBitmap(bitmap)) return false;
    std::filesystem::path folder = ToFsPath(basePath).parent_path();
    if (!folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) return false;
    }
    return format == kScreenshotJpeg ? SaveJpeg(path, bitmap) : SavePng(path, bitmap);
}

}  // namespace mirka
