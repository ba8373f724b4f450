#include "app/settings.h"

#include "app/setting_table.h"

namespace mirka {

void LoadSettings(ProgramValues& values, const std::filesystem::path& configFile) {
    SettingsFile file(configFile);
    values.SetChatFont(
        MakeChatFont(file.Text(SettingId::kFontName), file.Number(SettingId::kFontSize),
                     static_cast<std::uint32_t>(file.Number(SettingId::kFontColor))));
    values.SetUserName(file.Text(SettingId::kUserName));
    WString folder = file.Text(SettingId::kReceivePath);
    values.SetReceiveFolder(folder.empty() ? DefaultReceiveFolder() : folder);
}

bool SaveSettings(const ProgramValues& values, const std::filesystem::path& configFile) {
    SettingsFile file(configFile);
    CharFormat font = values.ChatFont();
    file.SetText(SettingId::kFontName, font.Face());
    file.SetNumber(SettingId::kFontSize, font.height);
    file.SetNumber(SettingId::kFontColor, static_cast<std::int32_t>(font.color));
    file.SetText(SettingId::kUserName, values.UserName());
    file.SetText(SettingId::kReceivePath, values.ReceiveFolder());
    return file.Save();
}

bool SaveReceiveFolder(WStringView folder, const std::filesystem::path& configFile) {
    SettingsFile file(configFile);
    file.SetText(SettingId::kReceivePath, folder);
    return file.Save();
}

WString LoadReceiveFolder(const std::filesystem::path& configFile) {
    WString folder = SettingsFile(configFile).Text(SettingId::kReceivePath);
    return folder.empty() ? DefaultReceiveFolder() : folder;
}

}  // namespace mirka
