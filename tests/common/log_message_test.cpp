#include <gtest/gtest.h>

#include "common/log_message.h"

namespace mirka {
namespace {

TEST(LogMessage, HeadingAndBodyInTheGivenStyle) {
    CharFormat font = MakeChatFont(u"Meiryo", -240, 0x00FF00);
    auto runs = BuildLogMessage(&font, u"x の発言 (09:05:07): \r\nabc\r\n");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, u"x の発言 (09:05:07): \r\n");
    EXPECT_EQ(runs[0].style, HeadingStyle());
    EXPECT_TRUE(runs[0].style.bold);
    EXPECT_EQ(runs[0].style.height, -200);
    EXPECT_EQ(runs[0].style.face, u"ＭＳ Ｐゴシック");
    EXPECT_EQ(runs[1].text, u"abc\r\n");
    EXPECT_EQ(runs[1].style.face, u"Meiryo");
    EXPECT_EQ(runs[1].style.height, -240);
    EXPECT_EQ(runs[1].style.color, 0x00FF00u);
    EXPECT_FALSE(runs[1].style.bold);
    EXPECT_EQ(runs[1].style.indentTwips, 200);

    // Without a style the body takes the default, which keeps the colour at the insertion.
    runs = BuildLogMessage(nullptr, u"SystemMessage:: \r\n切断\r\n");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].style, DefaultBodyStyle());
    EXPECT_FALSE(runs[1].style.color.has_value());
}

TEST(LogMessage, TextWithoutLineBreakGivesErrorLineAndDump) {
    auto runs = BuildLogMessage(nullptr, u"AB");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, u"Error: Null Pointer\r\nPROGRAM_SOURCE:.\\main LINE118\r\n");
    // "A\0B\0": the dump's character column ends at the first zero byte.
    EXPECT_EQ(runs[1].text.substr(136, 68 - 2 - 16),
              u"41 00 42 00 00 00 00 00 00 00 00 00 00 00 00 00 | ");
    EXPECT_TRUE(runs[1].text.ends_with(u"| A"));
}

}  // namespace
}  // namespace mirka
