#include <optional>
#include <string>
#include <vector>

#include "cli/cli_config.h"
#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/exit_code.h"
#include "cli/terminal.h"
#include "link/window_port.h"
#include "toolkit/text.h"

int main(int argc, char** argv) {
    using mirka::cli::Terminal;
    Terminal::Setup();
    std::vector<std::string> args = Terminal::Arguments(argc, argv);
    mirka::cli::CliOptions defaults;
    bool asksHelp =
        !args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "--version");
    if (std::optional<std::string> bad =
            mirka::cli::LoadCliConfig(mirka::cli::CliConfigPath(), defaults);
        bad && !asksHelp) {
        Terminal::WriteAll(2, "mirka-cli: " + *bad + "\n");
        return mirka::cli::kExitUsage;
    }
    mirka::cli::CliOptions::Parsed parsed =
        mirka::cli::CliOptions::Parse(args, std::move(defaults));
    if (!parsed.options) {
        Terminal::WriteAll(
            2, "mirka-cli: " + parsed.error + "\n(mirka-cli --help で使い方を表示します)\n");
        return mirka::cli::kExitUsage;
    }
    if (parsed.options->help) {
        Terminal::WriteAll(1, mirka::cli::UsageText());
        return mirka::cli::kExitOk;
    }
    if (parsed.options->version) {
        Terminal::WriteAll(1, "mirka-cli (" + mirka::ToNarrow(mirka::kProgramTitle) + ")\n");
        return mirka::cli::kExitOk;
    }
    mirka::cli::CliSession session(std::move(*parsed.options));
    return session.Run();
}
