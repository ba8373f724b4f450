#pragma once

#include <istream>
#include <optional>
#include <string>

#include "cli/cli_options.h"

// The optional file of defaults for the command line's options: lines of `key = value`,
// blank lines and lines starting with # left alone. An option given on the command line
// wins over the file. The window's own settings are never read here.
namespace mirka::cli {

// $XDG_CONFIG_HOME/mirka/cli.conf, else ~/.config/mirka/cli.conf; empty when neither can
// be named.
std::string CliConfigPath();

// Reads the file's lines into `defaults`; the error (with the line's number) when one makes
// no sense.
std::optional<std::string> ReadCliConfig(std::istream& in, CliOptions& defaults);

// The file at `path` when it exists; the error when it cannot be read or makes no sense.
std::optional<std::string> LoadCliConfig(const std::string& path, CliOptions& defaults);

}  // namespace mirka::cli
