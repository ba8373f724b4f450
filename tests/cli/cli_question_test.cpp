#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "cli_fixture.h"
#include "link/task_manager.h"
#include "support/recorders.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

constexpr auto kPatience = std::chrono::seconds(60);

// A pseudo-terminal whose other end a child opens as its standard input.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        // The children must not hold it: only the child that opens the other end reads.
        if (master >= 0) fcntl(master, F_SETFD, FD_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            if (const char* name = ptsname(master)) path = name;
    }
    ~PseudoTerminal() {
        if (master >= 0) close(master);
    }
    void Type(const std::string& text) {
        [[maybe_unused]] ssize_t n = write(master, text.data(), text.size());
    }
    int master = -1;
    std::string path;
};

class CliQuestion : public CliPair {};

// A y/n question on a terminal does not hold the link: while it waits, the peer's chat line
// arrives and is printed; the answer then takes the file, which arrives verified, and both
// sides end with 0.
TEST_F(CliQuestion, TheLinkGoesOnWhileTheUserThinks) {
    PseudoTerminal terminal;
    ASSERT_FALSE(terminal.path.empty());
    auto file = outbox() / "質問.bin";
    WriteFile(file, RandomBytes(100 * 1024, 21));
    // The sender's input: a pipe that stays open until the test closes it.
    auto fifo = work.Path() / "typed";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Kept from the children, or the sender would hold its own input open.
    int typed = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(typed, 0);
    std::vector<std::string> waitArgs = {"wait",           "--port", port,    "--receive-to",
                                         inbox().string(), "--name", "待つ側"};
    CliProcess waiting(work.Path(), "asked", waitArgs, {}, std::filesystem::path(terminal.path));
    std::vector<std::string> connectArgs = {
        "connect", "127.0.0.1:" + port, "--retry", "60", "--name", "繋ぐ側", "--stay",
        "--send",  file.string()};
    CliProcess connecting(work.Path(), "asking", connectArgs, {}, fifo);

    ASSERT_TRUE(
        WaitUntil([&] { return waiting.Err().find("[y/N]") != std::string::npos; }, kPatience))
        << waiting.Said();
    std::string line = "答えを待つ間の発言\n";
    ASSERT_EQ(write(typed, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    EXPECT_TRUE(waiting.WaitForOutput("答えを待つ間の発言", kPatience)) << waiting.Said();
    EXPECT_FALSE(std::filesystem::exists(inbox() / "質問.bin"));
    terminal.Type("y\n");
    EXPECT_TRUE(WaitUntil([&] { return connecting.Err().find("検証済み") != std::string::npos; },
                          kPatience))
        << connecting.Said();
    close(typed);  // the end of the sender's input ends the link
    EXPECT_EQ(connecting.Wait(), kExitOk) << connecting.Said();
    EXPECT_EQ(waiting.Wait(), kExitOk) << waiting.Said();
    EXPECT_EQ(ReadFile(inbox() / "質問.bin"), ReadFile(file));
}

// A peer that wants a passphrase, reached without one from a terminal: the terminal end
// asks for it without echo and links again, and its file then arrives verified (0). Off a
// terminal the same refusal ends with 4, as before.
TEST_F(CliQuestion, APassphraseIsAskedWhenThePeerWantsOne) {
    ProgramValues values;
    values.SetReceiveFolder(FromFsPath(inbox()) + kPathSeparator);
    values.SetSoundOn(false);
    WindowRecorder window;
    MessageRecorder boxes;  // the refusals
    // A fresh manager for each wait, as a program started again would be: the socket of a
    // refused link stays with its manager and holds the port.
    std::unique_ptr<TaskManager> manager;
    std::mutex managerLock;  // the test thread looks at it while the server thread starts it
    auto start = [&] {
        auto next = std::make_unique<TaskManager>(&values);
        next->SetCapabilities(kKnownCapabilities);
        next->SetPassphrase(u"合言葉です");
        next->ownerWindow = &window;
        TaskManager* waiting = next.get();
        {
            std::lock_guard<std::mutex> guard(managerLock);
            if (manager) manager->DetachWindow(&window);
            manager = std::move(next);
        }
        return waiting->StartServer(static_cast<std::uint16_t>(std::stoi(port)));
    };
    auto listening = [&] {
        std::lock_guard<std::mutex> guard(managerLock);
        return manager && TaskManagerTestSeam::WaitsForPeer(*manager);
    };
    auto file = outbox() / "秘密.bin";
    WriteFile(file, RandomBytes(50 * 1024, 22));
    std::vector<std::string> args = {"connect", "127.0.0.1:" + port, "--retry", "60",
                                     "--send",  file.string()};

    std::atomic<int> starts{0};
    std::atomic<bool> linked{false};
    std::thread server([&] {
        // Refused, then the same peer with the passphrase.
        for (int i = 0; i < 2 && !linked; ++i) {
            linked = start();
            ++starts;
        }
    });
    PseudoTerminal terminal;
    CliProcess asked(work.Path(), "passphrase", args, {}, std::filesystem::path(terminal.path));
    EXPECT_TRUE(WaitUntil(
        [&] { return asked.Err().find("求めています。合言葉: ") != std::string::npos; }, kPatience))
        << asked.Said();
    // Typed once the peer listens again: a connect to a port nobody holds could meet itself.
    EXPECT_TRUE(WaitUntil([&] { return starts == 1 && listening(); }, kPatience)) << [&] {
        std::string said = std::to_string(starts) + ":";
        for (const RecordedBox& box : boxes.Boxes()) said += ToUtf8(box.text) + "\n";
        return said;
    }();
    terminal.Type("合言葉です\n");
    EXPECT_EQ(asked.Wait(), kExitOk) << asked.Said();
    server.join();
    EXPECT_TRUE(linked);
    EXPECT_EQ(ReadFile(inbox() / "秘密.bin"), ReadFile(file));
    // Nothing prints it.
    EXPECT_EQ(asked.Err().find("合言葉です"), std::string::npos) << asked.Said();

    std::thread again([&] { start(); });
    CliProcess scripted(work.Path(), "scripted", args);
    EXPECT_EQ(scripted.Wait(), kExitPassphrase) << scripted.Said();
    again.join();
    manager->DetachWindow(&window);
}

}  // namespace
}  // namespace mirka::test
