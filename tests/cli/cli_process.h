#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

// mirka-cli as a process: its arguments, environment and standard input given, its output
// kept in files, its end waited for with a generous limit.
namespace mirka::test {

class CliProcess {
public:
    // `input`: a file for standard input (none: /dev/null). The environment is this
    // process's without MIRKA_PASSPHRASE, plus `env`; XDG_CONFIG_HOME names an empty place
    // unless `env` gives it.
    CliProcess(const std::filesystem::path& folder, const std::string& tag,
               std::vector<std::string> args, std::map<std::string, std::string> env = {},
               std::optional<std::filesystem::path> input = std::nullopt)
        : outPath(folder / (tag + ".out")), errPath(folder / (tag + ".err")) {
        // Everything the child needs is made before the fork: the test process has threads,
        // and after a fork only calls that take no lock are safe.
        std::vector<std::string> strings = {MIRKA_CLI_PATH};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            std::string key = text.substr(0, text.find('='));
            if (key != "MIRKA_PASSPHRASE" && key != "XDG_CONFIG_HOME" && !env.count(key))
                environment.push_back(text);
        }
        for (const auto& [key, value] : env) environment.push_back(key + "=" + value);
        // The user's own config file never reaches a test's run.
        if (!env.count("XDG_CONFIG_HOME"))
            environment.push_back("XDG_CONFIG_HOME=" + (folder / "no-config").string());
        std::vector<char*> argv;
        for (auto& text : strings) argv.push_back(text.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& text : environment) envp.push_back(text.data());
        envp.push_back(nullptr);
        std::string inPath = input ? input->string() : "/dev/null";
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
    ~CliProcess() {
        if (pid > 0 && !code) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // The exit code, or -1 when the process did not end in time (it is killed then) or died
    // of a signal.
    int Wait(std::chrono::seconds limit = std::chrono::seconds(90)) {
        if (code) return *code;
        auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                code = -1;
                return *code;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return *code;
    }
    // Polls until the standard output holds `text` (or the process ended, or the limit).
    bool WaitForOutput(const std::string& text,
                       std::chrono::seconds limit = std::chrono::seconds(60)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (Out().find(text) == std::string::npos) {
            int status = 0;
            if (!code && waitpid(pid, &status, WNOHANG) == pid)
                code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (code || std::chrono::steady_clock::now() > deadline)
                return Out().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    void Signal(int number) { kill(pid, number); }
    std::string Out() const { return ReadFileText(outPath); }
    std::string Err() const { return ReadFileText(errPath); }
    // Both outputs, for a failure's message.
    std::string Said() const { return "stdout:\n" + Out() + "\nstderr:\n" + Err(); }
    std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        std::istringstream in(Out());
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) lines.push_back(line);
        return lines;
    }

private:
    std::filesystem::path outPath;
    std::filesystem::path errPath;
    pid_t pid = -1;
    std::optional<int> code;
};

}  // namespace mirka::test
