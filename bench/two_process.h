#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "link/task_manager.h"
#include "support/recorders.h"

// Two processes on loopback, as two copies of the program: the receiving side runs in a
// child made before any thread exists, the sending side here.
namespace mirka::bench {

template <typename T>
void Put(int fd, T value) {
    if (write(fd, &value, sizeof value) != sizeof value) std::_Exit(3);
}
template <typename T>
T Take(int fd) {
    T value{};
    if (read(fd, &value, sizeof value) != sizeof value) std::_Exit(4);
    return value;
}

struct Figures {
    double seconds = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
    // The bytes the receiving side took in, where it counts them.
    std::uint64_t wireBytes = 0;
    // Chat lines sent during the transfer: milliseconds from the send call to the peer's
    // handler.
    std::vector<double> chatMs;
};

// The child's side of RunSplit once everything is written: its CPU seconds, the bytes it
// took in (or 0) and the latencies of the chat lines it received.
inline void Report(int out, double cpuSeconds, std::uint64_t wireBytes = 0,
                   const std::vector<double>& chatMs = {}) {
    Put<double>(out, cpuSeconds);
    Put<std::uint64_t>(out, wireBytes);
    Put<int>(out, static_cast<int>(chatMs.size()));
    for (double ms : chatMs) Put<double>(out, ms);
}

// Chat lines carry the steady clock of their send call ("t=<ns>"), which both processes
// share; the receiving window notes how long each took to reach it.
class ChatClock : public test::WindowRecorder {
public:
    void AppendLogMessage(std::vector<LogRun> runs) override {
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        for (const auto& run : runs) {
            std::size_t at = run.text.find(u"t=");
            if (at == WString::npos) continue;
            long long sent = 0;
            for (std::size_t i = at + 2;
                 i < run.text.size() && run.text[i] >= u'0' && run.text[i] <= u'9'; ++i)
                sent = sent * 10 + (run.text[i] - u'0');
            std::lock_guard<std::mutex> guard(latencyLock);
            latencies.push_back(
                std::chrono::duration<double, std::milli>(now - std::chrono::nanoseconds(sent))
                    .count());
        }
        WindowRecorder::AppendLogMessage(std::move(runs));
    }
    std::vector<double> Latencies() {
        std::lock_guard<std::mutex> guard(latencyLock);
        return latencies;
    }

private:
    std::mutex latencyLock;
    std::vector<double> latencies;
};

// A chat line stamped with the steady clock, for ChatClock on the other side.
inline WString StampedLine() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return FromUtf8("t=" + std::to_string(ns.count()));
}

// Runs `receive(pipe)` in a child process. The child sends its port, then (Report) its CPU
// seconds when everything is written, the bytes it took in and the latencies of the chat
// lines it received; `send(port, await)` runs here and calls `await` to wait for the
// child's end.
template <typename Receive, typename Send>
Figures RunSplit(Receive receive, Send send) {
    using Clock = std::chrono::steady_clock;
    int fds[2];
    if (pipe(fds) != 0) std::_Exit(2);
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        receive(fds[1]);
        std::_Exit(0);
    }
    close(fds[1]);
    auto port = Take<std::uint16_t>(fds[0]);
    Figures figures;
    double cpuBefore = CpuSeconds();
    auto start = Clock::now();
    send(port, [&] {
        figures.receiverCpu = Take<double>(fds[0]);
        figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.wireBytes = Take<std::uint64_t>(fds[0]);
        for (int n = Take<int>(fds[0]); n > 0; --n) figures.chatMs.push_back(Take<double>(fds[0]));
    });
    figures.senderCpu = CpuSeconds() - cpuBefore;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return figures;
}

// Starts a program with its arguments (found on PATH).
inline pid_t Spawn(std::vector<std::string> args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    return pid;
}

// Waits for a spawned program; its CPU seconds (its children's included).
inline double WaitForCpu(pid_t pid) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// Connects the client to a server in the other process once that one listens.
inline void ConnectWhenListening(TaskManager& client, std::uint16_t port) {
    test::MessageRecorder quiet;  // refusals until the server listens
    while (!client.ConnectToServer("127.0.0.1", port))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace mirka::bench
