#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_config.h"
#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/exit_code.h"
#include "link/window_port.h"
#include "toolkit/text.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::string> args(argv + 1, argv + argc);
    mirka::cli::CliOptions defaults;
    bool asksHelp =
        !args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "--version");
    if (std::optional<std::string> bad =
            mirka::cli::LoadCliConfig(mirka::cli::CliConfigPath(), defaults);
        bad && !asksHelp) {
        std::fprintf(stderr, "mirka-cli: %s\n", bad->c_str());
        return mirka::cli::kExitUsage;
    }
    mirka::cli::CliOptions::Parsed parsed =
        mirka::cli::CliOptions::Parse(args, std::move(defaults));
    if (!parsed.options) {
        std::fprintf(stderr, "mirka-cli: %s\n(mirka-cli --help で使い方を表示します)\n",
                     parsed.error.c_str());
        return mirka::cli::kExitUsage;
    }
    if (parsed.options->help) {
        std::fputs(mirka::cli::UsageText(), stdout);
        return mirka::cli::kExitOk;
    }
    if (parsed.options->version) {
        std::printf("mirka-cli (%s)\n", mirka::ToNarrow(mirka::kProgramTitle).c_str());
        return mirka::cli::kExitOk;
    }
    mirka::cli::CliSession session(std::move(*parsed.options));
    return session.Run();
}
