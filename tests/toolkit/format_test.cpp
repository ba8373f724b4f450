#include <clocale>

#include <gtest/gtest.h>

#include "support/scoped_locale.h"
#include "toolkit/format.h"

namespace mirka {
namespace {

TEST(Format, ConversionsOfTheProgramsFormats) {
    EXPECT_EQ(Format(64, u"%s の発言 (%02d:%02d:%02d): ", u"x", 9, 5, 7), u"x の発言 (09:05:07): ");
    EXPECT_EQ(Format(64, u"%S:%d", std::string("host"), 1225), u"host:1225");
    EXPECT_EQ(Format(64, u"%lld KB", 1234567890123LL), u"1234567890123 KB");
    EXPECT_EQ(Format(64, u"%.2f%%", 25.0), u"25.00%");
    EXPECT_EQ(Format(64, u"%dh%02dm%02ds", 2, 2, 2), u"2h02m02s");
    EXPECT_EQ(Format(64, u"%s_[%02x]%s", u"a", 254, u".txt"), u"a_[fe].txt");
    EXPECT_EQ(Format(64, u"%02X ", 0x4a), u"4A ");
    EXPECT_EQ(Format(64, u"%12s|%4d", u"main", 42), u"        main|  42");
    EXPECT_EQ(Format(64, u"%-5s|", u"ab"), u"ab   |");
    EXPECT_EQ(Format(64, u"%c%c", u'A', 0x3042), u"Aあ");
    EXPECT_EQ(Format(64, u"%.3s", u"abcdef"), u"abc");
}

TEST(Format, IntegersWithoutLengthModifierAreThirtyTwoBits) {
    // "%d" of a 64-bit size shows its low 32 bits, as the C formats do.
    EXPECT_EQ(Format(64, u"%d", 0x100000005LL), u"5");
    EXPECT_EQ(Format(64, u"%d", 0xFFFFFFFFLL), u"-1");
    EXPECT_EQ(Format(64, u"%u", -1), u"4294967295");
    EXPECT_EQ(Format(64, u"%hu", 70000), u"4464");
}

TEST(Format, ResultIsCutToCapacityAtACharacterBoundary) {
    WString longText(5000, u'x');
    EXPECT_EQ(Format(kFormatCapacity, u"%s", longText).size(), 2047u);
    EXPECT_EQ(Format(4, u"abcdef"), u"abc");
    EXPECT_EQ(Format(1, u"abc"), u"");
    // A surrogate pair is never split.
    EXPECT_EQ(Format(3, u"a\U0001F600"), u"a");
}

TEST(Format, MissingOrMismatchedArgumentsAreHarmless) {
    EXPECT_EQ(Format(64, u"%d %s"), u"0 ");
    EXPECT_EQ(Format(64, u"%s", 5), u"");
    EXPECT_EQ(Format(64, u"100%"), u"100%");
    EXPECT_EQ(Format(64, u"%y"), u"%y");
}

TEST(Format, NarrowFormatInLocaleCodePage) {
    test::ScopedLocale utf8 = test::NarrowUtf8Locale();
    ASSERT_TRUE(utf8.Active());
    EXPECT_EQ(FormatNarrow(64, "send file%s", u"/tmp/ファイル"), "send file/tmp/ファイル");
    // Cut by bytes without splitting a multibyte character.
    EXPECT_EQ(FormatNarrow(5, "%s", u"あい"), "あ");
}

}  // namespace
}  // namespace mirka
