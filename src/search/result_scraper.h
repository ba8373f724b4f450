#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/text.h"

// Picks result entries out of the engine's result page, one line at a time, and builds the
// text that goes out as the chat line: the heading, then title, link and excerpt of each
// result on a line of their own.
namespace mirka {

// The host-name part that marks links to the engine's video service.
inline constexpr std::string_view kVideoHostPart = "video.google.";

// The heading "<words> の検索結果 by google\r\n", at most this many units; the words are
// shortened so that the heading keeps its line break.
inline constexpr std::size_t kHeadingUnits = 500;

// The result text stays below this so the peer, which closes the link on a chat text of
// over 1 MiB, always accepts it; real result pages come nowhere near.
inline constexpr std::size_t kMaxResultUnits = 256 * 1024;

WString SearchHeading(std::string_view words);

class SearchResultScraper {
public:
    // Results taken before the rest of a line is skipped.
    static constexpr int kResultLimit = 5;
    // Field capacities of the title and the excerpt, and the longest link kept.
    static constexpr std::size_t kTitleCapacity = 4000;
    static constexpr std::size_t kExcerptCapacity = 100;
    static constexpr std::size_t kLinkBytes = 4000;

    // The markers and filters are taken in the current locale's code page.
    explicit SearchResultScraper(std::string_view words);

    // Examines one line of the page, without its line feed. Returns false once the result
    // text is full and further lines cannot add anything.
    bool ScanLine(std::string_view line);

    const WString& Text() const { return text; }
    int ResultCount() const { return resultCount; }

private:
    bool IsDroppedTitle(std::string_view title) const;
    bool IsDroppedLink(std::string_view link) const;
    void AddResult(const std::string& title, const std::string& link, const std::string& excerpt);

    std::optional<std::string> marker;
    std::vector<std::string> titleFilters;
    WString text;
    int resultCount = 0;
    bool full = false;
};

}  // namespace mirka
