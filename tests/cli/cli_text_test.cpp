#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/display_width.h"
#include "cli/json_line.h"
#include "cli/progress_report.h"
#include "json_reader.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

// Japanese text takes two columns a character, combining marks none; a fitted text never
// takes more than it was given, and says that it was cut.
TEST(CliText, WidthCountsWideCharactersTwice) {
    EXPECT_EQ(DisplayWidth::Of(u"abc"), 3);
    EXPECT_EQ(DisplayWidth::Of(u"検証済み"), 8);
    EXPECT_EQ(DisplayWidth::Of(u"ｶﾅ"), 2);  // halfwidth kana
    EXPECT_EQ(DisplayWidth::Of(u"ＡＢ"), 4);
    EXPECT_EQ(DisplayWidth::Of(u"か\u3099"), 2);
    EXPECT_EQ(DisplayWidth::Of(u"\U00020B9F"), 2);  // outside the BMP
    WString fitted = DisplayWidth::Fit(u"日本語のとても長いファイル名.txt", 11);
    EXPECT_LE(DisplayWidth::Of(fitted), 11);
    EXPECT_EQ(fitted.back(), u'~');
    EXPECT_EQ(DisplayWidth::Of(DisplayWidth::Pad(u"名前", 10)), 10);
}

// The live line of every stage fits the width it is given, down to a narrow terminal, with
// long Japanese names too, and says 検証済み once the receipt came.
TEST(CliText, LiveLinesFitTheirColumns) {
    TransferRow row;
    row.direction = TransferDirection::Sending;
    row.cells[kColumnName] =
        u"とても長い日本語の名前のファイルでございます_2026年12月10日版.tar.gz";
    row.fileSize = 1LL << 30;
    row.transferred = 400LL << 20;
    row.rate = 123456789;
    for (TransferStage stage :
         {TransferStage::Waiting, TransferStage::Running, TransferStage::Verifying,
          TransferStage::Verified, TransferStage::Failed}) {
        row.stage = stage;
        row.endText = stage == TransferStage::Failed ? u"内容が一致しませんでした" : u"";
        for (int columns : {79, 60, 40, 24}) {
            WString line = ProgressReport::LiveLine(row, columns);
            EXPECT_LE(DisplayWidth::Of(line), columns) << static_cast<int>(stage);
            EXPECT_EQ(line.find(u'\n'), WString::npos);
        }
    }
    row.stage = TransferStage::Running;
    WString running = ProgressReport::LiveLine(row, 79);
    EXPECT_NE(running.find(u"39%"), WString::npos) << ToUtf8(running);
    EXPECT_NE(running.find(u"MB/s"), WString::npos) << ToUtf8(running);
    row.stage = TransferStage::Verified;
    EXPECT_NE(ProgressReport::LiveLine(row, 79).find(u"検証済み"), WString::npos);
}

// JSON lines quote what a name may hold, and read back as they were written.
TEST(CliText, JsonLinesReadBack) {
    std::string text = JsonLine("end")
                           .Add("name", u"a\"b\\c\n日本")
                           .Add("size", std::int64_t{1} << 40)
                           .Add("verified", true)
                           .Text();
    ASSERT_EQ(text.back(), '\n');
    text.pop_back();
    auto object = ReadJsonObject(text);
    ASSERT_TRUE(object);
    EXPECT_EQ((*object)["event"], "end");
    EXPECT_EQ((*object)["name"], "a\"b\\c\n日本");
    EXPECT_EQ((*object)["size"], "1099511627776");
    EXPECT_EQ((*object)["verified"], "true");
}

// Targets: names, IPv4, IPv6 in brackets or bare, with and without a port; bad ones refused.
TEST(CliText, OptionsReadTargetsAndRefuseNonsense) {
    auto target = [](const std::string& text) {
        auto parsed = CliOptions::Parse({"connect", text});
        return parsed.options ? parsed.options->host + "|" + std::to_string(parsed.options->port)
                              : std::string("error");
    };
    EXPECT_EQ(target("example.org"), "example.org|1225");
    EXPECT_EQ(target("192.0.2.1:4000"), "192.0.2.1|4000");
    EXPECT_EQ(target("[2001:db8::1]:5000"), "2001:db8::1|5000");
    EXPECT_EQ(target("2001:db8::1"), "2001:db8::1|1225");
    EXPECT_EQ(target("host:0"), "error");
    EXPECT_EQ(target("host:70000"), "error");
    EXPECT_EQ(target("[::1"), "error");
    auto sends = CliOptions::Parse({"wait", "--send", "a", "b c", "--accept"});
    ASSERT_TRUE(sends.options);
    EXPECT_EQ(sends.options->sendPaths, (std::vector<std::string>{"a", "b c"}));
    EXPECT_TRUE(sends.options->accept);
    EXPECT_FALSE(CliOptions::Parse({"wait", "--retry", "3"}).options);
    EXPECT_FALSE(CliOptions::Parse({"wait", "--passphrase=x"}).options);
    EXPECT_FALSE(CliOptions::Parse({"listen"}).options);
}

}  // namespace
}  // namespace mirka::test
