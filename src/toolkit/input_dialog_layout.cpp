#include "toolkit/input_dialog_layout.h"

#include <algorithm>

namespace mirka {
namespace {

constexpr int kLineStart = 32;
constexpr int kUnitWidth = 12;
constexpr int kLineHeight = 16;
constexpr int kMinimumWidth = 100;

}  // namespace

int InputDialogLayout::ContentRight() const {
    return std::max({prompt.Right(), edit.Right(), okButton.Right()});
}

int InputDialogLayout::ContentBottom() const {
    return std::max({prompt.Bottom(), edit.Bottom(), okButton.Bottom()});
}

InputDialogLayout LayoutInputDialog(WStringView prompt) {
    int line = kLineStart;
    int height = kLineHeight;
    int widest = kMinimumWidth;
    for (char16_t c : prompt.substr(0, kInputTextTaken)) {
        line += kUnitWidth;
        if (c == u'\r' || c == u'\n') {
            height += kLineHeight;
            widest = std::max(widest, line);
            line = kLineStart;
        }
    }
    InputDialogLayout layout;
    const int w = std::max(line, widest);
    const int h = height;
    layout.textWidth = w;
    layout.textHeight = h;
    layout.windowWidth = w + 30;
    layout.windowHeight = h + 100;
    layout.prompt = {10, 10, w - 24, h};
    layout.edit = {10, h + 18, w + 6, 20};
    layout.okButton = {w - 50, h + 46, 65, 24};
    return layout;
}

PixelRect CentreOnScreen(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
    return {(screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2, windowWidth,
            windowHeight};
}

}  // namespace mirka
