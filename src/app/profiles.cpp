#include "app/profiles.h"

#include <algorithm>
#include <cstdio>

namespace mirka {
namespace {

constexpr std::size_t kProfileTextLimit = 511;

}  // namespace

WString ProfileSection(int slot) {
    char name[32];
    std::snprintf(name, sizeof name, "profile%03d", slot);
    return WString(name, name + std::char_traits<char>::length(name));
}

void LoadProfiles(ProfileList& profiles, LoginFields& fields,
                  const std::filesystem::path& configFile) {
    profiles.clear();
    fields.comboItems.clear();
    fields.comboSelection = -1;
    ConfigFile config(configFile);
    config.Load();
    for (int slot = 0; slot < kProfileSlots; ++slot) {
        WString section = ProfileSection(slot);
        ConnectionProfile profile;
        profile.name = config.GetString(section, u"name", u"", kProfileTextLimit);
        if (profile.name.empty()) continue;
        // Saving moves profiles to the slots of their list positions and leaves a slot
        // behind a gap as it was; reading that copy again would add the profile once more
        // on every start.
        auto sameName = [&](const ConnectionProfile& p) { return p.name == profile.name; };
        if (std::any_of(profiles.begin(), profiles.end(), sameName)) continue;
        profile.ipText = config.GetString(section, u"ip", u"", kProfileTextLimit);
        profile.port = static_cast<std::uint16_t>(config.GetInt(section, u"port", kDefaultPort));
        fields.comboItems.push_back(profile.name);
        profiles.push_back(std::move(profile));
    }
    if (!profiles.empty()) {
        SelectProfile(profiles, fields, 0);
    } else {
        fields.ipText = kDefaultProfileIp;
        fields.port = kDefaultPort;
        fields.comboText = kDefaultProfileName;
    }
}

bool SaveProfiles(ProfileList& profiles, LoginFields& fields,
                  const std::filesystem::path& configFile) {
    WString name = FitField(fields.comboText, kProfileTextLimit + 1);
    WString ip = FitField(fields.ipText, kProfileTextLimit + 1);
    auto port = static_cast<std::uint16_t>(fields.port);
    auto known = std::find_if(profiles.begin(), profiles.end(),
                              [&](const ConnectionProfile& p) { return p.name == name; });
    if (known != profiles.end()) {
        known->ipText = ip;
        known->port = port;
    } else {
        profiles.push_back({name, ip, port});
        fields.comboItems.push_back(name);
    }

    ConfigFile config(configFile);
    config.Load();
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        WString section = ProfileSection(static_cast<int>(i));
        config.SetString(section, u"name", profiles[i].name);
        config.SetString(section, u"ip", profiles[i].ipText);
        config.SetInt(section, u"port", profiles[i].port);
    }
    config.SetInt(u"server", u"port", static_cast<std::int32_t>(fields.serverPort));
    return config.Save();
}

void SelectProfile(const ProfileList& profiles, LoginFields& fields, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= profiles.size()) return;
    const ConnectionProfile& profile = profiles[static_cast<std::size_t>(index)];
    fields.comboSelection = index;
    fields.comboText = profile.name;
    fields.ipText = profile.ipText;
    fields.port = profile.port;
}

std::uint32_t LoadServerPort(const std::filesystem::path& configFile) {
    ConfigFile config(configFile);
    config.Load();
    return static_cast<std::uint32_t>(config.GetInt(u"server", u"port", kDefaultPort));
}

}  // namespace mirka
