#include "gui/program_files.h"

#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <system_error>

#include <QFileInfo>

#include "common/settings_place.h"

namespace mirka {

namespace {
// A known folder's path in UTF-16, empty when the system has none for this user.
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path) folder = path;
    ::CoTaskMemFree(path);
    return folder;
}
}  // namespace

// The program ships as a folder (its files beside mirka.exe), so there is no installed
// layout to tell it from a build: a conf.txt in the working folder keeps the settings
// there, as the original program kept them beside itself; otherwise they go to
// %APPDATA%\mirka and files are received into the user's Downloads folder.
void ChooseSettingsPlace() {
    if (QFileInfo::exists(QStringLiteral("conf.txt"))) return;
    std::wstring appData = KnownFolder(FOLDERID_RoamingAppData);
    if (appData.empty()) return;
    std::filesystem::path folder = std::filesystem::path(appData) / L"mirka";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) return;
    std::wstring downloads = KnownFolder(FOLDERID_Downloads);
    if (downloads.empty()) {
        std::wstring profile = KnownFolder(FOLDERID_Profile);
        if (!profile.empty()) downloads = profile + L"\\Downloads";
    }
    if (!downloads.empty() && downloads.back() != L'\\') downloads += L'\\';
    SetSettingsPlace(folder, WString(downloads.begin(), downloads.end()));
}

}  // namespace mirka
