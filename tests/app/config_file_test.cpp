#include "app/config_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace mirka {
namespace {

using Keys = ConfigFile::Keys;

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ConfigFileTest : public ::testing::Test {
protected:
    ConfigFile Loaded(const std::string& bytes) {
        WriteFile(conf, bytes);
        ConfigFile config(conf);
        EXPECT_TRUE(config.Load());
        return config;
    }

    test::TempFolder folder;
    std::filesystem::path conf = folder.Path() / "conf.txt";
};

TEST_F(ConfigFileTest, ParsesTheLineGrammar) {
    ConfigFile config = Loaded(
        "top=1\r\n"
        "\r\n"
        "[b]trailing text\r\n"
        "k=v=w\n"
        "no equals sign\r\n"
        " key = value \r\n"
        "Key=upper\r\n"
        "k=later\r\n"
        "=empty key\r\r\n"
        "[a]\n"
        "x=1\n"
        "[b]\n"
        "merged=yes");
    ConfigFile::Sections expected{
        {u"", Keys{{u"top", u"1"}}},
        {u"a", Keys{{u"x", u"1"}}},
        {u"b", Keys{{u"k", u"later"},
                    {u" key ", u" value "},
                    {u"Key", u"upper"},
                    {u"", u"empty key\r"},
                    {u"merged", u"yes"}}},
    };
    EXPECT_EQ(config.Content(), expected);
}

// A header without "]" takes the rest of the line as its name, so its entries cannot
// override those of the section before it.
TEST_F(ConfigFileTest, HeaderWithoutClosingBracketNamesTheRestOfTheLine) {
    ConfigFile config = Loaded("[profile000]\nname=home\n[profile001\nname=work\n");
    EXPECT_EQ(config.GetString(u"profile000", u"name", u"", 511), u"home");
    EXPECT_EQ(config.GetString(u"profile001", u"name", u"", 511), u"work");
}

TEST_F(ConfigFileTest, LongLinesAreReadInPiecesOf2047Units) {
    std::string value(kConfigPieceUnits - 2, 'x');
    ConfigFile config =
        Loaded("[s]\r\nk=" + value + "n=v\r\nlong=" + std::string(3000, 'y') + "\r\n");
    const Keys& keys = config.Content().at(u"s");
    EXPECT_EQ(keys.at(u"k"), WString(value.size(), u'x'));
    EXPECT_EQ(keys.at(u"n"), u"v");
    // The second piece of "long" holds no "=" and is dropped.
    EXPECT_EQ(keys.at(u"long").size(), kConfigPieceUnits - 5);
    EXPECT_EQ(keys.size(), 3u);
}

TEST_F(ConfigFileTest, SaveWritesSortedByCodeUnitsWithCrLf) {
    ConfigFile config = Loaded("[zeta]\nb=2\na=1\n[]\n[Alpha]\n[alpha]\nk=v\n=top\n");
    config.SetString(u"profile010", u"name", u"ten");
    config.SetString(u"profile009", u"name", u"nine");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(test::ReadFileText(conf),
              "[]\r\n"
              "[Alpha]\r\n"
              "[alpha]\r\n"
              "=top\r\n"
              "k=v\r\n"
              "[profile009]\r\nname=nine\r\n"
              "[profile010]\r\nname=ten\r\n"
              "[zeta]\r\na=1\r\nb=2\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "conf.txt.new"));
}

TEST_F(ConfigFileTest, MissingFileLoadsEmptyAndSaveCreatesIt) {
    ConfigFile config(conf);
    EXPECT_FALSE(config.Load());
    EXPECT_TRUE(config.Content().empty());
    EXPECT_EQ(config.GetString(u"main", u"name", u"fallback", 100), u"fallback");
    config.SetInt(u"server", u"port", -5);
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(test::ReadFileText(conf), "[server]\r\nport=-5\r\n");
}

TEST_F(ConfigFileTest, GetStringCutsToItsLimit) {
    ConfigFile config = Loaded("[s]\nk=abcdef\nempty=\n");
    EXPECT_EQ(config.GetString(u"s", u"k", u"", 3), u"abc");
    EXPECT_EQ(config.GetString(u"s", u"k", u"", 100), u"abcdef");
    EXPECT_EQ(config.GetString(u"s", u"empty", u"default", 100), u"");
    EXPECT_EQ(config.GetString(u"s", u"missing", u"default", 4), u"defa");
    EXPECT_EQ(config.GetString(u"other", u"k", u"default", 100), u"default");
    config.SetString(u"s", u"pair", u"a\U0001F600");
    EXPECT_EQ(config.GetString(u"s", u"pair", u"", 2), u"a");  // never half a pair
}

TEST_F(ConfigFileTest, GetIntReadsDecimalsLeniently) {
    ConfigFile config = Loaded(
        "[n]\nplain=42\nblanks= \t 17\nsigned=-7x\nplus=+5\nempty=\nword=abc\n"
        "spaced=- 3\nhuge=99999999999\ntiny=-99999999999\nmin=-2147483648\n");
    EXPECT_EQ(config.GetInt(u"n", u"plain", 1), 42);
    EXPECT_EQ(config.GetInt(u"n", u"blanks", 1), 17);
    EXPECT_EQ(config.GetInt(u"n", u"signed", 1), -7);
    EXPECT_EQ(config.GetInt(u"n", u"plus", 1), 5);
    EXPECT_EQ(config.GetInt(u"n", u"empty", 1), 0);
    EXPECT_EQ(config.GetInt(u"n", u"word", 1), 0);
    EXPECT_EQ(config.GetInt(u"n", u"spaced", 1), 0);
    EXPECT_EQ(config.GetInt(u"n", u"huge", 1), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(config.GetInt(u"n", u"tiny", 1), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(config.GetInt(u"n", u"min", 1), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(config.GetInt(u"n", u"missing", 1225), 1225);
    EXPECT_EQ(config.GetInt(u"none", u"plain", 1225), 1225);
}

// A line break inside a value would come back as lines of their own (a user name could
// then plant sections), so only the first line is kept.
TEST_F(ConfigFileTest, SetStringKeepsOneLine) {
    ConfigFile config(conf);
    config.SetString(u"main", u"name", u"me\r\n[profile000]\r\nname=evil");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(test::ReadFileText(conf), "[main]\r\nname=me\r\n");
}

TEST_F(ConfigFileTest, FailedSaveKeepsThePreviousFile) {
    const std::string previous = "[main]\r\nname=old\r\n";
    ConfigFile config = Loaded(previous);
    config.SetString(u"main", u"name", u"new");

    // The new file cannot be created.
    std::filesystem::create_directory(folder.Path() / "conf.txt.new");
    EXPECT_FALSE(config.Save());
    EXPECT_EQ(test::ReadFileText(conf), previous);
    std::filesystem::remove(folder.Path() / "conf.txt.new");

#ifdef __linux__
    // The disk fills up while writing.
    std::filesystem::create_symlink("/dev/full", folder.Path() / "conf.txt.new");
    EXPECT_FALSE(config.Save());
    EXPECT_EQ(test::ReadFileText(conf), previous);
    EXPECT_FALSE(std::filesystem::is_symlink(folder.Path() / "conf.txt.new"));
#endif

    // The folder itself is gone.
    ConfigFile nowhere(folder.Path() / "missing" / "conf.txt");
    nowhere.SetString(u"a", u"b", u"c");
    EXPECT_FALSE(nowhere.Save());

    EXPECT_TRUE(config.Save());
    EXPECT_EQ(test::ReadFileText(conf), "[main]\r\nname=new\r\n");
}

TEST_F(ConfigFileTest, FolderNamedLikeTheFileFailsQuietly) {
    std::filesystem::create_directory(conf);
    ConfigFile config(conf);
    EXPECT_FALSE(config.Load());
    config.SetString(u"main", u"name", u"me");
    EXPECT_FALSE(config.Save());
    EXPECT_TRUE(std::filesystem::is_directory(conf));
}

}  // namespace
}  // namespace mirka
