#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "screenshot/bgra_bitmap.h"

// Test pictures in the clipboard's layout, and PNG/JPEG files decoded back with the
// libraries themselves.
namespace mirka::test {

struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// Solid quadrants: red top left, green top right, blue bottom left, white bottom right.
Rgb QuadrantColour(int x, int y, int width, int height);

// Owns the pixels behind a BgraBitmap. The fourth byte of every pixel is 0, as clipboard
// bitmaps often leave it; rows are padded beyond width * 4.
struct TestPicture {
    std::vector<std::uint8_t> storage;
    BgraBitmap bitmap;
};

TestPicture QuadrantPicture(int width, int height, bool topDown);
// Pseudo-random pixels that compress badly.
TestPicture NoisePicture(int width, int height);

struct DecodedPng {
    int width = 0;
    int height = 0;
    int colourType = 0;
    int bitDepth = 0;
    std::vector<std::uint8_t> rgba;  // top row first, as stored in the file
    std::map<std::string, std::string> texts;
    int textCompression = 0;  // of the last text chunk
    bool hasTime = false;
    std::int64_t timeUtc = 0;  // the time chunk in seconds since 1970
};

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<std::uint8_t> samples;  // top row first
};

std::optional<DecodedPng> ReadPng(const std::filesystem::path& path);
std::optional<DecodedJpeg> ReadJpeg(const std::filesystem::path& path);

// The names of the entries of a folder.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

}  // namespace mirka::test
