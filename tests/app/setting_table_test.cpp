#include "app/setting_table.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/profiles.h"
#include "app/send_pace.h"
#include "app/settings.h"
#include "support/scoped_locale.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

class SettingTableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(locale.Active()); }

    void OpenLogin() {
        fields = LoginFields{};
        fields.serverPort = LoadServerPort(conf);
        LoadProfiles(profiles, fields, conf);
    }

    test::ScopedLocale locale = test::NarrowUtf8Locale();
    test::TempFolder folder;
    std::filesystem::path conf = folder.Path() / "conf.txt";
    ProfileList profiles;
    LoginFields fields;
};

// Every path that writes the file, with values away from the built-in ones. The expected
// text is what the program wrote before the settings were gathered into one table.
TEST_F(SettingTableTest, EverySaveWritesTheSameBytesAndReadsBack) {
    ProgramValues values;
    values.SetUserName(u"山田 = Taro");
    values.SetReceiveFolder(u"/home/山田/受信/");
    values.SetChatFont(MakeChatFont(u"IPAゴシック", -90, 0x80123456));
    ASSERT_TRUE(SaveSettings(values, conf));
    OpenLogin();
    fields.comboText = u"home";
    fields.ipText = u"192.0.2.7";
    fields.port = 65536 + 2000;
    fields.serverPort = 4294967295u;
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    fields.comboText = u"work";
    fields.ipText = u"example.org";
    fields.port = 8080;
    fields.serverPort = 70000;
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    ASSERT_TRUE(SaveSendPace(SendPace{0, 1048576}, conf));
    ASSERT_TRUE(SaveReceiveFolder(u"/data/受信/", conf));

    EXPECT_EQ(test::ReadFileText(conf),
              "[font]\r\n"
              "color=-2146290602\r\n"
              "name=IPA\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF\r\n"
              "size=-90\r\n"
              "[main]\r\n"
              "name=\xE5\xB1\xB1\xE7\x94\xB0 = Taro\r\n"
              "receive_path=/data/\xE5\x8F\x97\xE4\xBF\xA1/\r\n"
              "[profile000]\r\n"
              "ip=192.0.2.7\r\n"
              "name=home\r\n"
              "port=2000\r\n"
              "[profile001]\r\n"
              "ip=example.org\r\n"
              "name=work\r\n"
              "port=8080\r\n"
              "[send]\r\n"
              "bufsize=1048576\r\n"
              "wait=0\r\n"
              "[server]\r\n"
              "port=70000\r\n");

    ProgramValues loaded;
    LoadSettings(loaded, conf);
    EXPECT_EQ(loaded.UserName(), u"山田 = Taro");
    EXPECT_EQ(loaded.ReceiveFolder(), u"/data/受信/");
    EXPECT_EQ(loaded.ChatFont(), values.ChatFont());
    OpenLogin();
    EXPECT_EQ(profiles,
              (ProfileList{{u"home", u"192.0.2.7", 2000}, {u"work", u"example.org", 8080}}));
    EXPECT_EQ(fields.serverPort, 70000u);
    EXPECT_EQ(LoadSendPace(conf), (SendPace{0, 1048576}));
}

// Values beyond their limits are cut or wrapped the way the program always read them:
// texts to their read limits, 16-bit numbers to their low bits, others saturate at 32 bits.
TEST_F(SettingTableTest, OutOfLimitValuesReadAsBefore) {
    std::ofstream(conf, std::ios::binary)
        << "[font]\r\nname=" << std::string(40, 'F') << "\r\nsize=  -12pt\r\ncolor=\r\n"
        << "[main]\r\nname=" << std::string(150, 'n')
        << "\r\nreceive_path=" << std::string(300, 'p') << "\r\n"
        << "[profile000]\r\nname=" << std::string(600, 'a') << "\r\nip=" << std::string(600, 'i')
        << "\r\nport=70000\r\n"
        << "[profile001]\r\nname=b=c\r\n"
        << "[send]\r\nwait=65537\r\nbufsize=99999999999\r\n"
        << "[server]\r\nport=-5\r\n";
    ProgramValues values;
    LoadSettings(values, conf);
    EXPECT_EQ(values.ChatFont(), MakeChatFont(WString(31, u'F'), -12, 0));
    EXPECT_EQ(values.UserName(), WString(100, u'n'));
    EXPECT_EQ(values.ReceiveFolder(), WString(259, u'p'));
    OpenLogin();
    EXPECT_EQ(profiles,
              (ProfileList{{WString(511, u'a'), WString(511, u'i'), 4464}, {u"b=c", u"", 1225}}));
    EXPECT_EQ(fields.serverPort, 4294967291u);
    EXPECT_EQ(LoadSendPace(conf), (SendPace{1, 2147483647}));
}

// The values a run holds before the file is read, and the pace the dialog offers first,
// are the table's; no two rows share an entry.
TEST(SettingTable, StartingValuesAreTheTablesAndEntriesAreDistinct) {
    auto text = [](SettingId id) { return WString(SettingOf(id).defaultText); };
    auto number = [](SettingId id) { return SettingOf(id).defaultNumber; };
    ProgramValues values;
    EXPECT_EQ(values.UserName(), text(SettingId::kUserName));
    EXPECT_EQ(values.ChatFont(),
              MakeChatFont(text(SettingId::kFontName), number(SettingId::kFontSize),
                           static_cast<std::uint32_t>(number(SettingId::kFontColor))));
    EXPECT_EQ(SendPaceChoices().front().pace,
              (SendPace{static_cast<std::uint16_t>(number(SettingId::kSendWait)),
                        number(SettingId::kSendBufSize)}));
    for (const Setting& a : kSettingTable) {
        for (const Setting& b : kSettingTable) {
            bool same = &a != &b && a.section == b.section && a.key == b.key;
            EXPECT_FALSE(same) << ToUtf8(a.key);
        }
    }
}

}  // namespace
}  // namespace mirka
