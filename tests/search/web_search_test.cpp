#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_engine.h"
#include "search/result_scraper.h"
#include "search/search_text.h"
#include "search/web_search.h"
#include "support/scoped_locale.h"
#include "support/wait.h"

namespace mirka {
namespace {

using test::FakeEngine;

class WebSearch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!locale.Active()) GTEST_SKIP() << "no UTF-8 locale";
    }

    SearchEngine Engine(std::uint16_t port) {
        SearchEngine engine;
        engine.host = "127.0.0.1";
        engine.port = port;
        engine.timeout = std::chrono::seconds(5);
        return engine;
    }

    void Search(std::string_view words, const SearchEngine& engine) {
        RunWebSearch(
            words, [this](const WString& text) { sent.push_back(text); }, engine);
    }

    static std::string Entry(int n) {
        std::string k = std::to_string(n);
        return "<a href=\"http://r" + k + ".example/\">R" + k + "</a><div class=\"s\">E" + k +
               "<br><cite>r" + k + "</cite></div>";
    }

    test::ScopedLocale locale = test::Utf8Locale();
    std::vector<WString> sent;
};

TEST_F(WebSearch, SendsTheRequestAndHandsOnTheScrapedResults) {
    std::string page =
        "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n"
        "<html><body><a href=\"/intl/ja/about.html\">about</a>\r\n" +
        ToNarrow(u"<h2>検索結果</h2>") + Entry(1) + Entry(2) + "\r\n" +
        ToNarrow(u"<p>検索結果</p>") + Entry(3);  // the last line has no line feed
    FakeEngine engine(page);
    Search("a b&c", Engine(engine.Port()));

    EXPECT_EQ(engine.Request(),
              "GET /search?hl=ja&q=a+b%26c&lr=lang_ja HTTP/1.0\r\n"
              "Host: www.google.co.jp\r\n\r\n");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0],
              u"a b&c の検索結果 by google\r\n"
              u"R1\r\nhttp://r1.example/\r\nE1\r\n"
              u"R2\r\nhttp://r2.example/\r\nE2\r\n"
              u"R3\r\nhttp://r3.example/\r\nE3\r\n");
}

TEST_F(WebSearch, AnEmptyCommandStillSendsTheHeading) {
    FakeEngine engine("HTTP/1.0 200 OK\r\n\r\n<html></html>\r\n");
    Search("", Engine(engine.Port()));  // "/search" alone has empty words
    EXPECT_EQ(engine.Request(),
              "GET /search?hl=ja&q=&lr=lang_ja HTTP/1.0\r\nHost: www.google.co.jp\r\n\r\n");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], u" の検索結果 by google\r\n");
}

TEST_F(WebSearch, AnUnreachableEngineGivesTheHeadingAlone) {
    Search("w", Engine(test::ClosedPort()));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], u"w の検索結果 by google\r\n");
}

TEST_F(WebSearch, AnEngineThatNeverAnswersTimesOut) {
    FakeEngine engine("", FakeEngine::Mode::Silent);
    SearchEngine settings = Engine(engine.Port());
    settings.timeout = std::chrono::milliseconds(300);
    auto start = std::chrono::steady_clock::now();
    Search("w", settings);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_TRUE(test::WaitUntil([&] { return !engine.Request().empty(); }));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], u"w の検索結果 by google\r\n");
}

TEST_F(WebSearch, AnEndlessPageIsReadOnlyUpToItsBound) {
    // Results keep coming, one per line; the bound ends the reading, and what was read
    // before it still counts.
    FakeEngine engine(ToNarrow(u"検索結果") + Entry(1) + "\r\n", FakeEngine::Mode::Endless);
    SearchEngine settings = Engine(engine.Port());
    settings.maxPageBytes = 64 * 1024;
    Search("w", settings);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].starts_with(u"w の検索結果 by google\r\nR1\r\n"));
    // About 64 KiB of lines, each adding one result once the first five are in.
    std::size_t lines = settings.maxPageBytes / (ToNarrow(u"検索結果") + Entry(1) + "\r\n").size();
    std::size_t resultUnits = WString(u"R1\r\nhttp://r1.example/\r\nE1\r\n").size();
    EXPECT_LE(sent[0].size(), SearchHeading("w").size() + (lines + 1) * resultUnits);
    EXPECT_GE(sent[0].size(), SearchHeading("w").size() + lines * resultUnits);
}

}  // namespace
}  // namespace mirka
