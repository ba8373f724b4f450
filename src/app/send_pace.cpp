#include "app/send_pace.h"

#include "app/setting_table.h"

namespace mirka {

const std::array<SendPaceChoice, 4>& SendPaceChoices() {
    // One pass a millisecond (a little more, as sleeps overshoot), so the bytes per pass
    // set the rate; without a limit the socket alone holds the sender back.
    static const std::array<SendPaceChoice, 4> choices = {{
        {u"標準 (約 2 MB/s)", SendPace{}},
        {u"約 10 MB/s", SendPace{1, 10 * 1024}},
        {u"約 100 MB/s", SendPace{1, 100 * 1024}},
        {u"制限なし", SendPace{0, 1024 * 1024}},
    }};
    return choices;
}

SendPace LoadSendPace(const std::filesystem::path& configFile) {
    SettingsFile file(configFile);
    SendPace pace;
    pace.wait = static_cast<std::uint16_t>(file.Number(SettingId::kSendWait));
    pace.bufSize = file.Number(SettingId::kSendBufSize);
    return pace;
}

bool SaveSendPace(const SendPace& pace, const std::filesystem::path& configFile) {
    SettingsFile file(configFile);
    file.SetNumber(SettingId::kSendWait, pace.wait);
    file.SetNumber(SettingId::kSendBufSize, pace.bufSize);
    return file.Save();
}

}  // namespace mirka
