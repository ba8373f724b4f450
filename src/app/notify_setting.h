#pragma once

#include <filesystem>

#include "app/config_file.h"

// Whether arrivals are announced with a desktop notification ("notify" "arrivals" in
// "conf.txt"; on when missing). Stored at once when the user switches it.
namespace mirka {

bool LoadNotifyArrivals(const std::filesystem::path& configFile = ConfigFilePath());
bool SaveNotifyArrivals(bool on, const std::filesystem::path& configFile = ConfigFilePath());

}  // namespace mirka
