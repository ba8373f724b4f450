#include "app/setting_table.h"

#include <cassert>

#include "toolkit/format.h"

namespace mirka {
namespace {

std::int32_t KeepBits(std::int32_t value, std::size_t bits) {
    if (bits >= 32) return value;
    auto mask = (std::uint32_t{1} << bits) - 1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) & mask);
}

}  // namespace

WString ProfileSection(int slot) {
    return Format(kFormatCapacity, kProfileSectionFormat, slot);
}

SettingsFile::SettingsFile(std::filesystem::path fileName) : config(std::move(fileName)) {
    config.Load();
}

WString SettingsFile::Section(const Setting& setting, int slot) {
    if (setting.section == kProfileSectionFormat) return ProfileSection(slot);
    return WString(setting.section);
}

WString SettingsFile::Text(SettingId id, int slot) const {
    const Setting& setting = SettingOf(id);
    assert(!setting.numeric);
    return config.GetString(Section(setting, slot), setting.key, setting.defaultText,
                            setting.limit);
}

std::int32_t SettingsFile::Number(SettingId id, int slot) const {
    const Setting& setting = SettingOf(id);
    assert(setting.numeric);
    return KeepBits(config.GetInt(Section(setting, slot), setting.key, setting.defaultNumber),
                    setting.limit);
}

void SettingsFile::SetText(SettingId id, WStringView value, int slot) {
    const Setting& setting = SettingOf(id);
    assert(!setting.numeric);
    config.SetString(Section(setting, slot), setting.key, value);
}

void SettingsFile::SetNumber(SettingId id, std::int32_t value, int slot) {
    const Setting& setting = SettingOf(id);
    assert(setting.numeric);
    config.SetInt(Section(setting, slot), setting.key, KeepBits(value, setting.limit));
}

}  // namespace mirka
