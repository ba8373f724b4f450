#include "toolkit/input_dialog_layout.h"

#include <gtest/gtest.h>

namespace mirka {
namespace {

TEST(InputDialogLayoutTest, ShortPromptTakesTheMinimumWidth) {
    InputDialogLayout layout = LayoutInputDialog(u"abcde");
    EXPECT_EQ(layout.textWidth, 100);
    EXPECT_EQ(layout.textHeight, 16);
    EXPECT_EQ(layout.windowWidth, 130);
    EXPECT_EQ(layout.windowHeight, 116);

    EXPECT_EQ(LayoutInputDialog(u"").textWidth, 100);
}

TEST(InputDialogLayoutTest, EveryUnitWidensTheLine) {
    EXPECT_EQ(LayoutInputDialog(u"abcdefghijklmnopqrst").textWidth, 272);
    // Japanese prompts count the same per unit.
    InputDialogLayout name = LayoutInputDialog(u"使用する名前を入力してください");  // 15 units
    EXPECT_EQ(name.textWidth, 32 + 15 * 12);
    EXPECT_EQ(name.textHeight, 16);
}

TEST(InputDialogLayoutTest, CrLfCountsAsTwoBreaks) {
    InputDialogLayout layout = LayoutInputDialog(u"a\r\nb");
    EXPECT_EQ(layout.textHeight, 48);
    EXPECT_EQ(layout.textWidth, 100);

    EXPECT_EQ(LayoutInputDialog(u"a\nb").textHeight, 32);
    EXPECT_EQ(LayoutInputDialog(u"a\rb").textHeight, 32);
}

TEST(InputDialogLayoutTest, WidestLineWinsAndTheBreakItselfCounts) {
    // The first line is 10 units and its LF adds one more: 32 + 11 * 12.
    InputDialogLayout layout = LayoutInputDialog(u"0123456789\nab");
    EXPECT_EQ(layout.textWidth, 164);
    // A longer last line is taken even though no break follows it.
    EXPECT_EQ(LayoutInputDialog(u"ab\n0123456789ab").textWidth, 32 + 12 * 12);
}

TEST(InputDialogLayoutTest, ControlsFollowTheTextSize) {
    InputDialogLayout layout = LayoutInputDialog(u"a\r\nb");  // W 100, H 48
    EXPECT_EQ(layout.prompt, (PixelRect{10, 10, 76, 48}));
    EXPECT_EQ(layout.edit, (PixelRect{10, 66, 106, 20}));
    EXPECT_EQ(layout.okButton, (PixelRect{50, 94, 65, 24}));
    EXPECT_EQ(layout.ContentRight(), 116);
    EXPECT_EQ(layout.ContentBottom(), 118);
    EXPECT_LE(layout.ContentRight(), layout.windowWidth);
    EXPECT_LE(layout.ContentBottom(), layout.windowHeight);
}

TEST(InputDialogLayoutTest, OnlyTheTakenPartOfALongPromptIsMeasured) {
    WString prompt(3000, u'x');
    EXPECT_EQ(LayoutInputDialog(prompt).textWidth, 32 + 1024 * 12);
}

TEST(InputDialogLayoutTest, CentresWithIntegerDivision) {
    EXPECT_EQ(CentreOnScreen(1920, 1080, 130, 116), (PixelRect{895, 482, 130, 116}));
    EXPECT_EQ(CentreOnScreen(1025, 769, 130, 116), (PixelRect{447, 326, 130, 116}));
}

}  // namespace
}  // namespace mirka
