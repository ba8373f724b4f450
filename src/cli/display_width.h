#pragma once

#include <cstddef>

#include "toolkit/text.h"

// How many terminal columns a text takes: East Asian wide and fullwidth characters take two,
// combining marks none. Counted by the program itself, so a line fits whatever the locale.
namespace mirka::cli {

class DisplayWidth {
public:
    static int OfCodePoint(char32_t c);
    static int Of(WStringView text);
    // The longest start of `text` that takes at most `columns`, with "~" at its end when
    // something was cut (that takes a column too).
    static WString Fit(WStringView text, int columns);
    // `text` padded with blanks to exactly `columns` (cut first when longer).
    static WString Pad(WStringView text, int columns);
};

}  // namespace mirka::cli
