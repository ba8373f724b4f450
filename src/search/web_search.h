#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "toolkit/text.h"

// The web search: one HTTP/1.0 request to the search engine, the result entries scraped
// from its page, and the result text handed on as one chat line.
namespace mirka {

// Where the search goes. The defaults are the real engine; tests point host and port at a
// fake engine on 127.0.0.1.
struct SearchEngine {
    std::string host = "www.google.co.jp";
    std::uint16_t port = 80;
    // The name written in the request's Host line, whatever host the connection goes to.
    std::string hostLine = "www.google.co.jp";
    // Connecting, sending and reading the page together; an engine that never answers
    // cannot hold the search longer than this. A name lookup in progress cannot be
    // interrupted: it ends by the system resolver's own time-outs, and the search then
    // gives up if its time is over.
    std::chrono::milliseconds timeout{10'000};
    // The page is read up to this many bytes; the rest is ignored.
    std::size_t maxPageBytes = 4 * 1024 * 1024;
};

// Receives the result text; the program passes TaskManager::QueueTextLine, which sends it
// to the peer as a chat line and shows it in the own log.
using TextSink = std::function<void(const WString&)>;

// "GET /search?hl=ja&q=<query>&lr=lang_ja HTTP/1.0", the Host line and the empty line.
std::string BuildSearchRequest(std::string_view words, std::string_view hostLine);

// Runs one search to its end and hands the result text to the sink: the heading line, then
// title, link and excerpt of each result. Nothing is reported on failure: when the engine
// cannot be reached or the page holds no result, the text is the heading alone. The words
// are narrow text in the locale's code page (cut to 499 bytes).
void RunWebSearch(std::string_view words, const TextSink& sink,
                  const SearchEngine& engine = SearchEngine());

}  // namespace mirka
