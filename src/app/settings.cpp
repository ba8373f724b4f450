#include "app/settings.h"

namespace mirka {
namespace {

constexpr std::size_t kFaceLimit = 31;
constexpr std::size_t kUserNameLimit = 100;
constexpr std::size_t kReceiveFolderLimit = 259;

}  // namespace

void LoadSettings(ProgramValues& values, const std::filesystem::path& configFile) {
    ConfigFile config(configFile);
    config.Load();
    WString face = config.GetString(u"font", u"name", kDefaultFontFace, kFaceLimit);
    std::int32_t size = config.GetInt(u"font", u"size", kDefaultFontSize);
    auto color = static_cast<std::uint32_t>(config.GetInt(u"font", u"color", kDefaultFontColor));
    values.SetChatFont(MakeChatFont(face, size, color));
    values.SetUserName(config.GetString(u"main", u"name", kDefaultUserName, kUserNameLimit));
    WString folder = config.GetString(u"main", u"receive_path", u"", kReceiveFolderLimit);
    values.SetReceiveFolder(folder.empty() ? DefaultReceiveFolder() : folder);
}

bool SaveSettings(const ProgramValues& values, const std::filesystem::path& configFile) {
    ConfigFile config(configFile);
    config.Load();
    CharFormat font = values.ChatFont();
    config.SetString(u"font", u"name", font.Face());
    config.SetInt(u"font", u"size", font.height);
    config.SetInt(u"font", u"color", static_cast<std::int32_t>(font.color));
    config.SetString(u"main", u"name", values.UserName());
    config.SetString(u"main", u"receive_path", values.ReceiveFolder());
    return config.Save();
}

bool SaveReceiveFolder(WStringView folder, const std::filesystem::path& configFile) {
    ConfigFile config(configFile);
    config.Load();
    config.SetString(u"main", u"receive_path", folder);
    return config.Save();
}

WString LoadReceiveFolder(const std::filesystem::path& configFile) {
    ConfigFile config(configFile);
    config.Load();
    WString folder = config.GetString(u"main", u"receive_path", u"", kReceiveFolderLimit);
    return folder.empty() ? DefaultReceiveFolder() : folder;
}

}  // namespace mirka
