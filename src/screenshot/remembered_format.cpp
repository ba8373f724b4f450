#include "screenshot/remembered_format.h"

#include <atomic>

namespace mirka {

namespace {
// Only the window thread uses it; atomic so that a stray reader elsewhere stays defined.
std::atomic<ScreenshotFormat> rememberedFormat{kScreenshotPng};
}  // namespace

ScreenshotFormat RememberedScreenshotFormat() {
    return rememberedFormat.load();
}

void RememberScreenshotFormat(ScreenshotFormat format) {
    rememberedFormat.store(format == kScreenshotJpeg ? kScreenshotJpeg : kScreenshotPng);
}

}  // namespace mirka
