#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/exit_code.h"
#include "link/transfer_support.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"

extern char** environ;

// mirka-cli.exe of the Windows build, run by wine, and this build's mirka-cli, linked on
// loopback: chat lines and files with Japanese names both ways, plain and private.
namespace mirka::test {
namespace {

using namespace mirka::cli;

// A wine start on a loaded machine takes seconds before the program runs.
constexpr auto kPatience = std::chrono::seconds(240);

// One program's run: its standard input from a file or a fifo, its outputs in files.
class Program {
public:
    Program(const std::filesystem::path& folder, const std::string& tag,
            std::vector<std::string> args, const std::filesystem::path& input,
            const std::vector<std::string>& extraEnvironment)
        : outPath(folder / (tag + ".out")), errPath(folder / (tag + ".err")) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            std::string key = text.substr(0, text.find('='));
            if (key != "MIRKA_PASSPHRASE" && key != "XDG_CONFIG_HOME" && key != "WINEDEBUG" &&
                key != "DISPLAY" && key != "WAYLAND_DISPLAY")
                environment.push_back(text);
        }
        environment.push_back("XDG_CONFIG_HOME=" + (folder / "no-config").string());
        environment.push_back("WINEDEBUG=-all");
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        // Made before the fork: after it, only calls that take no lock are safe.
        std::vector<char*> argv;
        for (auto& text : args) argv.push_back(text.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& text : environment) envp.push_back(text.data());
        envp.push_back(nullptr);
        std::string inPath = input.string();
        pid = fork();
        if (pid == 0) {
            int in = open(inPath.c_str(), O_RDONLY);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || out < 0 || err < 0) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~Program() {
        if (pid > 0 && !code) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The exit code; -1 when it did not end within the patience (it is killed then).
    int Wait() {
        if (code) return *code;
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return *(code = -1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return *(code = WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    std::string Out() const { return Text(outPath); }
    std::string Err() const { return Text(errPath); }
    std::string Said() const { return "stdout:\n" + Out() + "\nstderr:\n" + Err(); }

private:
    static std::string Text(const std::filesystem::path& path) {
        std::vector<char> bytes = ReadFile(path);
        return std::string(bytes.begin(), bytes.end());
    }
    std::filesystem::path outPath;
    std::filesystem::path errPath;
    pid_t pid = -1;
    std::optional<int> code;
};

class CliAcrossSystems : public ::testing::Test {
protected:
    CliAcrossSystems() : port(std::to_string(FreeLoopbackPort())) {}

    // The same folder as wine's programs name it (its drive Z: is the root).
    static std::string WindowsPath(const std::filesystem::path& path) {
        std::string text = "Z:" + path.string();
        for (char& c : text)
            if (c == '/') c = '\\';
        return text;
    }
    // `side` "windows" or "linux"; `role` "wait" or "connect". Paths in `more` are already
    // in the side's own form.
    // `secret`: both sides take the Japanese passphrase, the Linux side from a file (its bytes
    // are UTF-8 on both systems), the Windows side from MIRKA_PASSPHRASE, which wine hands
    // over as UTF-16 from a UTF-8 locale.
    std::unique_ptr<Program> Start(const std::string& side, const std::string& role,
                                   const std::filesystem::path& receiveTo,
                                   std::vector<std::string> more, const std::string& tag,
                                   bool secret, const std::filesystem::path& input = "/dev/null") {
        bool windows = side == "windows";
        std::vector<std::string> args;
        if (windows)
            args = {MIRKA_WINE, MIRKA_WINE_CLI};
        else
            args = {MIRKA_CLI_PATH};
        if (role == "wait")
            args.insert(args.end(), {"wait", "--port", port});
        else
            args.insert(args.end(), {"connect", "127.0.0.1:" + port, "--retry", "120"});
        args.insert(args.end(),
                    {"--receive-to", windows ? WindowsPath(receiveTo) : receiveTo.string(),
                     "--name", windows ? "窓の側" : "リナックスの側"});
        args.insert(args.end(), more.begin(), more.end());
        std::vector<std::string> env;
        if (secret && windows) {
            env = {"MIRKA_PASSPHRASE=" + kPassphrase, "LC_ALL=C.UTF-8"};
        } else if (secret) {
            auto file = work.Path() / "合言葉.txt";
            std::string text = kPassphrase + "\n";
            WriteFile(file, std::vector<char>(text.begin(), text.end()));
            args.insert(args.end(), {"--passphrase-file", file.string()});
        }
        return std::make_unique<Program>(work.Path(), tag, args, input, env);
    }
    const std::string kPassphrase = "窓と林檎";
    // A fifo the typing side reads its lines from: it ends only when the test closes it.
    std::filesystem::path MakeFifo(const std::string& name) {
        auto path = work.Path() / name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        return path;
    }

    TempFolder work;
    std::string port;
};

// A chat line each way (the Windows side types in one round, the Linux side in the other) and
// two files with Japanese names and a folder sent each way, plain and private: both sides end
// with 0, the lines arrive whole, the received files equal the sent ones.
TEST_F(CliAcrossSystems, ChatFilesAndAFolderBothWaysPlainAndPrivate) {
    auto outbox = work.Path() / "送る";
    std::filesystem::create_directories(outbox / "フォルダ" / "下");
    WriteFile(outbox / "日本語の名前.bin", RandomBytes(700 * 1024, 1));
    WriteFile(outbox / "フォルダ" / "一.txt", RandomBytes(3000, 2));
    WriteFile(outbox / "フォルダ" / "下" / "二.bin", RandomBytes(90 * 1024, 3));
    WriteFile(outbox / "空.txt", {});
    const std::vector<std::string> names = {"日本語の名前.bin", "空.txt", "フォルダ"};

    for (bool secret : {false, true}) {
        for (const std::string typist : {"windows", "linux"}) {
            std::string listener = typist == "windows" ? "linux" : "windows";
            std::string trace =
                std::string(secret ? "private" : "plain") + ", " + typist + " types and sends";
            SCOPED_TRACE(trace);
            std::string tag = std::string(secret ? "private-" : "plain-") + typist;
            auto inbox = work.Path() / ("受け取る-" + tag);
            auto ownInbox = work.Path() / ("unused-" + tag);
            std::filesystem::create_directories(inbox);
            std::filesystem::create_directories(ownInbox);

            // The chat: the typing side connects and stays while its input is open.
            auto typed = MakeFifo("typed-" + tag);
            std::string line = "こんにちは、" + typist + " から送ります\n";
            auto hearing = Start(listener, "wait", ownInbox, {}, "hear-" + tag, secret);
            auto typing =
                Start(typist, "connect", ownInbox, {"--stay"}, "type-" + tag, secret, typed);
            int fifo = -1;  // opens once the typing side has opened its end
            ASSERT_TRUE(
                WaitUntil([&] { return (fifo = open(typed.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; },
                          kPatience));
            ASSERT_EQ(write(fifo, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            // The input ends once the line was heard.
            bool heard = WaitUntil(
                [&] {
                    return hearing->Out().find(line.substr(0, line.size() - 1)) !=
                           std::string::npos;
                },
                kPatience);
            close(fifo);
            EXPECT_TRUE(heard) << hearing->Said() << "\ntyping side:\n" << typing->Said();
            EXPECT_EQ(typing->Wait(), kExitOk) << typing->Said();
            EXPECT_EQ(hearing->Wait(), kExitOk) << hearing->Said();
            EXPECT_NE(hearing->Out().find(typist == "windows" ? "窓の側" : "リナックスの側"),
                      std::string::npos)
                << hearing->Said();

            // The files: the typing side sends them, named on its own command line.
            std::vector<std::string> receive = {"--accept", "--json"};
            auto receiving = Start(listener, "wait", inbox, receive, "receive-" + tag, secret);
            std::vector<std::string> send = {"--json"};
            send.push_back("--send");
            for (const std::string& name : names)
                send.push_back(typist == "windows" ? WindowsPath(outbox / name)
                                                   : (outbox / name).string());
            auto sending = Start(typist, "connect", ownInbox, send, "send-" + tag, secret);
            EXPECT_EQ(sending->Wait(), kExitOk) << sending->Said();
            EXPECT_EQ(receiving->Wait(), kExitOk) << receiving->Said() << "\nsender:\n"
                                                  << sending->Said();
            std::string linked = std::string("\"private\":") + (secret ? "true" : "false");
            EXPECT_NE(sending->Out().find(linked), std::string::npos) << sending->Said();
            EXPECT_NE(receiving->Out().find(linked), std::string::npos) << receiving->Said();
            EXPECT_EQ(ReadFile(inbox / names[0]), ReadFile(outbox / names[0]));
            EXPECT_TRUE(std::filesystem::is_regular_file(inbox / names[1]));
            EXPECT_EQ(TreeOf(inbox / names[2]), TreeOf(outbox / names[2]));
        }
    }
}

}  // namespace
}  // namespace mirka::test
