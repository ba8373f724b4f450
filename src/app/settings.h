#pragma once

#include <filesystem>

#include "app/config_file.h"
#include "common/program_values.h"

// The values that outlive a run: the chat font, the user name and the receive folder,
// read from "conf.txt" at start-up and written back at shutdown.
namespace mirka {

// Reads the font, user name and receive folder; missing entries give the built-in values.
// Nothing is written.
void LoadSettings(ProgramValues& values,
                  const std::filesystem::path& configFile = ConfigFilePath());

// Merges the font, user name and receive folder into the file. The callers do not report
// a failure; the result is for tests.
bool SaveSettings(const ProgramValues& values,
                  const std::filesystem::path& configFile = ConfigFilePath());

// The talk window stores a newly chosen receive folder at once, and reads the stored one
// back when the folder browser is cancelled.
bool SaveReceiveFolder(WStringView folder,
                       const std::filesystem::path& configFile = ConfigFilePath());
WString LoadReceiveFolder(const std::filesystem::path& configFile = ConfigFilePath());

}  // namespace mirka
