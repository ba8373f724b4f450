#include <gtest/gtest.h>

#include "cli_fixture.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

class CliFailure : public CliPair {};

// Each kind of failure has its own exit code: a command line that makes no sense, a file
// that is not there, a peer that is not listening.
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
}

// A wait turns away a peer whose passphrase differs, one without any and one that asks for a
// passphrase the wait does not have, and listens on the same port for the next peer, which
// then links and sends; each connect that was refused ends with the passphrase's code, and
// an interrupt ends the wait between two peers.
TEST_F(CliFailure, AWaitRefusedForItsPassphraseListensOn) {
    auto file = outbox() / "後から.bin";
    WriteFile(file, RandomBytes(64 * 1024, 9));
    {
        auto waiting = Wait({"--accept"}, {{"MIRKA_PASSPHRASE", "one"}});
        auto wrong = Connect({}, {{"MIRKA_PASSPHRASE", "two"}});
        EXPECT_EQ(wrong->Wait(), kExitPassphrase) << wrong->Said();
        EXPECT_NE(wrong->Err().find("合言葉が一致しません"), std::string::npos) << wrong->Said();
        auto plain = Connect({}, {}, "connect-plain");
        EXPECT_EQ(plain->Wait(), kExitPassphrase) << plain->Said();
        auto right =
            Connect({"--send", file.string()}, {{"MIRKA_PASSPHRASE", "one"}}, "connect-right");
        EXPECT_EQ(right->Wait(), kExitOk) << right->Said();
        EXPECT_EQ(waiting->Wait(), kExitOk) << waiting->Said();
        EXPECT_TRUE(ReadFile(inbox() / "後から.bin") == ReadFile(file));
        EXPECT_NE(waiting->Err().find("(合言葉が一致しません) を断りました"), std::string::npos)
            << waiting->Said();
        EXPECT_NE(waiting->Err().find("(相手は合言葉を使っていません) を断りました"),
                  std::string::npos)
            << waiting->Said();
    }
    std::filesystem::remove(inbox() / "後から.bin");
    {
        // Without a passphrase the wait hears a peer's hello before it takes the link.
        auto waiting = Wait({"--accept", "--json"}, {}, "wait-plain");
        auto asking = Connect({}, {{"MIRKA_PASSPHRASE", "one"}}, "connect-private");
        EXPECT_EQ(asking->Wait(), kExitPassphrase) << asking->Said();
        auto plain = Connect({"--send", file.string()}, {}, "connect-plain-2");
        EXPECT_EQ(plain->Wait(), kExitOk) << plain->Said();
        EXPECT_EQ(waiting->Wait(), kExitOk) << waiting->Said();
        EXPECT_TRUE(ReadFile(inbox() / "後から.bin") == ReadFile(file));
        std::vector<JsonObject> events = Events(*waiting);
        std::vector<JsonObject> refused = EventsOf(events, "refused");
        ASSERT_EQ(refused.size(), 1u) << waiting->Said();
        EXPECT_EQ(refused[0]["peer"], "127.0.0.1");
        EXPECT_EQ(refused[0]["reason"], "相手は合言葉を求めています");
        // The window's line for it, and one link.
        bool said = false;
        for (const JsonObject& message : EventsOf(events, "message"))
            said = said || message.at("text") == "相手は合言葉を求めているため、切断しました";
        EXPECT_TRUE(said) << waiting->Said();
        EXPECT_EQ(EventsOf(events, "linked").size(), 1u) << waiting->Said();
        EXPECT_EQ(EventsOf(events, "closed").size(), 1u) << waiting->Said();
    }
    {
        // Ctrl-C just after a refusal, whether or not the port listens again yet, ends the
        // wait as an interruption; no link was ever closed.
        auto waiting = Wait({"--json"}, {{"MIRKA_PASSPHRASE", "one"}}, "wait-interrupted");
        auto wrong = Connect({}, {{"MIRKA_PASSPHRASE", "two"}}, "connect-wrong-2");
        EXPECT_EQ(wrong->Wait(), kExitPassphrase) << wrong->Said();
        ASSERT_TRUE(waiting->WaitForOutput("\"refused\"")) << waiting->Said();
        waiting->Signal(SIGINT);
        EXPECT_EQ(waiting->Wait(), kExitInterrupted) << waiting->Said();
        EXPECT_TRUE(EventsOf(Events(*waiting), "closed").empty()) << waiting->Said();
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
