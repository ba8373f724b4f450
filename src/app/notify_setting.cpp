#include "app/notify_setting.h"

#include "app/setting_table.h"

namespace mirka {

bool LoadNotifyArrivals(const std::filesystem::path& configFile) {
    return SettingsFile(configFile).Number(SettingId::kNotifyArrivals) != 0;
}

bool SaveNotifyArrivals(bool on, const std::filesystem::path& configFile) {
    SettingsFile file(configFile);
    file.SetNumber(SettingId::kNotifyArrivals, on ? 1 : 0);
    return file.Save();
}

}  // namespace mirka
