#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "app/config_file.h"
#include "common/program_values.h"

// Every entry of "conf.txt" the program reads or writes, in one table: where it lives, its
// built-in value and how much of it is read. Nothing else names a section or a key.
//
// Limits count characters and never a terminator: a text limit of 31 keeps at most 31 units
// of the stored text (a zero-terminated field for it has 32). A number's limit is the count
// of low bits kept: 16 for ports and the send wait, 32 for the rest.
namespace mirka {

enum class SettingId {
    kFontName,
    kFontSize,
    kFontColor,
    kUserName,
    kReceivePath,
    kServerPort,
    kProfileName,
    kProfileIp,
    kProfilePort,
    kSendWait,
    kSendBufSize,
    kNotifyArrivals,
    kCount,
};

struct Setting {
    SettingId id;
    WStringView section;  // kProfileSectionFormat: one section per profile slot
    WStringView key;
    bool numeric;
    WStringView defaultText;     // text settings
    std::int32_t defaultNumber;  // number settings
    std::size_t limit;
};

// "profile%03d": slots 000 to 998.
inline constexpr WStringView kProfileSectionFormat = u"profile%03d";
inline constexpr int kProfileSlots = 999;

constexpr Setting TextSetting(SettingId id, WStringView section, WStringView key,
                              WStringView defaultText, std::size_t limit) {
    return {id, section, key, false, defaultText, 0, limit};
}
constexpr Setting NumberSetting(SettingId id, WStringView section, WStringView key,
                                std::int32_t defaultNumber, std::size_t bits = 32) {
    return {id, section, key, true, WStringView(), defaultNumber, bits};
}

inline constexpr std::array<Setting, static_cast<std::size_t>(SettingId::kCount)> kSettingTable{{
    TextSetting(SettingId::kFontName, u"font", u"name", u"ＭＳ Ｐゴシック", 31),
    NumberSetting(SettingId::kFontSize, u"font", u"size", -210),
    NumberSetting(SettingId::kFontColor, u"font", u"color", 0),
    TextSetting(SettingId::kUserName, u"main", u"name", u"名無しさんだよもん", 100),
    TextSetting(SettingId::kReceivePath, u"main", u"receive_path", u"", 259),
    // Read and written as the signed number of the 32 bits the user typed.
    NumberSetting(SettingId::kServerPort, u"server", u"port", 1225),
    TextSetting(SettingId::kProfileName, kProfileSectionFormat, u"name", u"", 511),
    TextSetting(SettingId::kProfileIp, kProfileSectionFormat, u"ip", u"", 511),
    NumberSetting(SettingId::kProfilePort, kProfileSectionFormat, u"port", 1225, 16),
    // The pace chosen in the 送信速度 dialog; typed commands change only the running values.
    NumberSetting(SettingId::kSendWait, u"send", u"wait", kDefaultSendWait, 16),
    NumberSetting(SettingId::kSendBufSize, u"send", u"bufsize", kDefaultSendBufSize),
    // 1: a desktop notification tells of a chat line or a file that arrives while the talk
    // window is not the active one; 0: none. Written only once the user changes it.
    NumberSetting(SettingId::kNotifyArrivals, u"notify", u"arrivals", 1, 1),
}};

constexpr const Setting& SettingOf(SettingId id) {
    return kSettingTable[static_cast<std::size_t>(id)];
}

constexpr bool TableInIdOrder() {
    for (std::size_t i = 0; i < kSettingTable.size(); ++i)
        if (static_cast<std::size_t>(kSettingTable[i].id) != i) return false;
    return true;
}
static_assert(TableInIdOrder(), "each row sits at the index of its id");

// "profile%03d" with the slot number.
WString ProfileSection(int slot);

// One loaded image of "conf.txt" seen through the table. Every operation makes a fresh one,
// changes a few entries and saves, so entries the program does not know survive.
class SettingsFile {
public:
    // Loads the file; a missing or unreadable one reads as the built-in values.
    explicit SettingsFile(std::filesystem::path fileName = ConfigFilePath());

    // The stored text cut to the limit, or the built-in text when the entry is missing.
    // `slot` picks the profile section for the profile settings and is ignored otherwise.
    WString Text(SettingId id, int slot = 0) const;
    // The stored number read as a decimal and cut to the limit's low bits, or the built-in
    // number when the entry is missing.
    std::int32_t Number(SettingId id, int slot = 0) const;

    // Texts are stored whole (only cut at a line break); numbers keep the limit's low bits.
    void SetText(SettingId id, WStringView value, int slot = 0);
    void SetNumber(SettingId id, std::int32_t value, int slot = 0);

    // Writes the whole file; false when it could not be written.
    bool Save() const { return config.Save(); }

private:
    static WString Section(const Setting& setting, int slot);

    ConfigFile config;
};

}  // namespace mirka
