#pragma once

#include <cstdint>
#include <ctime>

#include "screenshot/bgra_bitmap.h"
#include "toolkit/text.h"

namespace mirka {

// The file format chosen in the preview; the values are those the program keeps in its
// one-byte screenshot format.
enum ScreenshotFormat : std::uint8_t { kScreenshotPng = 0, kScreenshotJpeg = 1 };

inline constexpr int kPngCompressionLevel = 8;
inline constexpr int kJpegQuality = 97;

// "Screenshot" + separator + the local time as yyyymmdd_hhmmss, without extension and
// relative to the current folder: the name the preview works with. Two screenshots taken in
// the same second get the same name.
WString ScreenshotBasePath(const std::tm& localTime);

// ".png" or ".jpg".
WStringView ScreenshotExtension(ScreenshotFormat format);

// The base path with the format's extension.
WString ScreenshotPath(const std::tm& localTime, ScreenshotFormat format);

// Write the bitmap as an opaque PNG at compression level 8, or as a JPEG of quality 97.
bool SavePng(WStringView path, const BgraBitmap& bitmap);
bool SaveJpeg(WStringView path, const BgraBitmap& bitmap);

// Creates the base path's folder when missing, appends the format's extension and writes the
// file. `path` receives the file's path even when writing fails, so that the caller can
// name it in its report; false means no file was written (an older file of that name stays).
bool SaveScreenshot(const BgraBitmap& bitmap, WStringView basePath, ScreenshotFormat format,
                    WString& path);

}  // namespace mirka
