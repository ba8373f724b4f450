#pragma once

#include <cstddef>
#include <vector>

#include "toolkit/text.h"

// Web addresses in a text, found the way the rich-edit control's automatic detection finds
// them: a scheme (http, https, ftp, file, mailto, news, telnet and a few more) or a name
// that starts with "www.", up to the next blank, quote or angle bracket, without trailing
// punctuation. Used by the log (links to click) and the input box (links shown as such).
namespace mirka {

struct LinkSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    // What opening the link asks for: the text itself, or "http://" before a "www." name.
    WString target;
};

std::vector<LinkSpan> FindLinks(WStringView text);

}  // namespace mirka
