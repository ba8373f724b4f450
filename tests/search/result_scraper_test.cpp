#include <string>

#include <gtest/gtest.h>

#include "search/result_scraper.h"
#include "support/scoped_locale.h"

namespace mirka {
namespace {

using test::ScopedLocale;

// The markers are narrow text in the locale's code page; the tests build their pages in
// UTF-8 unless they say otherwise.
class Scraper : public ::testing::Test {
protected:
    void SetUp() override {
        if (!locale.Active()) GTEST_SKIP() << "no UTF-8 locale";
    }

    static std::string Marker() { return ToNarrow(u"検索結果"); }

    static std::string Entry(const std::string& link, const std::string& title,
                             const std::string& excerpt) {
        return "<li><a class=\"l\" href=\"" + link + "\">" + title + "</a><div class=\"s\">" +
               excerpt + "<br><cite>site</cite></div></li>";
    }

    static std::string Numbered(int n) {
        std::string k = std::to_string(n);
        return Entry("http://e.example/" + k, "T" + k, "E" + k);
    }

    static WString Result(const std::string& title, const std::string& link,
                          const std::string& excerpt) {
        return FromNarrow(title) + u"\r\n" + FromNarrow(link) + u"\r\n" + FromNarrow(excerpt) +
               u"\r\n";
    }

    static WString NumberedResult(int n) {
        std::string k = std::to_string(n);
        return Result("T" + k, "http://e.example/" + k, "E" + k);
    }

    ScopedLocale locale = test::Utf8Locale();
};

TEST_F(Scraper, HeadingHoldsTheWordsAndKeepsItsLineBreak) {
    EXPECT_EQ(SearchHeading("abc"), u"abc の検索結果 by google\r\n");
    EXPECT_EQ(SearchHeading(""), u" の検索結果 by google\r\n");
    WString heading = SearchHeading(std::string(499, 'a'));
    EXPECT_EQ(heading.size(), kHeadingUnits);
    EXPECT_TRUE(heading.ends_with(u"の検索結果 by google\r\n"));
}

TEST_F(Scraper, TakesTitleLinkAndExcerptAfterTheMarker) {
    SearchResultScraper scraper("w");
    scraper.ScanLine(Entry("http://before/", "B", "b") + " no marker");
    scraper.ScanLine(Numbered(9) + Marker() + "</h2>" +
                     Entry("http://a.example/x?y=1&amp;z", "<b>A&amp;B</b> &lt;b&gt; &copy; X",
                           "one <b>two</b>\r"));
    EXPECT_EQ(scraper.ResultCount(), 1);
    // The link is taken as written; the CR of the line stays inside the excerpt's range.
    EXPECT_EQ(
        scraper.Text(),
        SearchHeading("w") + Result("A&B <b> @ X", "http://a.example/x?y=1&amp;z", "one two\r"));
}

TEST_F(Scraper, SkipsCachedLinksAndDropsFrameLinks) {
    const std::string dropped[] = {
        Entry("http://c.example/cache?q=1", "T", "E"),
        Entry("http://a.example/", "類似ページ", "E"),
        Entry("http://a.example/", "x キャッシュ", "E"),
        Entry("http://a.example/", "&lt;img src=1&gt;", "E"),
        Entry("http://a.example/", "絞り込み検索", "E"),
        Entry("http://a.example/", "言語ツール", "E"),
        Entry("http://a.example/", "Google&nbsp;ホーム", "E"),
        Entry("/intl/ja/help.html", "T", "E"),
        Entry("http://g/intl/ja/ads/", "T", "E"),
        Entry("/intl/ja/privacy.html", "T", "E"),
        Entry("/intl/ja/about.html", "T", "E"),
        Entry("/intl/ja/services/x", "T", "E"),
        Entry("http://video.google.co.jp/v?q=1", "T", "E"),
        Entry("/search?q=more", "T", "E"),
    };
    for (const std::string& entry : dropped) {
        SearchResultScraper scraper("w");
        scraper.ScanLine(Marker() + entry + Numbered(1));
        EXPECT_EQ(scraper.Text(), SearchHeading("w") + NumberedResult(1)) << entry;
    }
}

TEST_F(Scraper, LinkLineIsExactlyTheLinkAndTheExcerptIsCut) {
    SearchResultScraper scraper("w");
    std::string longTitle(5000, 't');
    scraper.ScanLine(Marker() + Entry("http://l.example/", longTitle, std::string(150, 'e')));
    EXPECT_EQ(scraper.Text(),
              SearchHeading("w") +
                  Result(std::string(3996, 't'), "http://l.example/", std::string(96, 'e')));
}

TEST_F(Scraper, TakesFivePerLineAndOneMoreFromALaterMarkerLine) {
    SearchResultScraper scraper("w");
    std::string line = Marker();
    for (int n = 1; n <= 6; ++n) line += Numbered(n);
    scraper.ScanLine(line);
    EXPECT_EQ(scraper.ResultCount(), 5);

    scraper.ScanLine(Numbered(7));                           // no marker
    scraper.ScanLine(Marker() + Numbered(8) + Numbered(9));  // one more, then the limit
    EXPECT_EQ(scraper.ResultCount(), 6);

    WString expected = SearchHeading("w");
    for (int n : {1, 2, 3, 4, 5, 8}) expected += NumberedResult(n);
    EXPECT_EQ(scraper.Text(), expected);
}

TEST_F(Scraper, ADroppedLinkAlsoEndsALineOnceFiveAreTaken) {
    SearchResultScraper scraper("w");
    std::string line = Marker();
    for (int n = 1; n <= 5; ++n) line += Numbered(n);
    scraper.ScanLine(line);
    // Skipping a cached link does not count as examining one; dropping a frame link does.
    scraper.ScanLine(Marker() + Entry("http://x/cache", "C", "c") + Numbered(6));
    scraper.ScanLine(Marker() + Entry("/search?q=x", "S", "s") + Numbered(7));
    EXPECT_EQ(scraper.ResultCount(), 6);
    EXPECT_TRUE(scraper.Text().ends_with(NumberedResult(6)));
}

TEST_F(Scraper, MalformedLinesEndTheirExaminationQuietly) {
    SearchResultScraper scraper("w");
    scraper.ScanLine(Marker() + "<a href=\"http://open");
    scraper.ScanLine(Marker() + "<a href=\"http://x/\" no tag end");
    scraper.ScanLine(Marker() + "<a href=\"http://x/\">title without end");
    scraper.ScanLine(Marker() + "<a href=\"http://x/\">T</a> no excerpt div");
    scraper.ScanLine(Marker() + "<a href=\"http://x/\">T</a><div class=\"s\">no cite");
    scraper.ScanLine(Marker());
    scraper.ScanLine("");
    EXPECT_EQ(scraper.ResultCount(), 0);
    EXPECT_EQ(scraper.Text(), SearchHeading("w"));
}

TEST_F(Scraper, ALongLineWithoutCitesIsScannedOnce) {
    // Each link with an excerpt but no "<cite>" would otherwise search the rest of a
    // multi-megabyte line again.
    std::string line = Marker();
    for (int n = 0; n < 60000; ++n) line += "<a href=\"h\">t</a><div class=\"s\">e</div>";
    SearchResultScraper scraper("w");
    EXPECT_TRUE(scraper.ScanLine(line));
    EXPECT_EQ(scraper.ResultCount(), 0);
}

TEST_F(Scraper, StopsBeforeTheResultTextOutgrowsAChatLine) {
    SearchResultScraper scraper("w");
    std::string bigEntry = Entry("http://" + std::string(3990, 'l'), std::string(3990, 't'), "e");
    bool more = true;
    int lines = 0;
    while (more && lines < 1000) {
        more = scraper.ScanLine(Marker() + bigEntry);
        ++lines;
    }
    EXPECT_FALSE(more);
    EXPECT_LE(scraper.Text().size(), kMaxResultUnits);
    EXPECT_GT(scraper.Text().size(), kMaxResultUnits - 8100);
    EXPECT_FALSE(scraper.ScanLine(Marker() + Numbered(1)));
}

TEST(ScraperInAsciiLocale, JapaneseMarkersThatCannotBeWrittenMatchNothing) {
    ScopedLocale locale({"C"});
    SearchResultScraper scraper("w");
    // In ASCII the marker would become "????"; such a line must not count as one.
    scraper.ScanLine("?\?\?\?<a href=\"http://a/\">T</a><div class=\"s\">E<cite>c</cite>");
    EXPECT_EQ(scraper.ResultCount(), 0);
    EXPECT_EQ(scraper.Text(), u"w の検索結果 by google\r\n");
}

TEST(ScraperInShiftJis, MatchesAShiftJisPage) {
    ScopedLocale locale = test::ShiftJisLocale();
    if (!locale.Active()) GTEST_SKIP() << test::kShiftJisSkipReason;
    std::string line = ToNarrow(u"<h2>検索結果</h2><a href=\"http://j/\">日本語&amp;表</a>") +
                       "<div class=\"s\">" + std::string(95, 'x') + ToNarrow(u"ソ表") +
                       "<cite>j</cite>";
    SearchResultScraper scraper(ToNarrow(u"日本"));
    scraper.ScanLine(line);
    EXPECT_EQ(scraper.Text(), u"日本 の検索結果 by google\r\n日本語&表\r\nhttp://j/\r\n" +
                                  WString(95, u'x') + u"ソ\r\n");
}

}  // namespace
}  // namespace mirka
