#include "common/settings_place.h"

namespace mirka {
namespace {

// Written once at start-up on the window thread, before the worker threads exist.
std::filesystem::path& Folder() {
    static std::filesystem::path folder;
    return folder;
}

WString& ReceiveDefault() {
    static WString folder;
    return folder;
}

}  // namespace

void SetSettingsPlace(const std::filesystem::path& folder, WStringView defaultReceiveFolder) {
    Folder() = folder;
    ReceiveDefault() = WString(defaultReceiveFolder);
}

std::filesystem::path SettingsFilePath(std::string_view name) {
    return Folder().empty() ? std::filesystem::path(name) : Folder() / name;
}

std::filesystem::path ConfigFilePath() {
    return SettingsFilePath(kConfigFileName);
}

WString DefaultReceiveFolder() {
    return ReceiveDefault();
}

}  // namespace mirka
