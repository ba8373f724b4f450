#include "app/profiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace mirka {
namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ProfilesTest : public ::testing::Test {
protected:
    void Open() {
        fields = LoginFields{};
        fields.serverPort = LoadServerPort(conf);
        LoadProfiles(profiles, fields, conf);
    }
    WString Stored(int slot, WStringView key) {
        ConfigFile config(conf);
        config.Load();
        return config.GetString(ProfileSection(slot), key, u"<missing>", 511);
    }

    test::TempFolder folder;
    std::filesystem::path conf = folder.Path() / "conf.txt";
    ProfileList profiles;
    LoginFields fields;
};

TEST_F(ProfilesTest, FirstOpeningShowsTheDefaults) {
    Open();
    EXPECT_TRUE(profiles.empty());
    EXPECT_TRUE(fields.comboItems.empty());
    EXPECT_EQ(fields.comboSelection, -1);
    EXPECT_EQ(fields.comboText, u"default");
    EXPECT_EQ(fields.ipText, u"127.0.0.1");
    EXPECT_EQ(fields.port, 1225u);
    EXPECT_EQ(fields.serverPort, 1225u);
    EXPECT_FALSE(std::filesystem::exists(conf));
}

// A client start that fails on the first run saves the profiles even so; closing the
// login window then writes nothing else.
TEST_F(ProfilesTest, FailedFirstClientStartLeavesProfileAndServerOnly) {
    Open();
    fields.ipText = u"192.0.2.1";
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_EQ(test::ReadFileText(conf),
              "[profile000]\r\nip=192.0.2.1\r\nname=default\r\nport=1225\r\n"
              "[server]\r\nport=1225\r\n");
    EXPECT_EQ(fields.comboItems, std::vector<WString>{u"default"});
}

TEST_F(ProfilesTest, LoadShowsTheFirstProfileAndSelectionShowsOthers) {
    WriteFile(conf,
              "[profile001]\nname=work\nip=10.0.0.2\nport=2000\n"
              "[profile000]\nname=home\nip=10.0.0.1\n"
              "[server]\nport=4000\n");
    Open();
    EXPECT_EQ(profiles, (ProfileList{{u"home", u"10.0.0.1", 1225}, {u"work", u"10.0.0.2", 2000}}));
    EXPECT_EQ(fields.comboItems, (std::vector<WString>{u"home", u"work"}));
    EXPECT_EQ(fields.comboSelection, 0);
    EXPECT_EQ(fields.comboText, u"home");
    EXPECT_EQ(fields.ipText, u"10.0.0.1");
    EXPECT_EQ(fields.port, 1225u);
    EXPECT_EQ(fields.serverPort, 4000u);

    SelectProfile(profiles, fields, 1);
    EXPECT_EQ(fields.comboText, u"work");
    EXPECT_EQ(fields.ipText, u"10.0.0.2");
    EXPECT_EQ(fields.port, 2000u);
}

TEST_F(ProfilesTest, SlotsRunFrom000To998) {
    WriteFile(conf,
              "[profile999]\nname=never\n[profile1000]\nname=never either\n"
              "[profile998]\nname=last\n[profile500]\nip=no name\n[profile7]\nname=odd\n");
    Open();
    EXPECT_EQ(profiles, (ProfileList{{u"last", u"", 1225}}));
}

// Saving moves the profiles of slots 000 and 005 to 000 and 001 and leaves 005 as it was;
// that stale copy is not shown a second time.
TEST_F(ProfilesTest, GapsAreClosedOnSaveAndTheLeftCopyIsNotReadTwice) {
    WriteFile(conf,
              "[profile000]\nname=home\nip=10.0.0.1\nport=1\n"
              "[profile005]\nname=work\nip=10.0.0.5\nport=5\n");
    Open();
    ASSERT_EQ(profiles.size(), 2u);
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_EQ(test::ReadFileText(conf),
              "[profile000]\r\nip=10.0.0.1\r\nname=home\r\nport=1\r\n"
              "[profile001]\r\nip=10.0.0.5\r\nname=work\r\nport=5\r\n"
              "[profile005]\r\nip=10.0.0.5\r\nname=work\r\nport=5\r\n"
              "[server]\r\nport=1225\r\n");

    for (int run = 0; run < 3; ++run) {
        Open();
        EXPECT_EQ(profiles.size(), 2u);
        ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    }
    EXPECT_EQ(Stored(2, u"name"), u"<missing>");
}

TEST_F(ProfilesTest, KnownNameUpdatesInPlaceAndNewNameAppends) {
    WriteFile(conf, "[profile000]\nname=home\nip=a\n[profile001]\nname=work\nip=b\n");
    Open();
    SelectProfile(profiles, fields, 1);
    fields.ipText = u"changed";
    fields.port = 3000;
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_EQ(profiles, (ProfileList{{u"home", u"a", 1225}, {u"work", u"changed", 3000}}));
    EXPECT_EQ(Stored(1, u"ip"), u"changed");

    // Names compare exactly: "Work" is a new profile.
    fields.comboText = u"Work";
    fields.ipText = u"c";
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[2], (ConnectionProfile{u"Work", u"c", 3000}));
    EXPECT_EQ(fields.comboItems, (std::vector<WString>{u"home", u"work", u"Work"}));
    EXPECT_EQ(Stored(2, u"name"), u"Work");
    EXPECT_EQ(Stored(1, u"ip"), u"changed");
}

TEST_F(ProfilesTest, ProfilePortKeepsLow16BitsServerPortIsSavedAsTyped) {
    Open();
    fields.port = 65536 + 80;
    fields.serverPort = 70000;
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_EQ(profiles[0].port, 80);
    EXPECT_EQ(Stored(0, u"port"), u"80");
    ConfigFile config(conf);
    config.Load();
    EXPECT_EQ(config.GetString(u"server", u"port", u"", 20), u"70000");
    EXPECT_EQ(LoadServerPort(conf), 70000u);

    // Beyond 31 bits it is written as the signed number and comes back unchanged.
    fields.serverPort = 4294967295u;
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_EQ(LoadServerPort(conf), 4294967295u);
}

// The longest IPv6 text (45 characters) with a zone of the longest interface name, in
// brackets: well within the field, stored and read back as typed.
TEST_F(ProfilesTest, LongestIPv6LiteralWithZoneComesBackUnchanged) {
    const WString literal = u"[2001:0db8:ffff:ffff:ffff:ffff:255.255.255.255%enx0123456789ab]";
    Open();
    fields.comboText = u"v6";
    fields.ipText = literal;
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_NE(test::ReadFileText(conf).find(
                  "ip=[2001:0db8:ffff:ffff:ffff:ffff:255.255.255.255%enx0123456789ab]\r\n"),
              std::string::npos);
    Open();
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].ipText, literal);
    EXPECT_EQ(fields.ipText, literal);
}

TEST_F(ProfilesTest, TextsAreCutTo511Characters) {
    Open();
    fields.comboText = WString(600, u'n');
    fields.ipText = WString(600, u'i');
    ASSERT_TRUE(SaveProfiles(profiles, fields, conf));
    EXPECT_EQ(profiles.back().name, WString(511, u'n'));
    EXPECT_EQ(profiles.back().ipText, WString(511, u'i'));
    Open();
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].name, WString(511, u'n'));
}

}  // namespace
}  // namespace mirka
