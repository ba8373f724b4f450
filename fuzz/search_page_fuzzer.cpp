// Feeds arbitrary bytes to the web search's page scraper, in the Shift_JIS locale the
// program is made for: the first line of the input is taken as the search words, the rest
// as the engine's page, handed on line by line as the page reader does. Also decodes the
// page as HTML into the scraper's two field sizes and encodes the words for the query.
//
// Checked besides what the sanitizers catch: the result text starts with its heading, stays
// under its bound and holds no more results than the scraper takes per line; decoded text
// fits its field; the query adds no line to the request.

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "search/result_scraper.h"
#include "search/search_text.h"
#include "search/web_search.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::setlocale(LC_ALL, "ja_JP.SJIS")) std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t firstEnd = input.find('\n');
    std::string words(input.substr(0, firstEnd));
    words = words.substr(0, words.find('\0'));
    mirka::CutNarrow(words, mirka::kSearchWordsBytes);
    std::string_view page =
        firstEnd == std::string_view::npos ? std::string_view() : input.substr(firstEnd + 1);

    std::string request = mirka::BuildSearchRequest(words, "engine.test");
    std::size_t lineEnds = 0;
    for (char c : request) lineEnds += c == '\n';
    if (lineEnds != 3) Fail("the query added a line to the request");

    mirka::SearchResultScraper scraper(words);
    mirka::WString heading = mirka::SearchHeading(words);
    int lines = 0;
    while (!page.empty()) {
        std::size_t end = page.find('\n');
        std::string_view line = page.substr(0, end);
        page = end == std::string_view::npos ? std::string_view() : page.substr(end + 1);
        ++lines;
        int before = scraper.ResultCount();
        bool more = scraper.ScanLine(line);
        if (scraper.ResultCount() - before > mirka::SearchResultScraper::kResultLimit)
            Fail("more results from one line than the limit");
        if (!more) break;
    }
    if (!scraper.Text().starts_with(heading)) Fail("the result text lost its heading");
    if (scraper.Text().size() > mirka::kMaxResultUnits) Fail("the result text over its bound");
    if (heading.size() > mirka::kHeadingUnits || !heading.ends_with(u"\r\n"))
        Fail("a heading over its bound");

    for (std::size_t capacity : {mirka::SearchResultScraper::kExcerptCapacity,
                                 mirka::SearchResultScraper::kTitleCapacity, std::size_t{4}}) {
        std::string decoded = mirka::DecodeHtmlText(input, capacity);
        if (decoded.size() > capacity - 2) Fail("decoded text over its field");
    }
    return 0;
}
