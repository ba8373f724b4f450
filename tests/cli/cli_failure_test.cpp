#include <gtest/gtest.h>

#include "cli_fixture.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

class CliFailure : public CliPair {};

// Each kind of failure has its own exit code: a command line that makes no sense, a file
// that is not there, a peer that is not listening, passphrases that differ (on both sides),
// and the private link asked of a peer without one.
TEST_F(CliFailure, EachKindEndsWithItsOwnCode) {
    {
        CliProcess bad(work.Path(), "usage", {"wait", "--bogus"});
        EXPECT_EQ(bad.Wait(), kExitUsage) << bad.Said();
        // Never on the command line, where the process list shows it.
        CliProcess secret(work.Path(), "secret", {"wait", "--passphrase", "x"});
        EXPECT_EQ(secret.Wait(), kExitUsage) << secret.Said();
        CliProcess none(work.Path(), "none", {});
        EXPECT_EQ(none.Wait(), kExitUsage);
        CliProcess help(work.Path(), "help", {"--help"});
        EXPECT_EQ(help.Wait(), kExitOk);
        for (const char* option : {"--send", "--receive-to", "--accept", "--passphrase-file",
                                   "--upnp", "--name", "--status", "--stay", "--json"})
            EXPECT_NE(help.Out().find(option), std::string::npos) << option;
    }
    {
        auto missing = Connect({"--send", (outbox() / "not-there").string()});
        EXPECT_EQ(missing->Wait(), kExitOther) << missing->Said();
    }
    {
        // Nobody listens on the port: refused at once.
        auto lonely = std::make_unique<CliProcess>(
            work.Path(), "lonely", std::vector<std::string>{"connect", "127.0.0.1:" + port});
        EXPECT_EQ(lonely->Wait(), kExitNoLink) << lonely->Said();
        EXPECT_NE(lonely->Err().find("接続できませんでした"), std::string::npos);
    }
    {
        auto waiting = Wait({"--accept"}, {{"MIRKA_PASSPHRASE", "one"}});
        auto connecting = Connect({}, {{"MIRKA_PASSPHRASE", "two"}});
        EXPECT_EQ(connecting->Wait(), kExitPassphrase) << connecting->Said();
        EXPECT_EQ(waiting->Wait(), kExitPassphrase) << waiting->Said();
        EXPECT_NE(connecting->Err().find("合言葉が一致しません"), std::string::npos);
    }
    {
        auto waiting = Wait({"--accept"}, {{"MIRKA_PASSPHRASE", "one"}}, "wait-private");
        auto connecting = Connect({}, {}, "connect-plain");
        EXPECT_EQ(waiting->Wait(), kExitPassphrase) << waiting->Said();
        EXPECT_EQ(connecting->Wait(), kExitPassphrase) << connecting->Said();
    }
}

// Off a terminal, without --accept, every offer is refused: the receiver says so and keeps
// nothing, the sender ends with the code for a refusal. A receiver whose peer sent nothing
// ends well once the peer has left.
TEST_F(CliFailure, OffersAreRefusedWhenInputIsNoTerminal) {
    WriteFile(outbox() / "a.txt", RandomBytes(1000, 7));
    auto tree = outbox() / "tree";
    std::filesystem::create_directories(tree);
    WriteFile(tree / "b.txt", RandomBytes(1000, 8));
    auto waiting = Wait({});
    auto connecting = Connect({"--send", (outbox() / "a.txt").string(), tree.string()});
    EXPECT_EQ(connecting->Wait(), kExitRefused) << connecting->Said();
    EXPECT_EQ(waiting->Wait(), kExitOk) << waiting->Said();
    EXPECT_TRUE(std::filesystem::is_empty(inbox()));
    EXPECT_NE(waiting->Err().find("ファイルの申し出を断りました"), std::string::npos)
        << waiting->Said();
    EXPECT_NE(waiting->Err().find("フォルダの申し出を断りました"), std::string::npos)
        << waiting->Said();
}

}  // namespace
}  // namespace mirka::test
