#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_config.h"
#include "cli_fixture.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

std::optional<std::string> Read(const std::string& text, CliOptions& defaults) {
    std::istringstream in(text);
    return ReadCliConfig(in, defaults);
}

// The file's keys set the defaults, the command line wins over them, and each kind of bad
// line is refused with its number (never a crash, nothing half applied that matters: the
// run ends with the usage code).
TEST(CliConfig, DefaultsFlagsWinAndBadLinesNamed) {
    CliOptions defaults;
    EXPECT_FALSE(
        Read("# comment\n\n  port = 2000 \nname=設定の名前\naccept = yes\n"
             "receive-to = /tmp/受信\nupnp = off\nretry = 30\nsend-bufsize = 4096\n",
             defaults));
    EXPECT_EQ(defaults.port, 2000);
    EXPECT_EQ(defaults.name, "設定の名前");
    EXPECT_TRUE(defaults.accept);
    EXPECT_EQ(defaults.receiveTo, "/tmp/受信");
    EXPECT_FALSE(defaults.upnp);
    EXPECT_EQ(defaults.sendBufSize, 4096);

    auto parsed = CliOptions::Parse({"connect", "example.org", "--name", "引数の名前"}, defaults);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->port, 2000);  // from the file
    EXPECT_EQ(parsed.options->name, "引数の名前");
    EXPECT_EQ(parsed.options->retrySeconds, 30);
    parsed = CliOptions::Parse({"connect", "example.org:3000", "--port", "4000"}, defaults);
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->port, 4000);
    // A retry default is for connect; wait takes none, and is not refused for it.
    parsed = CliOptions::Parse({"wait"}, defaults);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->retrySeconds, 0);

    for (const auto& [text, line, says] : std::vector<std::tuple<std::string, int, std::string>>{
             {"port = 1\nport 2\n", 2, "キー = 値"},
             {"\n\n= 5\n", 3, "キーがありません"},
             {"colour = blue\n", 1, "colour"},
             {"port = 70000\n", 1, "port"},
             {"port = -1\n", 1, "port"},
             {"accept = maybe\n", 1, "yes か no"},
             {"name =\n", 1, "name"},
             {"passphrase = secret\n", 1, "passphrase-file"},
             {std::string("port = 1\0\n", 10), 1, "port"},
         }) {
        CliOptions any;
        std::optional<std::string> error = Read(text, any);
        ASSERT_TRUE(error) << text;
        EXPECT_TRUE(error->starts_with(std::to_string(line) + " 行目: ")) << *error;
        EXPECT_NE(error->find(says), std::string::npos) << *error;
    }
}

class CliConfigRun : public CliPair {};

// The program reads $XDG_CONFIG_HOME/mirka/cli.conf: its port, receive folder and accept
// take the place of the options, a bad line ends the run with 2 and names the file and line, and
// --help still works beside a bad file.
TEST_F(CliConfigRun, TheFileGivesDefaultsAndABadOneEndsWithUsage) {
    auto home = work.Path() / "config";
    std::filesystem::create_directories(home / "mirka");
    std::string text =
        "# 受信の既定\nport = " + port + "\naccept = yes\nreceive-to = " + inbox().string() + "\n";
    WriteFile(home / "mirka" / "cli.conf", std::vector<char>(text.begin(), text.end()));
    std::map<std::string, std::string> env = {{"XDG_CONFIG_HOME", home.string()}};
    auto file = outbox() / "設定.bin";
    WriteFile(file, RandomBytes(20000, 7));
    CliProcess waiting(work.Path(), "wait-config", {"wait"}, env);
    auto connecting = Connect({"--send", file.string()});
    EXPECT_EQ(connecting->Wait(), kExitOk) << connecting->Said();
    EXPECT_EQ(waiting.Wait(), kExitOk) << waiting.Said();
    EXPECT_EQ(ReadFile(inbox() / "設定.bin"), ReadFile(file));

    std::string bad = "port = 2000\n\naccept = sometimes\n";
    WriteFile(home / "mirka" / "cli.conf", std::vector<char>(bad.begin(), bad.end()));
    CliProcess refused(work.Path(), "bad-config", {"wait"}, env);
    EXPECT_EQ(refused.Wait(), kExitUsage) << refused.Said();
    EXPECT_NE(refused.Err().find((home / "mirka" / "cli.conf").string() + " の 3 行目"),
              std::string::npos)
        << refused.Said();
    CliProcess help(work.Path(), "help-config", {"--help"}, env);
    EXPECT_EQ(help.Wait(), kExitOk) << help.Said();
    EXPECT_NE(help.Out().find("cli.conf"), std::string::npos);
}

}  // namespace
}  // namespace mirka::test
