#include "app/font_choice.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace mirka {
namespace {

TEST(LogFontTest, EncodesTheWindowsLayoutLittleEndian) {
    LogFont font;
    font.height = -21;
    font.width = 0x01020304;
    font.escapement = 5;
    font.orientation = 6;
    font.weight = 700;
    font.italic = 1;
    font.underline = 2;
    font.strikeOut = 3;
    font.charSet = 128;
    font.outPrecision = 4;
    font.clipPrecision = 5;
    font.quality = 6;
    font.pitchAndFamily = 0x31;
    font.SetFace(u"ＭＳ");
    auto bytes = font.Encode();
    const std::uint8_t head[] = {0xEB, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 5, 0, 0, 0,
                                 6,    0,    0,    0,    0xBC, 0x02, 0,    0,    1, 2, 3, 128,
                                 4,    5,    6,    0x31, 0x2D, 0xFF, 0x33, 0xFF, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), bytes.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + sizeof head, bytes.end(), [](auto b) { return !b; }));
    EXPECT_EQ(LogFont::Decode(bytes.data()), font);
}

class FontChoiceTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::filesystem::path fontIni = folder.Path() / "Font.ini";
};

TEST_F(FontChoiceTest, StartsFromTheChatFont) {
    CharFormat chat = MakeChatFont(u"ＭＳ Ｐゴシック", -215, 0x0000FF);
    LogFont start = StartingLogFont(chat, fontIni);
    LogFont expected;
    expected.height = -21;  // truncated towards zero
    expected.SetFace(u"ＭＳ Ｐゴシック");
    EXPECT_EQ(start, expected);
    EXPECT_EQ(StartingLogFont(MakeChatFont(u"A", 219, 0), fontIni).height, 21);
}

TEST_F(FontChoiceTest, FontIniOverlaysItsLeadingBytes) {
    CharFormat chat = MakeChatFont(u"Face", -210, 0);
    LogFont plain = StartingLogFont(chat, fontIni);
    std::filesystem::create_directory(fontIni);  // unreadable: not an error
    EXPECT_EQ(StartingLogFont(chat, fontIni), plain);
    std::filesystem::remove(fontIni);

    // Four bytes replace the height only.
    std::ofstream(fontIni, std::ios::binary).write("\xF4\xFF\xFF\xFF", 4);
    LogFont start = StartingLogFont(chat, fontIni);
    EXPECT_EQ(start.height, -12);
    EXPECT_EQ(start.Face(), u"Face");

    // A longer file gives a whole record and nothing beyond it is read.
    LogFont stored;
    stored.height = -30;
    stored.weight = 700;
    stored.SetFace(u"Other");
    auto bytes = stored.Encode();
    std::string content(bytes.begin(), bytes.end());
    content += "trailing bytes";
    std::ofstream(fontIni, std::ios::binary | std::ios::trunc) << content;
    EXPECT_EQ(StartingLogFont(chat, fontIni), stored);
}

TEST_F(FontChoiceTest, ChosenFontKeepsFaceColourAndSize) {
    CharFormat chat = MakeChatFont(u"Old", -210, 0);
    LogFont chosen;
    chosen.height = -16;
    chosen.weight = 700;
    chosen.italic = 1;
    chosen.SetFace(u"ＭＳ 明朝");
    ApplyChosenFont(chat, chosen, 0x00FF00);
    EXPECT_EQ(chat, MakeChatFont(u"ＭＳ 明朝", -160, 0x00FF00));

    // The height is taken as a signed 16-bit number.
    chosen.height = 0x10000 - 20;
    ApplyChosenFont(chat, chosen, 0);
    EXPECT_EQ(chat.height, -200);
    chosen.height = 70000;
    ApplyChosenFont(chat, chosen, 0);
    EXPECT_EQ(chat.height, 4464 * 10);
}

}  // namespace
}  // namespace mirka
