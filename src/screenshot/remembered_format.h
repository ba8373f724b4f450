#pragma once

#include "screenshot/screenshot_file.h"

namespace mirka {

// The format the preview's send button chose last: PNG when the program starts, kept for
// the whole run and never saved. The preview reads it on opening and on its Paint button.
ScreenshotFormat RememberedScreenshotFormat();
void RememberScreenshotFormat(ScreenshotFormat format);

}  // namespace mirka
