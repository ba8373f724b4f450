#include "app/settings.h"

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "app/profiles.h"
#include "common/debug_log.h"
#include "support/scoped_locale.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(locale.Active()); }

    test::ScopedLocale locale = test::NarrowUtf8Locale();
    test::TempFolder folder;
    std::filesystem::path conf = folder.Path() / "conf.txt";
};

TEST_F(SettingsTest, MissingFileGivesBuiltInValuesAndWritesNothing) {
    ProgramValues values;
    values.SetUserName(u"someone");
    values.SetReceiveFolder(u"/tmp/");
    LoadSettings(values, conf);
    EXPECT_EQ(values.UserName(), u"名無しさんだよもん");
    EXPECT_EQ(values.ReceiveFolder(), u"");
    EXPECT_EQ(values.ChatFont(), MakeChatFont(u"ＭＳ Ｐゴシック", -210, 0));
    EXPECT_FALSE(std::filesystem::exists(conf));
}

// A first run as server with the fields untouched: login window, talk window, shutdown.
TEST_F(SettingsTest, FirstRunWritesExactlyTheBuiltInFile) {
    ProgramValues values;
    LoadSettings(values, conf);
    ProfileList profiles;
    LoginFields fields;
    fields.serverPort = LoadServerPort(conf);
    LoadProfiles(profiles, fields, conf);
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    ASSERT_TRUE(SaveSettings(values, conf));
    EXPECT_EQ(test::ReadFileText(conf),
              "[font]\r\n"
              "color=0\r\n"
              "name=\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83"
              "\xE3\x82\xAF\r\n"
              "size=-210\r\n"
              "[main]\r\n"
              "name=\xE5\x90\x8D\xE7\x84\xA1\xE3\x81\x97\xE3\x81\x95\xE3\x82\x93\xE3\x81\xA0"
              "\xE3\x82\x88\xE3\x82\x82\xE3\x82\x93\r\n"
              "receive_path=\r\n"
              "[profile000]\r\n"
              "ip=127.0.0.1\r\n"
              "name=default\r\n"
              "port=1225\r\n"
              "[server]\r\n"
              "port=1225\r\n");
}

// Values are cut to their fields; a size that is not a number reads as 0.
TEST_F(SettingsTest, LoadReadsAndCutsEveryValue) {
    std::string longFace(40, 'F');
    std::string longName(150, 'n');
    std::string longPath(300, 'p');
    WriteFile(conf, "[font]\r\nname=" + longFace +
                        "\r\nsize=big\r\ncolor=16711680\r\n[main]\r\nname=" + longName +
                        "\r\nreceive_path=" + longPath + "\r\n");
    ProgramValues values;
    LoadSettings(values, conf);
    CharFormat font = values.ChatFont();
    EXPECT_EQ(font, MakeChatFont(WString(31, u'F'), 0, 0xFF0000));
    EXPECT_EQ(values.UserName(), WString(100, u'n'));
    EXPECT_EQ(values.ReceiveFolder(), WString(259, u'p'));
}

// " name " with blanks is a key of its own: the user name keeps its built-in value, and
// the odd key survives the next save.
TEST_F(SettingsTest, KeyWithBlanksIsNotTheNameKey) {
    WriteFile(conf, "[main]\r\nname = Taro\r\n");
    ProgramValues values;
    LoadSettings(values, conf);
    EXPECT_EQ(values.UserName(), u"名無しさんだよもん");
    ASSERT_TRUE(SaveSettings(values, conf));
    ConfigFile config(conf);
    ASSERT_TRUE(config.Load());
    EXPECT_EQ(config.GetString(u"main", u"name ", u"", 100), u" Taro");
}

TEST_F(SettingsTest, SaveMergesIntoAnOutOfOrderFile) {
    WriteFile(conf,
              "[zzz]\nmine=1\n[profile000]\nport=80\nname=home\nip=example.org\n"
              "[main]\nextra=kept\nname=old\n");
    ProgramValues values;
    values.SetUserName(u"new");
    values.SetChatFont(MakeChatFont(u"Face", -120, 0x00FF00));
    ASSERT_TRUE(SaveSettings(values, conf));
    EXPECT_EQ(test::ReadFileText(conf),
              "[font]\r\ncolor=65280\r\nname=Face\r\nsize=-120\r\n"
              "[main]\r\nextra=kept\r\nname=new\r\nreceive_path=\r\n"
              "[profile000]\r\nip=example.org\r\nname=home\r\nport=80\r\n"
              "[zzz]\r\nmine=1\r\n");
}

TEST_F(SettingsTest, JapaneseValuesRoundTrip) {
    ProgramValues saved;
    saved.SetUserName(u"山田太郎");
    saved.SetReceiveFolder(u"/home/山田/受信/");
    saved.SetChatFont(MakeChatFont(u"ＭＳ 明朝", -90, 0x123456));
    ASSERT_TRUE(SaveSettings(saved, conf));
    ProgramValues loaded;
    LoadSettings(loaded, conf);
    EXPECT_EQ(loaded.UserName(), u"山田太郎");
    EXPECT_EQ(loaded.ReceiveFolder(), u"/home/山田/受信/");
    EXPECT_EQ(loaded.ChatFont(), saved.ChatFont());
}

// LANG naming a locale the machine lacks leaves the C library in "C": the settings file
// and the debug log then hold UTF-8 and keep every Japanese character.
TEST_F(SettingsTest, CLocaleRoundTripKeepsJapanese) {
    test::ScopedLocale c({"C"});
    ASSERT_TRUE(c.Active());
    ProgramValues saved;
    saved.SetUserName(u"山田 Taro");
    saved.SetReceiveFolder(u"/home/山田/受信/");
    ASSERT_TRUE(SaveSettings(saved, conf));
    std::string bytes = test::ReadFileText(conf);
    EXPECT_NE(bytes.find("name=\xe5\xb1\xb1\xe7\x94\xb0 Taro\r\n"), std::string::npos) << bytes;
    ProgramValues loaded;
    LoadSettings(loaded, conf);
    EXPECT_EQ(loaded.UserName(), u"山田 Taro");
    EXPECT_EQ(loaded.ReceiveFolder(), u"/home/山田/受信/");
    EXPECT_EQ(loaded.ChatFont().Face(), u"ＭＳ Ｐゴシック");

    std::filesystem::path log = folder.Path() / "debug.txt";
    DebugLog::Instance().Open(log);
    WriteDebugLog("main", 7, "start");
    DebugLog::Instance().Close();
    EXPECT_NE(test::ReadFileText(log).find("7行目: start"), std::string::npos);
}

// An installed program keeps conf.txt in its settings folder and receives into the
// download folder until the user picks one.
TEST_F(SettingsTest, SettingsPlaceOfAnInstalledProgram) {
    SetSettingsPlace(folder.Path(), u"/home/me/Downloads/");
    EXPECT_EQ(ConfigFilePath(), conf);
    ProgramValues values;
    LoadSettings(values);
    EXPECT_EQ(values.ReceiveFolder(), u"/home/me/Downloads/");
    ASSERT_TRUE(SaveReceiveFolder(u"", conf));
    EXPECT_EQ(LoadReceiveFolder(), u"/home/me/Downloads/");
    ASSERT_TRUE(SaveReceiveFolder(u"/data/", conf));
    LoadSettings(values);
    EXPECT_EQ(values.ReceiveFolder(), u"/data/");
    SetSettingsPlace({}, u"");
    EXPECT_EQ(ConfigFilePath(), std::filesystem::path("conf.txt"));
}

TEST_F(SettingsTest, ReceiveFolderIsStoredAtOnce) {
    WriteFile(conf, "[main]\r\nname=me\r\n");
    ASSERT_TRUE(SaveReceiveFolder(u"/data/", conf));
    EXPECT_EQ(test::ReadFileText(conf), "[main]\r\nname=me\r\nreceive_path=/data/\r\n");
    EXPECT_EQ(LoadReceiveFolder(conf), u"/data/");
}

}  // namespace
}  // namespace mirka
