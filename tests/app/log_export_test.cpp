#include "app/log_export.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "common/log_message.h"
#include "support/recorders.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSenderColor = 0x563412;  // red 0x12, green 0x34, blue 0x56

std::vector<LogRun> ChatLine(WStringView face, WStringView text) {
    CharFormat font = MakeChatFont(face, -210, kSenderColor);
    return BuildLogMessage(&font, text);
}

std::vector<LogRun> SampleLog() {
    std::vector<LogRun> runs = ChatLine(u"Arial", u"x の発言 (09:05:07): \r\nabc\r\n");
    for (auto& run : BuildLogMessage(nullptr, u"System Message: \r\n効果音処理: OFF\r\n")) {
        runs.push_back(run);
    }
    return runs;
}

std::set<std::string> FolderEntries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(LogExportTest, FormatFollowsTheExtension) {
    EXPECT_EQ(LogFormatForPath(u"/home/u/Log.TXT"), LogFileFormat::kPlainText);
    EXPECT_EQ(LogFormatForPath(u"log.txt"), LogFileFormat::kPlainText);
    EXPECT_EQ(LogFormatForPath(u"log.doc"), LogFileFormat::kRtf);
    EXPECT_EQ(LogFormatForPath(u"log.rtf"), LogFileFormat::kRtf);
    EXPECT_EQ(LogFormatForPath(u"log.txt.rtf"), LogFileFormat::kRtf);
    EXPECT_EQ(LogFormatForPath(u"log.txts"), LogFileFormat::kRtf);
    EXPECT_EQ(LogFormatForPath(u"log"), LogFileFormat::kRtf);
    EXPECT_EQ(LogFormatForPath(u"notes.txt/log"), LogFileFormat::kRtf);
}

TEST(LogExportTest, RtfKeepsFontsSizesColoursBoldAndIndents) {
    std::string rtf = LogToRtf(SampleLog());
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_EQ(rtf.substr(rtf.size() - 3), "}\r\n");
    for (char c : rtf) ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "RTF must be ASCII";

    // The log's face is font 0; the sender's face follows.
    EXPECT_NE(rtf.find("{\\f0\\fnil\\fcharset128 \\u-211?\\u-205? \\u-208?\\u12468?"),
              std::string::npos);
    EXPECT_NE(rtf.find("{\\f1\\fnil\\fcharset0 Arial;}"), std::string::npos);
    EXPECT_NE(rtf.find("{\\colortbl ;\\red18\\green52\\blue86;}"), std::string::npos);

    // Bold heading, 1 twip; the body in the sender's face, size (21 half points) and colour.
    EXPECT_NE(rtf.find("\\pard\\li1{\\f0\\fs20\\b x \\u12398?"), std::string::npos);
    EXPECT_NE(rtf.find("\\pard\\li200{\\f1\\fs21\\cf1 abc}\\par"), std::string::npos);
    // A system message's body keeps the default colour: no \cf.
    EXPECT_NE(rtf.find("\\pard\\li200{\\f0\\fs20 \\u21177?\\u26524?\\u-26637?\\u20966?\\u29702?: "
                       "OFF}\\par"),
              std::string::npos);
}

TEST(LogExportTest, RtfParagraphTakesTheIndentOfItsLastRun) {
    LogStyle body = DefaultBodyStyle();
    // A body without a final line break: the next heading joins its paragraph and, like a
    // paragraph format applied over it, sets that paragraph's indent.
    std::vector<LogRun> runs = {{u"a{b}\\c\td", body}, {u"H\r\n", HeadingStyle()}, {u"e", body}};
    std::string rtf = LogToRtf(runs);
    EXPECT_NE(rtf.find("\\pard\\li1{\\f0\\fs20 a\\{b\\}\\\\c\\tab d}{\\f0\\fs20\\b H}\\par\r\n"
                       "\\pard\\li200{\\f0\\fs20 e}\r\n}"),
              std::string::npos)
        << rtf;
}

TEST(LogExportTest, PlainTextIsUtf8WithCrLfBreaks) {
    LogStyle style = DefaultBodyStyle();
    // CR LF, LF, CR, and a CR LF pair split between two runs: four breaks.
    std::vector<LogRun> runs = {{u"a\r\n", style},
                                {u"b\n", style},
                                {u"c\r", style},
                                {u"\nd\r", style},
                                {u"\n日本\U0001F600", style}};
    EXPECT_EQ(LogToPlainText(runs),
              "\xEF\xBB\xBF"
              "a\r\nb\r\nc\r\nd\r\n日本\U0001F600");
    EXPECT_EQ(LogToPlainText({}), "\xEF\xBB\xBF");
}

// unrtf with an output personality that writes every \u character as &#N;.
std::string RunUnrtf(const fs::path& folder, const fs::path& rtf) {
    std::ofstream(folder / "mirkatext.conf")
        << "comment_begin\n\t<!--\ncomment_end\n\t-->\nbody_begin\n\t<BODY>\n"
           "fontsize_begin\n\t\nfontsize_end\n\t\nparagraph_end\n\t\n\t\n"
           "line_break\n\t\n\t\nunisymbol_print\n\t&#%;\n";
    std::string command = "/usr/bin/unrtf -P '" + folder.string() + "' -t mirkatext '" +
                          rtf.string() + "' 2>/dev/null";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    pclose(pipe);
    return output;
}

// The document text of unrtf's output, its &#N; entities turned back into UTF-16 units.
WString DocumentText(const std::string& output) {
    std::size_t body = output.find("<BODY>");
    if (body == std::string::npos) return u"(no body)";
    WString text;
    std::size_t at = body + 6;
    while (at < output.size()) {
        std::size_t entity = output.find("&#", at);
        std::size_t end = entity == std::string::npos ? entity : output.find(';', entity);
        if (end == std::string::npos) {
            text += FromUtf8(output.substr(at));
            break;
        }
        text += FromUtf8(output.substr(at, entity - at));
        text += static_cast<char16_t>(std::stoi(output.substr(entity + 2, end - entity - 2)));
        at = end + 1;
    }
    return text;
}

TEST(LogExportTest, RtfReadsBackInAnRtfReader) {
#ifdef _WIN32
    GTEST_SKIP() << "unrtf, the RTF reader this test runs, is a Linux program; the Linux build "
                    "reads the same document back";
#endif
    if (!fs::exists("/usr/bin/unrtf")) GTEST_SKIP() << "unrtf is not installed";
    test::TempFolder folder;
    LogDocument log;
    log.Append(ChatLine(u"Arial", u"x の発言 (09:05:07): \r\nabc {x} \\y\\ 日本語\r\n二行目\r\n"));
    // A peer's face name with RTF syntax in it must not break the document.
    log.Append(ChatLine(u"Bad}{\\;Face", u"y の発言 (10:00:00): \r\n\U0001F600 絵文字\r\n"));
    log.Append(BuildLogMessage(
        nullptr, u"SystemMessage:: \r\n切断要求命令を受信したため、切断しました\r\n"));
    fs::path file = folder.Path() / "ログ.rtf";
    ASSERT_TRUE(SaveLog(log, FromFsPath(file)));

    WString expected =
        u"x の発言 (09:05:07): \nabc {x} \\y\\ 日本語\n二行目\n"
        u"y の発言 (10:00:00): \n\U0001F600 絵文字\n"
        u"SystemMessage:: \n切断要求命令を受信したため、切断しました\n";
    EXPECT_EQ(DocumentText(RunUnrtf(folder.Path(), file)), expected);
}

TEST(LogExportTest, SaveWritesTheFormatOfTheName) {
    test::TempFolder folder;
    LogDocument log;
    log.Append(SampleLog());
    ASSERT_TRUE(SaveLog(log, folder.WithSeparator() + u"Log.TXT"));
    ASSERT_TRUE(SaveLog(log, folder.WithSeparator() + u"log.doc"));
    EXPECT_EQ(test::ReadFileText(folder.Path() / "Log.TXT"), LogToPlainText(log.Runs()));
    EXPECT_EQ(test::ReadFileText(folder.Path() / "log.doc"), LogToRtf(log.Runs()));
    EXPECT_EQ(FolderEntries(folder.Path()), (std::set<std::string>{"Log.TXT", "log.doc"}));
}

TEST(LogExportTest, SaveReplacesAnExistingFileWhole) {
    test::TempFolder folder;
    fs::path file = folder.Path() / "log.txt";
    std::ofstream(file) << std::string(100000, 'z');
    LogDocument log;
    log.Append(BuildLogMessage(nullptr, u"H\r\nshort\r\n"));
    ASSERT_TRUE(SaveLog(log, FromFsPath(file)));
    EXPECT_EQ(test::ReadFileText(file), "\xEF\xBB\xBFH\r\nshort\r\n");
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"log.txt"});
}

TEST(LogExportTest, FailedSaveLeavesNothingBehind) {
    test::TempFolder folder;
    LogDocument log;
    log.Append(SampleLog());

    // A missing folder: nothing is created, neither the folder nor a file.
    EXPECT_FALSE(SaveLog(log, FromFsPath(folder.Path() / "missing" / "log.rtf")));
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());

    // A folder under the chosen name cannot be replaced; no temporary file stays behind.
    fs::create_directory(folder.Path() / "taken.rtf");
    EXPECT_FALSE(SaveLog(log, FromFsPath(folder.Path() / "taken.rtf")));
    EXPECT_TRUE(fs::is_directory(folder.Path() / "taken.rtf"));
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"taken.rtf"});

    // A name that ends in a separator names no file.
    EXPECT_FALSE(SaveLog(log, folder.WithSeparator()));
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>{"taken.rtf"});
}

}  // namespace
}  // namespace mirka
