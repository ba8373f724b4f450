#include "screenshot/png_lib.h"

#include <csetjmp>
#include <ctime>

#include <png.h>

#include "screenshot/staged_file.h"

namespace mirka {

namespace {

// libpng wants writable strings for its text chunks.
char kTitleKey[] = "Title";
char kTitleText[] = "png file";
char kAuthorKey[] = "Author";
char kAuthorText[] = "...";
char kSoftwareKey[] = "Software";
char kSoftwareText[] = "Graphic Tool";
char kCopyrightKey[] = "Copyright";
char kCopyrightText[] = "...";

struct PngJob {
    png_structp png;
    png_infop info;
    std::FILE* file;
    const BgraBitmap* bitmap;
    std::uint8_t* row;
    int compressionLevel;
    std::tm utcNow;
};

// libpng leaves a failed write with a longjmp back into WritePngRows.
[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

png_text TextChunk(char* key, char* text) {
    png_text chunk{};
    chunk.compression = PNG_TEXT_COMPRESSION_NONE;
    chunk.key = key;
    chunk.text = text;
    return chunk;
}

// Everything between setjmp and the last libpng call happens here, with locals that need no
// destructor, so the longjmp of an error skips nothing.
bool WritePngRows(const PngJob& job) {
    if (setjmp(png_jmpbuf(job.png)) != 0) return false;

    png_structp png = job.png;
    int width = BitmapWidth(*job.bitmap);
    int height = BitmapHeight(*job.bitmap);
    png_init_io(png, job.file);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, job.compressionLevel);
    png_set_IHDR(png, job.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);

    png_time time;
    png_convert_from_struct_tm(&time, &job.utcNow);
    png_set_tIME(png, job.info, &time);
    png_text texts[] = {
        TextChunk(kTitleKey, kTitleText),
        TextChunk(kAuthorKey, kAuthorText),
        TextChunk(kSoftwareKey, kSoftwareText),
        TextChunk(kCopyrightKey, kCopyrightText),
    };
    png_set_text(png, job.info, texts, 4);

    png_write_info(png, job.info);
    png_set_bgr(png);
    for (int y = 0; y < height; ++y) {
        CopyRowOpaque(RowFromTop(*job.bitmap, y), width, job.row);
        png_write_row(png, job.row);
    }
    png_write_end(png, job.info);
    return true;
}

std::tm UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    return utc;
}

}  // namespace

CPngLib::~CPngLib() = default;

bool CPngLib::Write(WStringView path, const BgraBitmap& bitmap, int compressionLevel) {
    if (!IsUsableBitmap(bitmap)) return false;
    row.resize(static_cast<std::size_t>(BitmapWidth(bitmap)) * 4);

    StagedFile output(path);
    std::FILE* file = output.Open();
    if (file == nullptr) return false;

    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    bool written = false;
    if (info != nullptr) {
        PngJob job{png, info, file, &bitmap, row.data(), compressionLevel, UtcNow()};
        written = WritePngRows(job);
    }
    png_destroy_write_struct(&png, &info);
    return written && output.Commit();
}

}  // namespace mirka
