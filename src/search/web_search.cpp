#include "search/web_search.h"

#include "search/page_reader.h"
#include "search/result_scraper.h"
#include "search/search_text.h"

namespace mirka {

std::string BuildSearchRequest(std::string_view words, std::string_view hostLine) {
    std::string request = "GET /search?hl=ja&q=";
    request += EncodeQueryText(words);
    request += "&lr=lang_ja HTTP/1.0\r\n";
    request += "Host: ";
    request += hostLine;
    request += "\r\n\r\n";
    return request;
}

void RunWebSearch(std::string_view words, const TextSink& sink, const SearchEngine& engine) {
    std::string cutWords(words.substr(0, words.find('\0')));
    CutNarrow(cutWords, kSearchWordsBytes);
    SearchResultScraper scraper(cutWords);
    ReadPageLines(engine, BuildSearchRequest(cutWords, engine.hostLine),
                  [&scraper](std::string_view line) { return scraper.ScanLine(line); });
    if (sink) sink(scraper.Text());
}

}  // namespace mirka
