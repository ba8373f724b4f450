#include "toolkit/filter_list.h"

#include <gtest/gtest.h>

namespace mirka {
namespace {

using namespace std::string_literals;

TEST(FilterListTest, EntriesKeepTheirOrderWithPatternInParentheses) {
    CFilterList filters;
    EXPECT_TRUE(filters.AddFilter(u"テキスト", u"*.txt"));
    EXPECT_TRUE(filters.AddFilter(u"リッチテキスト", u"*.rtf"));
    ASSERT_EQ(filters.Entries().size(), 2u);
    EXPECT_EQ(filters.Entries()[0].displayName, u"テキスト (*.txt)");
    EXPECT_EQ(filters.Entries()[0].pattern, u"*.txt");
    EXPECT_EQ(filters.Entries()[1].displayName, u"リッチテキスト (*.rtf)");

    EXPECT_EQ(filters.BuildFilterText(),
              u"テキスト (*.txt)\0*.txt\0リッチテキスト (*.rtf)\0*.rtf\0\0"s);
    EXPECT_EQ(filters.NameFilters(),
              (std::vector<WString>{u"テキスト (*.txt)", u"リッチテキスト (*.rtf)"}));
}

TEST(FilterListTest, SeveralPatternsBecomeBlankSeparatedForQt) {
    CFilterList filters;
    filters.AddFilter(u"a;b", u"*.txt;*.log");
    EXPECT_EQ(filters.Entries()[0].displayName, u"a;b (*.txt;*.log)");
    EXPECT_EQ(filters.NameFilters(), (std::vector<WString>{u"a;b (*.txt *.log)"}));
}

TEST(FilterListTest, EmptyListBuildsTheEmptyText) {
    CFilterList filters;
    EXPECT_EQ(filters.BuildFilterText(), u"\0"s);
}

TEST(FilterListTest, FieldsHold199Units) {
    CFilterList filters;
    // " (" and ")" add 3 units: 191 + 3 + 5 = 199 fits, one more does not.
    EXPECT_TRUE(filters.AddFilter(WString(191, u'd'), u"*.txt"));
    EXPECT_FALSE(filters.AddFilter(WString(192, u'd'), u"*.txt"));
    EXPECT_TRUE(filters.AddFilter(u"", WString(196, u'p')));
    EXPECT_FALSE(filters.AddFilter(u"", WString(199, u'p')));
    EXPECT_EQ(filters.Entries().size(), 2u);
}

TEST(FilterListTest, EntriesBeyondTheTextSizeAreLeftOutWhole) {
    CFilterList filters;
    // Each entry: a display name of 190, the pattern of 5 and two terminators, 197 units;
    // 20 of them fill 3,940, the 21st would pass 4,095.
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(filters.AddFilter(WString(182, u'd'), u"*.txt"));
    const WString& text = filters.BuildFilterText();
    EXPECT_EQ(text.size(), 20u * 197u + 1u);
    EXPECT_EQ(text.substr(text.size() - 7), u"*.txt\0\0"s);
    // A rebuild starts afresh.
    EXPECT_EQ(filters.BuildFilterText().size(), text.size());
}

TEST(FilterListTest, SelectionPathsJoinFolderAndNames) {
    const WString sep(1, kPathSeparator);
    EXPECT_EQ(
        ComposeSelectedPaths(u"/home/u/docs", {u"a.txt", u"b.rtf"}),
        (std::vector<WString>{u"/home/u/docs" + sep + u"a.txt", u"/home/u/docs" + sep + u"b.rtf"}));
    // The root already ends with its separator.
    WString root = sep;
    EXPECT_EQ(ComposeSelectedPaths(root, {u"a"}), (std::vector<WString>{root + u"a"}));
}

TEST(FilterListTest, SelectionPathsTooLongAreLeftOutNotCut) {
    WString folder = u"/" + WString(250, u'f');  // 251 units, 252 with the separator
    auto paths = ComposeSelectedPaths(folder, {u"1234567", u"12345678", u"x"});
    // 252 + 7 = 259 fits into 260 with the terminator; 260 does not.
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0].size(), 259u);
    EXPECT_EQ(paths[1], folder + kPathSeparator + u"x");
}

}  // namespace
}  // namespace mirka
