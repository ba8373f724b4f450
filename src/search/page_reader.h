#pragma once

#include <functional>
#include <string_view>

#include "search/web_search.h"

namespace mirka {

// Receives one line of the answer, without its line feed (a carriage return before it
// stays); returns false to stop reading.
using PageLineHandler = std::function<bool(std::string_view line)>;

// Connects to the engine, sends the request and hands the answer to onLine line by line.
// Returns when the answer ends, when connecting, sending or reading fails, when the
// engine's time-out passes or its page bound is reached, or when onLine asks to stop; a last
// line without a line feed is handed on as well. Never throws.
void ReadPageLines(const SearchEngine& engine, std::string_view request,
                   const PageLineHandler& onLine);

}  // namespace mirka
