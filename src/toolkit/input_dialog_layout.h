#pragma once

#include <cstddef>

#include "toolkit/text.h"

// The one-line input dialog's text limits and the way its size follows the prompt. The
// geometry is in pixels; the window sizes below are outer sizes, frame included.
namespace mirka {

// Caption, prompt and default text are each taken up to 1,024 units; the dialog hands back
// at most 1,023.
inline constexpr std::size_t kInputTextTaken = 1024;
inline constexpr std::size_t kInputResultUnits = 1023;

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int Right() const { return x + width; }
    int Bottom() const { return y + height; }
    bool operator==(const PixelRect&) const = default;
};

struct InputDialogLayout {
    int textWidth = 0;   // W: the widest prompt line, at least 100
    int textHeight = 0;  // H: 16 and 16 per line break
    int windowWidth = 0;
    int windowHeight = 0;
    PixelRect prompt;
    PixelRect edit;
    PixelRect okButton;

    // Right and bottom edges that the controls reach, for a window whose frame leaves less
    // room than the outer size suggests.
    int ContentRight() const;
    int ContentBottom() const;
};

// Every unit widens the line by 12 pixels; CR and LF each end a line (a CR LF pair is two
// breaks) and add 16 to the height.
InputDialogLayout LayoutInputDialog(WStringView prompt);

// Top left corner that centres a window of the given outer size on a screen, in integer
// division as the window manager would round it.
PixelRect CentreOnScreen(int screenWidth, int screenHeight, int windowWidth, int windowHeight);

}  // namespace mirka
