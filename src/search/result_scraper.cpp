#include "search/result_scraper.h"

#include <array>

#include "search/search_text.h"
#include "toolkit/format.h"

namespace mirka {
namespace {

constexpr WStringView kHeadingFormat = u"%S の検索結果 by google\r\n";
constexpr WStringView kHeadingTail = u" の検索結果 by google\r\n";

constexpr WStringView kMarker = u"検索結果";
constexpr std::string_view kHref = "href=\"";
constexpr std::string_view kLinkEnd = "</a>";
constexpr std::string_view kExcerptDiv = "<div class=\"s\">";
constexpr std::string_view kExcerptEnd = "<cite>";
constexpr std::string_view kCachedLink = "cache";

constexpr std::array<WStringView, 6> kDroppedTitles = {
    u"類似ページ",   u"キャッシュ", u"<img src",
    u"絞り込み検索", u"言語ツール", u"Google&nbsp;ホーム",
};

constexpr std::array<std::string_view, 6> kDroppedLinks = {
    "/intl/ja/help.html",  "/intl/ja/ads/",      "/intl/ja/privacy.html",
    "/intl/ja/about.html", "/intl/ja/services/", "/search?",
};

// The text in the locale's code page, or nothing when the code page cannot hold it: a
// marker made of '?' substitutes would match unrelated pages.
std::optional<std::string> InCodePage(WStringView text) {
    std::string narrow = ToNarrow(text);
    if (FromNarrow(narrow) != text) return std::nullopt;
    return narrow;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

WString SearchHeading(std::string_view words) {
    WString wideWords = FromNarrow(words);
    CutUnits(wideWords, kHeadingUnits - kHeadingTail.size());
    return Format(kHeadingUnits + 1, kHeadingFormat, wideWords);
}

SearchResultScraper::SearchResultScraper(std::string_view words)
    : marker(InCodePage(kMarker)), text(SearchHeading(words)) {
    for (WStringView title : kDroppedTitles) {
        if (auto narrow = InCodePage(title)) titleFilters.push_back(std::move(*narrow));
    }
}

bool SearchResultScraper::IsDroppedTitle(std::string_view title) const {
    for (const std::string& filter : titleFilters) {
        if (Contains(title, filter)) return true;
    }
    return false;
}

bool SearchResultScraper::IsDroppedLink(std::string_view link) const {
    for (std::string_view filter : kDroppedLinks) {
        if (Contains(link, filter)) return true;
    }
    return Contains(link, kVideoHostPart);
}

void SearchResultScraper::AddResult(const std::string& title, const std::string& link,
                                    const std::string& excerpt) {
    WString entry =
        FromNarrow(title) + u"\r\n" + FromNarrow(link) + u"\r\n" + FromNarrow(excerpt) + u"\r\n";
    if (text.size() + entry.size() > kMaxResultUnits) {
        full = true;
        return;
    }
    text += entry;
    ++resultCount;
}

bool SearchResultScraper::ScanLine(std::string_view line) {
    constexpr auto npos = std::string_view::npos;
    if (full) return false;
    if (!marker) return true;
    // Links in front of the marker belong to the page's frame, not to the results.
    std::size_t cursor = line.find(*marker);
    if (cursor == npos) return true;
    // Once "<cite>" is missing after some point it is missing after every later one; this
    // keeps a long hostile line from being searched to its end again for every link.
    bool excerptEndMissing = false;
    while (true) {
        std::size_t href = line.find(kHref, cursor);
        if (href == npos) break;
        std::size_t linkStart = href + kHref.size();
        std::size_t quote = line.find('"', linkStart);
        if (quote == npos) break;
        std::string link(line.substr(linkStart, quote - linkStart));
        CutNarrow(link, kLinkBytes);
        if (Contains(link, kCachedLink)) {
            cursor = quote + 1;
            continue;
        }
        std::size_t tagEnd = line.find('>', quote);
        if (tagEnd == npos) break;
        std::size_t linkEnd = line.find(kLinkEnd, tagEnd + 1);
        if (linkEnd == npos) break;
        std::string title =
            DecodeHtmlText(line.substr(tagEnd + 1, linkEnd - tagEnd - 1), kTitleCapacity);
        cursor = linkEnd + 2;

        if (!IsDroppedTitle(title) && !IsDroppedLink(link)) {
            std::size_t div = line.find(kExcerptDiv, linkEnd);
            if (div == npos) break;
            cursor = div;
            std::size_t excerptStart = div + kExcerptDiv.size();
            std::size_t excerptEnd =
                excerptEndMissing ? npos : line.find(kExcerptEnd, excerptStart);
            if (excerptEnd == npos) {
                excerptEndMissing = true;
            } else {
                std::string excerpt = DecodeHtmlText(
                    line.substr(excerptStart, excerptEnd - excerptStart), kExcerptCapacity);
                AddResult(title, link, excerpt);
                if (full) return false;
                cursor = excerptEnd + 1;
            }
        }
        if (resultCount >= kResultLimit) break;
    }
    return true;
}

}  // namespace mirka
