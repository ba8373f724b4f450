#include <gtest/gtest.h>

#include <set>

#include "cli_fixture.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

class CliTransfer : public CliPair {
protected:
    // Two files and a folder with a sub-folder, in the outbox.
    std::vector<std::string> MakeSends() {
        WriteFile(outbox() / "一.bin", RandomBytes(300 * 1024, 1));
        WriteFile(outbox() / "empty.txt", {});
        auto tree = outbox() / "tree";
        std::filesystem::create_directories(tree / "sub");
        WriteFile(tree / "a.txt", RandomBytes(5000, 2));
        WriteFile(tree / "sub" / "b.bin", RandomBytes(70 * 1024, 3));
        return {(outbox() / "一.bin").string(), (outbox() / "empty.txt").string(), tree.string()};
    }
    void ExpectAllArrived() {
        EXPECT_EQ(ReadFile(inbox() / "一.bin"), ReadFile(outbox() / "一.bin"));
        EXPECT_TRUE(std::filesystem::exists(inbox() / "empty.txt"));
        EXPECT_EQ(TreeOf(inbox() / "tree"), TreeOf(outbox() / "tree"));
    }
};

// Plain and private, the waiting side receiving, the connecting side sending files and a
// folder at once: both end with 0, every file arrives whole, the JSON events tell each
// transfer's start and verified end, and the receiver names each received file's path.
TEST_F(CliTransfer, FilesAndAFolderArriveVerifiedPlainAndPrivate) {
    std::vector<std::string> sends = MakeSends();
    for (bool secret : {false, true}) {
        SCOPED_TRACE(secret ? "private" : "plain");
        std::filesystem::remove_all(inbox());
        std::filesystem::create_directory(inbox());
        std::map<std::string, std::string> env;
        std::vector<std::string> waitMore = {"--accept", "--json"};
        std::vector<std::string> connectMore = {"--json", "--send"};
        connectMore.insert(connectMore.end(), sends.begin(), sends.end());
        if (secret) {
            // One side reads a file, the other the environment.
            auto file = work.Path() / "passphrase";
            WriteFile(file, {'s', 'e', 'c', 'r', 'e', 't', '\n'});
            waitMore.insert(waitMore.end(), {"--passphrase-file", file.string()});
            env["MIRKA_PASSPHRASE"] = "secret";
        }
        auto waiting = Wait(waitMore);
        auto connecting = Connect(connectMore, env);
        ASSERT_EQ(connecting->Wait(), kExitOk) << connecting->Said();
        ASSERT_EQ(waiting->Wait(), kExitOk) << waiting->Said() << "\nsender:\n"
                                            << connecting->Said();
        ExpectAllArrived();

        auto sent = Events(*connecting);
        auto received = Events(*waiting);
        ASSERT_EQ(EventsOf(sent, "linked").size(), 1u) << connecting->Said();
        EXPECT_EQ(EventsOf(sent, "linked")[0]["private"], secret ? "true" : "false");
        auto sentEnds = EventsOf(sent, "end");
        ASSERT_EQ(sentEnds.size(), 3u) << connecting->Said();
        for (auto& end : sentEnds) {
            EXPECT_EQ(end["direction"], "send");
            EXPECT_EQ(end["state"], "verified");
            EXPECT_EQ(end["verified"], "true");
        }
        EXPECT_EQ(EventsOf(sent, "start").size(), 3u);
        auto receivedEnds = EventsOf(received, "end");
        ASSERT_EQ(receivedEnds.size(), 3u) << waiting->Said();
        std::set<std::string> paths;
        for (auto& end : receivedEnds) {
            EXPECT_EQ(end["direction"], "receive");
            EXPECT_EQ(end["state"], "verified");
            paths.insert(end["path"]);
        }
        EXPECT_EQ(paths, (std::set<std::string>{(inbox() / "一.bin").string(),
                                                (inbox() / "empty.txt").string(),
                                                (inbox() / "tree").string()}));
        EXPECT_EQ(EventsOf(sent, "exit").at(0)["code"], "0");
        EXPECT_EQ(EventsOf(received, "exit").at(0)["code"], "0");
    }
}

// Without --json and off a terminal: one line per event on standard error (start, every
// tenth, end), the received file's path alone on standard output; the roles turned round
// (the waiting side sends).
TEST_F(CliTransfer, LogLinesOffATerminalAndTheWaitingSideSending) {
    WriteFile(outbox() / "big.bin", RandomBytes(4 << 20, 4));
    auto waiting = Wait(
        {"--send", (outbox() / "big.bin").string(), "--send-wait", "1", "--send-bufsize", "65536"});
    auto connecting = Connect({"--accept", "--receive-to", inbox().string()});
    ASSERT_EQ(waiting->Wait(), kExitOk) << waiting->Said();
    ASSERT_EQ(connecting->Wait(), kExitOk) << connecting->Said();
    EXPECT_EQ(ReadFile(inbox() / "big.bin"), ReadFile(outbox() / "big.bin"));
    EXPECT_EQ(connecting->Out(), (inbox() / "big.bin").string() + "\n");
    std::string log = waiting->Err();
    EXPECT_NE(log.find("送信 開始: big.bin"), std::string::npos) << log;
    EXPECT_NE(log.find("送信 検証済み: big.bin"), std::string::npos) << log;
    EXPECT_NE(connecting->Err().find("受信 検証済み: big.bin"), std::string::npos)
        << connecting->Err();
    // No live line's control bytes in a log.
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
}

// A reception cut by Ctrl-C: the interrupted side ends with 130 after a clean disconnect,
// the sender hears the link end (7), the partial file stays, and a second run takes it up
// and completes it.
TEST_F(CliTransfer, AnInterruptedReceptionResumesOnTheNextRun) {
    auto source = outbox() / "large.bin";
    WriteFile(source, RandomBytes(48 << 20, 5));
    {
        // Paced, so the reception is surely under way when the signal comes.
        auto waiting = Wait({"--accept", "--json"});
        auto connecting =
            Connect({"--send", source.string(), "--send-wait", "1", "--send-bufsize", "8192"});
        ASSERT_TRUE(waiting->WaitForOutput("\"event\":\"progress\"")) << waiting->Said();
        waiting->Signal(SIGINT);
        EXPECT_EQ(waiting->Wait(), kExitInterrupted) << waiting->Said();
        EXPECT_EQ(connecting->Wait(), kExitLinkLost) << connecting->Said();
        EXPECT_FALSE(std::filesystem::exists(inbox() / "large.bin"));
    }
    std::uintmax_t partial = 0;
    for (const auto& entry : std::filesystem::directory_iterator(inbox()))
        if (entry.is_regular_file()) partial = std::max(partial, entry.file_size());
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, 48u << 20);

    auto waiting = Wait({"--accept"}, {}, "wait2");
    auto connecting = Connect({"--send", source.string()}, {}, "connect2");
    ASSERT_EQ(connecting->Wait(), kExitOk) << connecting->Said();
    ASSERT_EQ(waiting->Wait(), kExitOk) << waiting->Said();
    EXPECT_EQ(ReadFile(inbox() / "large.bin"), ReadFile(source));
    // The partial file became the received one: nothing else is left beside it.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(inbox()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"large.bin"});
}

}  // namespace
}  // namespace mirka::test
