#include "screenshot/jpeg_lib.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "screenshot/staged_file.h"

namespace mirka {

namespace {

// libjpeg's own fatal-error handler ends the process; this one jumps back into
// CompressRows instead.
struct JpegErrorTrap {
    jpeg_error_mgr manager;  // first, so that the library's pointer leads back to the trap
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorTrap*>(cinfo->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}

struct JpegJob {
    jpeg_compress_struct* cinfo;
    JpegErrorTrap* trap;
    std::FILE* file;
    const BgraBitmap* bitmap;
    std::uint8_t* row;
    int quality;
    bool grayscale;
};

// Every libjpeg call happens here, with locals that need no destructor, so the longjmp of
// an error skips nothing. The compressor is destroyed on both ways out.
bool CompressRows(const JpegJob& job) {
    jpeg_compress_struct* cinfo = job.cinfo;
    if (setjmp(job.trap->jump) != 0) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, job.file);

    int width = BitmapWidth(*job.bitmap);
    int height = BitmapHeight(*job.bitmap);
    cinfo->image_width = static_cast<JDIMENSION>(width);
    cinfo->image_height = static_cast<JDIMENSION>(height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    if (job.grayscale) jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    jpeg_set_quality(cinfo, job.quality, FALSE);

    jpeg_start_compress(cinfo, TRUE);
    JSAMPROW rows[1] = {job.row};
    for (int y = 0; y < height; ++y) {
        ConvertRowToRgb(RowFromTop(*job.bitmap, y), width, job.row);
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

}  // namespace

CJpegLib::~CJpegLib() = default;

bool CJpegLib::Write(WStringView path, int quality, bool grayscale, const BgraBitmap& bitmap) {
    if (!IsUsableBitmap(bitmap)) return false;
    row.resize(static_cast<std::size_t>(BitmapWidth(bitmap)) * 3);

    StagedFile output(path);
    std::FILE* file = output.Open();
    if (file == nullptr) return false;

    JpegErrorTrap trap{};
    jpeg_compress_struct cinfo{};
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = OnJpegError;
    trap.manager.output_message = OnJpegMessage;
    JpegJob job{&cinfo, &trap, file, &bitmap, row.data(), quality, grayscale};
    return CompressRows(job) && output.Commit();
}

}  // namespace mirka
