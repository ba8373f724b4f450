#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "app/setting_table.h"

// The sender's pace as the user chose it in the 送信速度 dialog: the link's sendWait and
// sendBufSize, kept in "conf.txt" ([send] wait, bufsize) and applied at start-up. The typed
// /sendwait and /sendbufsize change only the running values and are never saved.
namespace mirka {

struct SendPace {
    // milliseconds after each sender pass
    std::uint16_t wait = static_cast<std::uint16_t>(SettingOf(SettingId::kSendWait).defaultNumber);
    // bytes per pass and transfer
    std::int32_t bufSize = SettingOf(SettingId::kSendBufSize).defaultNumber;
    bool operator==(const SendPace&) const = default;
};

struct SendPaceChoice {
    WStringView label;
    SendPace pace;
};

// The default pace first, then faster ones, then no limit.
const std::array<SendPaceChoice, 4>& SendPaceChoices();

// The stored pace; the default one when the keys are missing.
SendPace LoadSendPace(const std::filesystem::path& configFile = ConfigFilePath());
bool SaveSendPace(const SendPace& pace, const std::filesystem::path& configFile = ConfigFilePath());

}  // namespace mirka
