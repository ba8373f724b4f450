#include <clocale>
#include <fstream>

#include <gtest/gtest.h>

#include "support/scoped_locale.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"
#include "toolkit/little_endian.h"
#include "toolkit/memory_dump.h"
#include "toolkit/text.h"

namespace mirka {
namespace {

TEST(Text, NarrowConversionFollowsTheLocale) {
    {
        test::ScopedLocale utf8 = test::NarrowUtf8Locale();
        ASSERT_TRUE(utf8.Active());
        EXPECT_EQ(ToNarrow(u"名無しさん"), "名無しさん");
        EXPECT_EQ(FromNarrow("名無しさん"), u"名無しさん");
        // Invalid bytes become U+FFFD; the result stays well-formed.
        EXPECT_EQ(FromNarrow("a\xff"
                             "b"),
                  u"a\uFFFDb");
        EXPECT_EQ(FromNarrow("\xe3\x81"), u"\uFFFD\uFFFD");
        // A lone surrogate cannot be written.
        EXPECT_EQ(ToNarrow(WString(u"a") + char16_t(0xD800) + u"b"), "a?b");
    }
    {
        // A plain-ASCII locale reads and writes UTF-8, and cuts between its characters.
        test::ScopedLocale plain({"C"});
        EXPECT_EQ(ToNarrow(u"aあb"),
                  "a\xe3\x81\x82"
                  "b");
        EXPECT_EQ(FromNarrow("a\xe3\x81\x82"), u"aあ");
        EXPECT_EQ(FromNarrow("a\x80"), u"a\uFFFD");
        std::string cut = ToNarrow(u"aあ");
        CutNarrow(cut, 3);
        EXPECT_EQ(cut, "a");
    }
}

// Japanese Windows' code page (932) and the Shift_JIS locale elsewhere: the bytes of a
// conf.txt the original program wrote.
TEST(Text, NarrowConversionInTheShiftJisCodePage) {
    test::ScopedLocale sjis = test::ShiftJisLocale();
    if (!sjis.Active()) GTEST_SKIP() << test::kShiftJisSkipReason;
    const std::string bytes = "\x96\xbc\x96\xb3\x82\xb5\x82\xb3\x82\xf1";  // 名無しさん
    EXPECT_EQ(ToNarrow(u"名無しさん"), bytes);
    EXPECT_EQ(FromNarrow(bytes), u"名無しさん");
    // A character the code page lacks becomes '?', never a look-alike.
    EXPECT_EQ(ToNarrow(u"a\U0001F600b"), "a?b");
    // A lead byte without its trail byte becomes U+FFFD; the rest is kept.
    EXPECT_EQ(FromNarrow("a\x82"), u"a\uFFFD");
    // Cut between characters, never inside one.
    std::string cut = bytes;
    CutNarrow(cut, 3);
    EXPECT_EQ(cut, "\x96\xbc");
}

TEST(Text, Utf8RoundTripAndInvalidInput) {
    WString text = u"aé名\U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("\xc0\xaf"), u"\uFFFD\uFFFD");            // overlong form
    EXPECT_EQ(FromUtf8("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
}

TEST(Text, FieldsAndPathParts) {
    EXPECT_EQ(FitField(u"abcdef", 4), u"abc");
    EXPECT_EQ(FitField(WString(u"ab\0cd", 5), 10), u"ab");
    EXPECT_EQ(PathNamePart(u"/a/b/c.tar.gz"), u"c.tar.gz");
    EXPECT_EQ(PathExtensionPart(u"/a/b/c.tar.gz"), u".gz");
    EXPECT_EQ(PathExtensionPart(u"/a.d/b"), u"");
    char16_t buffer[4] = {u'a', u'b', u'c', u'd'};
    EXPECT_EQ(TerminatedView(buffer, 4), u"abcd");  // no terminator: stops at the end
}

TEST(LittleEndian, FieldsAndTexts) {
    std::uint8_t bytes[8];
    PutU32(bytes, 0x11223344);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(GetU32(bytes), 0x11223344u);
    PutI64(bytes, -2);
    EXPECT_EQ(GetI64(bytes), -2);
    Bytes odd = {'a', 0, 'b'};
    EXPECT_EQ(DecodeUtf16Le(odd.data(), odd.size()), u"a");
    std::uint8_t field[6];
    PutUtf16Field(field, sizeof field, u"abcd");
    EXPECT_EQ(GetUtf16Field(field, sizeof field), u"abc");  // cut, never read past
}

TEST(MemoryDump, EighteenLinesOfSixtyEightCharacters) {
    std::uint8_t bytes[256];
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(i < 16 ? 'A' + i : i);
    MemoryDump dump;
    const WString& text = dump.Dump(bytes);
    ASSERT_EQ(text.size(), 18u * 68u);
    EXPECT_EQ(text.substr(0, 68),
              u"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F | 0123456789ABCDEF\r\n");
    EXPECT_EQ(text.substr(68, 68), WString(48, u'-') + u"+" + WString(17, u'-') + u"\r\n");
    EXPECT_EQ(text.substr(136, 68),
              u"41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 | ABCDEFGHIJKLMNOP\r\n");
    for (std::size_t line = 0; line < 18; ++line)
        EXPECT_EQ(text.substr(line * 68 + 66, 2), u"\r\n");
    EXPECT_EQ(text[17 * 68 + 50 + 15], char16_t(0xFF));
}

TEST(FileExists, FilesFoldersAndWildcards) {
    test::TempFolder folder;
    WString base = folder.WithSeparator();
    std::ofstream(folder.Path() / "part.tmp") << "x";
    EXPECT_TRUE(FileExists(base + u"part.tmp"));
    EXPECT_TRUE(FileExists(FromFsPath(folder.Path())));  // a folder counts
    EXPECT_TRUE(FileExists(base + u"*.tmp"));
    EXPECT_TRUE(FileExists(base + u"p?rt.*"));
    EXPECT_FALSE(FileExists(base + u"*.txt"));
    EXPECT_FALSE(FileExists(base + u"missing"));
    EXPECT_FALSE(FileExists(u""));
}

}  // namespace
}  // namespace mirka
