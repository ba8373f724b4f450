#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "app/setting_table.h"

// Saved connection targets ("profile000" to "profile998" in "conf.txt") and the server port,
// worked on a plain model of the login window's fields so the logic needs no widgets.
namespace mirka {

inline constexpr auto kDefaultPort =
    static_cast<std::uint16_t>(SettingOf(SettingId::kServerPort).defaultNumber);
inline constexpr char16_t kDefaultProfileName[] = u"default";
inline constexpr char16_t kDefaultProfileIp[] = u"127.0.0.1";

struct ConnectionProfile {
    WString name;
    WString ipText;
    std::uint16_t port = kDefaultPort;

    bool operator==(const ConnectionProfile&) const = default;
};

// In the order of the slots read, then the ones added during this run. The program owns
// one for its whole life; the login window rebuilds it each time it opens.
using ProfileList = std::vector<ConnectionProfile>;

// What the login window shows: the unsorted combo box (item n is list entry n), its
// selection and edit text, the IP field and the two port fields as unsigned numbers the
// way the user typed them.
struct LoginFields {
    std::vector<WString> comboItems;
    int comboSelection = -1;
    WString comboText;
    WString ipText;
    std::uint32_t port = 0;
    std::uint32_t serverPort = 0;
};

// Rebuilds the list and the combo box from the file and shows the first profile, or the
// defaults when there is none. A slot whose name repeats an earlier one is skipped.
void LoadProfiles(ProfileList& profiles, LoginFields& fields,
                  const std::filesystem::path& configFile = ConfigFilePath());

// Updates the profile named in the combo box in place, or appends a new one, then merges
// all profiles (to the slots of their list positions) and the server port into the file.
// The callers do not report a failure; the result is for tests.
bool SaveProfiles(ProfileList& profiles, LoginFields& fields,
                  const std::filesystem::path& configFile = ConfigFilePath());

// A selection in the combo box: shows that profile's name, IP text and port.
void SelectProfile(const ProfileList& profiles, LoginFields& fields, int index);

// The server port field's starting value ("server" "port", 1225 when missing).
std::uint32_t LoadServerPort(const std::filesystem::path& configFile = ConfigFilePath());

}  // namespace mirka
