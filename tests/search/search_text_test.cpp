#include <string>

#include <gtest/gtest.h>

#include "search/search_text.h"
#include "support/scoped_locale.h"

namespace mirka {
namespace {

using test::ScopedLocale;

class Utf8Text : public ::testing::Test {
protected:
    void SetUp() override {
        if (!locale.Active()) GTEST_SKIP() << "no UTF-8 locale";
    }
    ScopedLocale locale = test::Utf8Locale();
};

class ShiftJisText : public ::testing::Test {
protected:
    void SetUp() override {
        if (!locale.Active()) GTEST_SKIP() << test::kShiftJisSkipReason;
    }
    ScopedLocale locale = test::ShiftJisLocale();
};

bool IsWellFormed(const WString& text) {
    return text.find(u'\uFFFD') == WString::npos;
}

TEST(EncodeQueryText, KeepsLettersAndDigitsAndEncodesTheRest) {
    EXPECT_EQ(EncodeQueryText("a b&c"), "a+b%26c");
    EXPECT_EQ(EncodeQueryText("Az09-_.~+%"), "Az09%2D%5F%2E%7E%2B%25");
    EXPECT_EQ(EncodeQueryText(""), "");
    EXPECT_EQ(EncodeQueryText(std::string_view("ab\0cd", 5)), "ab");
}

TEST_F(Utf8Text, EncodesEveryByteOfAJapaneseWord) {
    EXPECT_EQ(EncodeQueryText(ToNarrow(u"検索 a")), "%E6%A4%9C%E7%B4%A2+a");
}

TEST_F(ShiftJisText, EncodesLeadAndTrailBytesEvenWhenTheTrailIsALetter) {
    // ア and イ are 83 41 and 83 43: their trail bytes are 'A' and 'C'.
    EXPECT_EQ(EncodeQueryText(ToNarrow(u"アイ検索")), "%83%41%83%43%8C%9F%8D%F5");
    // A half-width katakana is a single byte of 0x80 or above.
    EXPECT_EQ(EncodeQueryText(ToNarrow(u"ｱ1")), "%B11");
}

TEST(DecodeHtmlText, DecodesTheKnownEntitiesOnly) {
    EXPECT_EQ(DecodeHtmlText("A&amp;B", 100), "A&B");
    EXPECT_EQ(DecodeHtmlText("&lt;b&gt;", 100), "<b>");
    EXPECT_EQ(DecodeHtmlText("&copy; X", 100), "@ X");
    EXPECT_EQ(DecodeHtmlText("&quot;&apos;", 100), "\"'");
    EXPECT_EQ(DecodeHtmlText("a&nbsp;b &AMP; &am", 100), "a&nbsp;b &AMP; &am");
}

TEST(DecodeHtmlText, DropsTagsButDecodesEntitiesInsideThem) {
    EXPECT_EQ(DecodeHtmlText("<a href=\"x\">T<b>ex</b>t</a>", 100), "Text");
    EXPECT_EQ(DecodeHtmlText("<b title=\"x&amp;y\">T</b>", 100), "&T");
    // A decoded '<' does not open a tag.
    EXPECT_EQ(DecodeHtmlText("&lt;i x", 100), "<i x");
    EXPECT_EQ(DecodeHtmlText("a<b", 100), "a");
    EXPECT_EQ(DecodeHtmlText(std::string_view("ab\0cd", 5), 100), "ab");
}

TEST(DecodeHtmlText, StopsAtCapacityLessFour) {
    EXPECT_EQ(DecodeHtmlText(std::string(200, 'x'), 100), std::string(96, 'x'));
    // An entity decoded at the last position counts as one byte.
    EXPECT_EQ(DecodeHtmlText(std::string(95, 'x') + "&amp;&amp;", 100), std::string(95, 'x') + "&");
    EXPECT_EQ(DecodeHtmlText("abc", 4), "");
    EXPECT_EQ(DecodeHtmlText("abc", 0), "");
}

TEST_F(ShiftJisText, CopiesDoubleByteCharactersWholeUpTo97Bytes) {
    std::string input = std::string(95, 'x') + ToNarrow(u"あい");
    std::string out = DecodeHtmlText(input, 100);
    EXPECT_EQ(out.size(), 97u);
    EXPECT_EQ(FromNarrow(out), WString(95, u'x') + u"あ");
    // Copied also inside a tag, as a unit.
    EXPECT_EQ(FromNarrow(DecodeHtmlText(ToNarrow(u"<a 表>ソ</a>"), 100)), u"表ソ");
    // A lead byte without its trail byte at the end is dropped, not copied half.
    EXPECT_EQ(DecodeHtmlText("ab\x82", 100), "ab");
}

TEST_F(Utf8Text, NeverSplitsAMultibyteCharacterAtTheCapacity) {
    // Three bytes from 95 reach 98, which still leaves room for the two terminators.
    std::string out = DecodeHtmlText(std::string(95, 'x') + ToNarrow(u"検索"), 100);
    EXPECT_EQ(FromNarrow(out), WString(95, u'x') + u"検");
    // Four bytes from 95 would not: the character is left out.
    out = DecodeHtmlText(std::string(95, 'x') + ToNarrow(u"\U0002000B"), 100);
    EXPECT_EQ(out, std::string(95, 'x'));
    for (std::size_t lead = 90; lead < 100; ++lead) {
        WString text =
            FromNarrow(DecodeHtmlText(std::string(lead, 'x') + ToNarrow(u"検索結果"), 100));
        EXPECT_TRUE(IsWellFormed(text)) << lead;
    }
}

TEST(SearchWords, TheButtonTakesTheWholeBoxUpTo499Bytes) {
    EXPECT_EQ(SearchWordsOfInputBox(u"/search x"), "/search x");
    EXPECT_EQ(SearchWordsOfInputBox(WString(600, u'a')), std::string(499, 'a'));
}

TEST_F(ShiftJisText, SearchWordsAreCutBetweenCharacters) {
    std::string words = SearchWordsOfInputBox(WString(300, u'あ'));
    EXPECT_EQ(words.size(), 498u);
    EXPECT_EQ(FromNarrow(words), WString(249, u'あ'));
}

}  // namespace
}  // namespace mirka
