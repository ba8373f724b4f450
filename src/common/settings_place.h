#pragma once

#include <filesystem>
#include <string_view>

#include "toolkit/text.h"

// Where "conf.txt" and "debug.txt" live, and which receive folder stands in for an empty
// one. By default the working folder and none: a program run from its build keeps its
// files where it was started. An installed program moves them to the user's places (see
// ChooseSettingsPlace in the GUI). Set once at start-up, before any of the files is opened.
namespace mirka {

inline constexpr char kConfigFileName[] = "conf.txt";

void SetSettingsPlace(const std::filesystem::path& folder, WStringView defaultReceiveFolder);

// The file's path in the settings folder: the bare name in the working folder.
std::filesystem::path SettingsFilePath(std::string_view name);
std::filesystem::path ConfigFilePath();

// The receive folder used while the stored one is empty.
WString DefaultReceiveFolder();

}  // namespace mirka
