#include "image_files.h"

#include <csetjmp>
#include <cstdio>
#include <ctime>

#include <jpeglib.h>
#include <png.h>

namespace mirka::test {

Rgb QuadrantColour(int x, int y, int width, int height) {
    bool right = x >= width / 2;
    bool bottom = y >= height / 2;
    if (!bottom) return right ? Rgb{0, 255, 0} : Rgb{255, 0, 0};
    return right ? Rgb{255, 255, 255} : Rgb{0, 0, 255};
}

namespace {

constexpr int kRowPadding = 12;

TestPicture EmptyPicture(int width, int height, bool topDown) {
    TestPicture picture;
    std::ptrdiff_t stride = width * 4 + kRowPadding;
    picture.storage.assign(static_cast<std::size_t>(stride) * height, 0xEE);
    picture.bitmap = {picture.storage.data(), width, topDown ? -height : height, stride};
    return picture;
}

std::uint8_t* StoredRow(TestPicture& picture, int yFromTop) {
    const BgraBitmap& b = picture.bitmap;
    int height = b.height < 0 ? -b.height : b.height;
    int stored = b.height < 0 ? yFromTop : height - 1 - yFromTop;
    return picture.storage.data() + stored * b.stride;
}

}  // namespace

TestPicture QuadrantPicture(int width, int height, bool topDown) {
    TestPicture picture = EmptyPicture(width, height, topDown);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = StoredRow(picture, y);
        for (int x = 0; x < width; ++x) {
            Rgb colour = QuadrantColour(x, y, width, height);
            row[x * 4] = static_cast<std::uint8_t>(colour.blue);
            row[x * 4 + 1] = static_cast<std::uint8_t>(colour.green);
            row[x * 4 + 2] = static_cast<std::uint8_t>(colour.red);
            row[x * 4 + 3] = 0;
        }
    }
    return picture;
}

TestPicture NoisePicture(int width, int height) {
    TestPicture picture = EmptyPicture(width, height, false);
    std::uint32_t state = 12345;
    for (auto& byte : picture.storage) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return picture;
}

namespace {

std::FILE* OpenForReading(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

std::int64_t SecondsSince1970(std::tm& utc) {
#ifdef _WIN32
    return _mkgmtime(&utc);
#else
    return timegm(&utc);
#endif
}

[[noreturn]] void OnReadPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnReadPngWarning(png_structp, png_const_charp) {}

// Only trivial locals between setjmp and the last libpng call.
bool DecodePng(png_structp png, png_infop info, std::FILE* file, DecodedPng* out) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    out->width = static_cast<int>(png_get_image_width(png, info));
    out->height = static_cast<int>(png_get_image_height(png, info));
    out->colourType = png_get_color_type(png, info);
    out->bitDepth = png_get_bit_depth(png, info);
    if (out->colourType != PNG_COLOR_TYPE_RGB_ALPHA || out->bitDepth != 8) return true;
    out->rgba.resize(static_cast<std::size_t>(out->width) * out->height * 4);
    for (int y = 0; y < out->height; ++y) {
        png_read_row(png, out->rgba.data() + static_cast<std::size_t>(y) * out->width * 4, nullptr);
    }
    png_read_end(png, info);
    return true;
}

void CollectPngChunks(png_structp png, png_infop info, DecodedPng& out) {
    png_textp texts = nullptr;
    int count = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < count; ++i) {
        out.texts[texts[i].key] = texts[i].text ? texts[i].text : "";
        out.textCompression = texts[i].compression;
    }
    png_timep time = nullptr;
    if (png_get_tIME(png, info, &time) != 0 && time != nullptr) {
        std::tm utc{};
        utc.tm_year = time->year - 1900;
        utc.tm_mon = time->month - 1;
        utc.tm_mday = time->day;
        utc.tm_hour = time->hour;
        utc.tm_min = time->minute;
        utc.tm_sec = time->second;
        out.hasTime = true;
        out.timeUtc = SecondsSince1970(utc);
    }
}

struct JpegTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void OnReadJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegTrap*>(cinfo->err)->jump, 1);
}

bool DecodeJpeg(jpeg_decompress_struct* cinfo, JpegTrap* trap, std::FILE* file, DecodedJpeg* out) {
    if (setjmp(trap->jump) != 0) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    jpeg_start_decompress(cinfo);
    out->width = static_cast<int>(cinfo->output_width);
    out->height = static_cast<int>(cinfo->output_height);
    out->components = cinfo->output_components;
    std::size_t stride = static_cast<std::size_t>(out->width) * out->components;
    out->samples.resize(stride * out->height);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out->samples.data() + stride * cinfo->output_scanline;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return true;
}

}  // namespace

std::optional<DecodedPng> ReadPng(const std::filesystem::path& path) {
    std::FILE* file = OpenForReading(path);
    if (file == nullptr) return std::nullopt;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnReadPngError, OnReadPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    DecodedPng out;
    bool ok = info != nullptr && DecodePng(png, info, file, &out);
    if (ok) CollectPngChunks(png, info, out);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    if (!ok) return std::nullopt;
    return out;
}

std::optional<DecodedJpeg> ReadJpeg(const std::filesystem::path& path) {
    std::FILE* file = OpenForReading(path);
    if (file == nullptr) return std::nullopt;
    JpegTrap trap{};
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = OnReadJpegError;
    DecodedJpeg out;
    bool ok = DecodeJpeg(&cinfo, &trap, file, &out);
    std::fclose(file);
    if (!ok) return std::nullopt;
    return out;
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

}  // namespace mirka::test
