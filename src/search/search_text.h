#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "toolkit/text.h"

// Text helpers of the web search. Everything narrow here is in the code page of the process
// locale (LC_CTYPE), which is also the code page the search words and the page are taken in.
namespace mirka {

// The search words read from the input box: at most 499 bytes of narrow text.
inline constexpr std::size_t kSearchWordsBytes = 499;

// Length of the character that starts at text[pos] in the locale's code page: 1 for a single
// byte and for a byte that starts no valid character, 0 when a multibyte character is cut
// off by the end of the text.
std::size_t NarrowCharLength(std::string_view text, std::size_t pos);

// Percent-encodes the search words for the query string: letters and digits stay, a blank
// becomes '+', every other byte and every byte of a multibyte character becomes "%XX".
// Ends at the first zero byte.
std::string EncodeQueryText(std::string_view words);

// Reduces an HTML fragment to text for an output field of `capacity` bytes: tags dropped,
// &lt; &gt; &quot; &apos; &amp; decoded and &copy; written as '@' (also inside tags),
// multibyte characters copied whole (also inside tags). Stops at the first zero byte or once
// the output holds capacity - 4 bytes; a multibyte character is never split and the output
// never exceeds capacity - 2 bytes (room for the field's two terminating zeros).
std::string DecodeHtmlText(std::string_view html, std::size_t capacity);

// The search words of the search button: the whole input box text. ("/search" takes its
// words in the chat command dispatch.)
std::string SearchWordsOfInputBox(WStringView inputText);

}  // namespace mirka
