#include "app/profiles.h"

#include <algorithm>

namespace mirka {
namespace {

WString CutToLimit(WStringView text, SettingId id) {
    return FitField(text, SettingOf(id).limit + 1);
}

}  // namespace

void LoadProfiles(ProfileList& profiles, LoginFields& fields,
                  const std::filesystem::path& configFile) {
    profiles.clear();
    fields.comboItems.clear();
    fields.comboSelection = -1;
    SettingsFile file(configFile);
    for (int slot = 0; slot < kProfileSlots; ++slot) {
        ConnectionProfile profile;
        profile.name = file.Text(SettingId::kProfileName, slot);
        if (profile.name.empty()) continue;
        // Saving moves profiles to the slots of their list positions and leaves a slot
        // behind a gap as it was; reading that copy again would add the profile once more
        // on every start.
        auto sameName = [&](const ConnectionProfile& p) { return p.name == profile.name; };
        if (std::any_of(profiles.begin(), profiles.end(), sameName)) continue;
        profile.ipText = file.Text(SettingId::kProfileIp, slot);
        profile.port = static_cast<std::uint16_t>(file.Number(SettingId::kProfilePort, slot));
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
    // The fields are cut the way the file is read, so the list matches the next load.
    WString name = CutToLimit(fields.comboText, SettingId::kProfileName);
    WString ip = CutToLimit(fields.ipText, SettingId::kProfileIp);
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

    SettingsFile file(configFile);
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        int slot = static_cast<int>(i);
        file.SetText(SettingId::kProfileName, profiles[i].name, slot);
        file.SetText(SettingId::kProfileIp, profiles[i].ipText, slot);
        file.SetNumber(SettingId::kProfilePort, profiles[i].port, slot);
    }
    file.SetNumber(SettingId::kServerPort, static_cast<std::int32_t>(fields.serverPort));
    return file.Save();
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
    return static_cast<std::uint32_t>(SettingsFile(configFile).Number(SettingId::kServerPort));
}

}  // namespace mirka
