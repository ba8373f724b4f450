#pragma once

#include <QWidget>

#include "common/program_values.h"

namespace mirka {

// Left Ctrl+V in the input box: when the clipboard holds a picture, shows the preview, saves
// the screenshot and returns the path of the file to send; empty otherwise (an ordinary
// paste follows).
WString PasteScreenshot(QWidget* owner, ProgramValues& values);

}  // namespace mirka
