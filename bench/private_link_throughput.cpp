// The private link's cost: one file sent between two link managers on loopback with the
// pacing lifted (sendWait 1, sendBufSize 1 MiB), in plain text and encrypted, in the same
// run. The receiver runs in a child process, so each side's CPU time is its own.
// Prints both speeds, their ratio, and the CPU seconds per GiB of sender and receiver.
// Usage: bench_private_link_throughput [MiB, default 1024]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "bench_support.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "toolkit/file_system.h"

namespace {

using mirka::bench::CpuSeconds;
using mirka::bench::MakeFile;

using Clock = std::chrono::steady_clock;

struct Figures {
    double seconds = -1;
    double senderCpu = 0;
    double receiverCpu = 0;
};

bool Finished(const mirka::test::RecordedRows& rows) {
    return mirka::test::FinishedRows(rows) == 1;
}

// The receiving side, in the child: links, waits for the whole file, reports its CPU time.
[[noreturn]] void Receive(std::uint16_t port, const mirka::WString& passphrase,
                          const std::filesystem::path& inbox, int report) {
    mirka::ProgramValues values;
    values.SetReceiveFolder(mirka::FromFsPath(inbox) + mirka::kPathSeparator);
    values.SetSoundOn(false);
    mirka::test::WindowRecorder window;
    double cpu = -1;
    {
        mirka::TaskManager server(&values);
        server.ownerWindow = &window;
        server.SetPassphrase(passphrase);
        if (server.StartServer(port)) {
            double start = CpuSeconds();
            mirka::test::WaitUntil([&] { return Finished(window.Transfers()); },
                                   std::chrono::hours(1));
            cpu = CpuSeconds() - start;
        }
        if (write(report, &cpu, sizeof cpu) != sizeof cpu) _exit(1);
        // Stay linked until the sender has seen its own row finish.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        server.ownerWindow = nullptr;
    }
    _exit(0);
}

Figures Run(const std::filesystem::path& file, const mirka::WString& passphrase) {
    mirka::test::TempFolder inbox;
    std::uint16_t port = mirka::test::FreeLoopbackPort();
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        Receive(port, passphrase, inbox.Path(), fds[1]);
    }
    close(fds[1]);
    Figures figures;
    {
        mirka::ProgramValues values;
        values.SetSoundOn(false);
        mirka::test::WindowRecorder window;
        mirka::TaskManager client(&values);
        client.ownerWindow = &window;
        client.SetPassphrase(passphrase);
        bool linked = false;
        for (int attempt = 0; attempt < 500 && !linked; ++attempt) {
            mirka::test::MessageRecorder quiet;  // refusals while the child is not listening yet
            linked = client.ConnectToServer("127.0.0.1", port);
            if (!linked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (linked) {
            client.sendWait = 1;
            client.sendBufSize = 1 << 20;
            double cpuStart = CpuSeconds();
            auto start = Clock::now();
            int row = window.Transfers().AddTransferRow(mirka::FromFsPath(file));
            client.SendFile(mirka::FromFsPath(file), row);
            double receiverCpu = -1;
            if (read(fds[0], &receiverCpu, sizeof receiverCpu) == sizeof receiverCpu) {
                figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
                mirka::test::WaitUntil([&] { return Finished(window.Transfers()); });
                figures.senderCpu = CpuSeconds() - cpuStart;
                figures.receiverCpu = receiverCpu;
            }
        }
        client.ownerWindow = nullptr;
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    mirka::test::TempFolder work;
    auto file = work.Path() / "big.bin";
    MakeFile(file, mib << 20);
    double gib = static_cast<double>(mib) / 1024.0;
    double bytes = static_cast<double>(mib << 20);

    Figures plain = Run(file, u"");
    Figures sealed = Run(file, u"bench passphrase");
    if (plain.seconds <= 0 || sealed.seconds <= 0) {
        std::printf("a transfer did not finish\n");
        return 1;
    }
    for (auto [name, f] : {std::pair{"plain    ", plain}, std::pair{"encrypted", sealed}}) {
        std::printf(
            "%s: %zu MiB in %.2f s (%.0f MB/s); CPU per GiB: sender %.2f s, receiver %.2f s\n",
            name, mib, f.seconds, bytes / f.seconds / 1e6, f.senderCpu / gib, f.receiverCpu / gib);
    }
    std::printf("encrypted / plain speed: %.2f\n", plain.seconds / sealed.seconds);
    return 0;
}
