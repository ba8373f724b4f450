#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "support/wait.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

constexpr auto kPatience = std::chrono::seconds(60);

class CliChat : public CliPair {};

// With --stay each input line is a chat line and the window's commands work; the peer prints
// each line with its sender's name, and the end of input disconnects cleanly (0 on both).
TEST_F(CliChat, LinesAndCommandsUntilTheInputEnds) {
    // Typed through a pipe that ends only once the peer's status has shown: a file would end
    // at once, and the link with it, before the peer had said anything.
    auto input = work.Path() / "typed";
    ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
    std::string typed = "こんにちは\n/status 会議中\n/help\n二行目\n";
    auto waiting = Wait({"--status", "待機中"});
    std::vector<std::string> args = {
        "connect", "127.0.0.1:" + port, "--retry", "60", "--name", "繋ぐ側", "--stay"};
    CliProcess connecting(work.Path(), "chat", args, {}, input);
    int typing = -1;  // opens once the program has opened its end
    ASSERT_TRUE(WaitUntil(
        [&] { return (typing = open(input.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, kPatience));
    ASSERT_EQ(write(typing, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    EXPECT_TRUE(WaitUntil(
        [&] { return connecting.Err().find("相手のステータス: 待機中") != std::string::npos; },
        kPatience))
        << connecting.Said();
    close(typing);
    EXPECT_EQ(connecting.Wait(), kExitOk) << connecting.Said();
    EXPECT_EQ(waiting->Wait(), kExitOk) << waiting->Said();
    std::string heard = waiting->Out();
    EXPECT_NE(heard.find("繋ぐ側 の発言"), std::string::npos) << waiting->Said();
    EXPECT_NE(heard.find("こんにちは"), std::string::npos) << waiting->Said();
    EXPECT_NE(heard.find("二行目"), std::string::npos) << waiting->Said();
    // The command went as a status, not as a chat line.
    EXPECT_EQ(heard.find("/status"), std::string::npos) << waiting->Said();
    EXPECT_NE(waiting->Err().find("相手のステータス: 会議中"), std::string::npos)
        << waiting->Said();
    EXPECT_NE(connecting.Err().find("相手のステータス: 待機中"), std::string::npos)
        << connecting.Said();
    // /help lists the commands here, on this side only.
    EXPECT_NE(connecting.Err().find("/sendbufsize"), std::string::npos) << connecting.Said();
}

}  // namespace
}  // namespace mirka::test
