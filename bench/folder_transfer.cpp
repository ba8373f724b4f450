// A folder of many small files and a few large ones sent between two processes on loopback,
// as between two copies of the program (both announce folders, the pace lifted), against
// `tar` piped through `socat` in the same run. Runs alternate; the best of each kind is
// compared. Prints the times, the ratio, CPU of both sides, and how many transfer facts each
// window got (one per folder per refresh, not one per file).
// Usage: bench_folder_transfer [small files, default 10000] [large files of 50 MB, default 10]
//                              [runs, default 3]
#include <cstdio>
#include <string>
#include <thread>

#include "link/wire/delivery_frames.h"
#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"
#include "two_process.h"

namespace {

namespace fs = std::filesystem;
using mirka::bench::Figures;
using mirka::bench::Put;
using Clock = std::chrono::steady_clock;

// Small files spread over folders of 100, as a photo or source tree would be.
void MakeTree(const fs::path& root, int small, int large) {
    std::vector<char> bytes(4096);
    for (int i = 0; i < small; ++i) {
        fs::path folder = root / ("d" + std::to_string(i / 100));
        if (i % 100 == 0) fs::create_directories(folder);
        for (std::size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<char>(i * 7 + b);
        std::ofstream(folder / ("f" + std::to_string(i) + ".bin"), std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    fs::create_directories(root / "large");
    for (int i = 0; i < large; ++i)
        mirka::bench::MakeFile(root / "large" / ("l" + std::to_string(i) + ".bin"), 50'000'000);
}

Figures TarCopy(const fs::path& parent, const std::string& name, const fs::path& to) {
    std::uint16_t port = mirka::test::FreeLoopbackPort();
    std::string listen = "socat -u TCP-LISTEN:" + std::to_string(port) +
                         ",bind=127.0.0.1,reuseaddr - | tar -C '" + to.string() + "' -xf -";
    std::string send = "tar -C '" + parent.string() + "' -cf - '" + name +
                       "' | socat -u - TCP:127.0.0.1:" + std::to_string(port) +
                       ",retry=500,interval=0.002";
    auto start = Clock::now();
    pid_t listener = mirka::bench::Spawn({"sh", "-c", listen});
    pid_t sender = mirka::bench::Spawn({"sh", "-c", send});
    Figures figures;
    figures.senderCpu = mirka::bench::WaitForCpu(sender);
    figures.receiverCpu = mirka::bench::WaitForCpu(listener);
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return figures;
}

// Counts the transfer facts a window gets.
class FactCounter : public mirka::test::WindowRecorder {
public:
    void PostTransferFact(mirka::TransferFact fact) override {
        ++facts;
        WindowRecorder::PostTransferFact(std::move(fact));
    }
    std::atomic<int> facts{0};
};

bool Finished(mirka::test::WindowRecorder& window) {
    return mirka::test::FinishedRows(window.Transfers()) > 0;
}

// Refreshes the rows once a second, as the window does, until the folder has finished.
void RefreshUntilFinished(mirka::TaskManager& manager, FactCounter& window) {
    auto next = Clock::now();
    while (!Finished(window)) {
        if (Clock::now() >= next) {
            mirka::TaskManagerTestSeam::RefreshTransfers(manager);
            next += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Figures LinkCopy(const fs::path& folder, const fs::path& inbox, int facts[2]) {
    int pipeFacts[2];
    if (pipe(pipeFacts) != 0) std::_Exit(2);
    Figures figures = mirka::bench::RunSplit(
        [&](int out) {
            close(pipeFacts[0]);
            mirka::ProgramValues values;
            values.SetReceiveFolder(mirka::FromFsPath(inbox) + mirka::kPathSeparator);
            values.SetSoundOn(false);
            FactCounter window;
            mirka::TaskManager server(&values);
            server.ownerWindow = &window;
            server.SetCapabilities(mirka::kKnownCapabilities);
            std::uint16_t port = mirka::test::FreeLoopbackPort();
            Put<std::uint16_t>(out, port);
            server.StartServer(port);
            double cpuBefore = mirka::bench::CpuSeconds();
            RefreshUntilFinished(server, window);
            mirka::bench::Report(out, mirka::bench::CpuSeconds() - cpuBefore);
            Put<int>(pipeFacts[1], window.facts.load());
            server.ownerWindow = nullptr;
        },
        [&](std::uint16_t port, const std::function<void()>& await) {
            mirka::ProgramValues values;
            values.SetSoundOn(false);
            FactCounter window;
            mirka::TaskManager client(&values);
            client.ownerWindow = &window;
            client.SetCapabilities(mirka::kKnownCapabilities);
            mirka::bench::ConnectWhenListening(client, port);
            client.sendWait = 1;
            client.sendBufSize = 1 << 20;
            int row = window.Transfers().AddTransferRow(mirka::FromFsPath(folder));
            client.SendFile(mirka::FromFsPath(folder), row);
            await();
            RefreshUntilFinished(client, window);
            facts[0] = window.facts.load();
        });
    close(pipeFacts[1]);
    facts[1] = mirka::bench::Take<int>(pipeFacts[0]);
    close(pipeFacts[0]);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    int small = argc > 1 ? std::atoi(argv[1]) : 10000;
    int large = argc > 2 ? std::atoi(argv[2]) : 10;
    int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    mirka::test::TempFolder work;
    fs::path tree = work.Path() / "tree";
    MakeTree(tree, small, large);
    fs::path inbox = work.Path() / "inbox";
    auto fresh = [&] {
        fs::remove_all(inbox);
        fs::create_directory(inbox);
    };
    Figures none;
    none.seconds = 1e9;
    Figures bestTar = none, bestLink = none;
    for (int run = 0; run < runs; ++run) {
        fresh();
        Figures tar = TarCopy(work.Path(), "tree", inbox);
        fresh();
        int facts[2] = {0, 0};
        Figures link = LinkCopy(tree, inbox, facts);
        std::printf(
            "run %d: tar|socat %.2f s (CPU send %.2f s, receive %.2f s), link %.2f s "
            "(CPU send %.2f s, receive %.2f s), transfer facts: sender %d, receiver %d\n",
            run + 1, tar.seconds, tar.senderCpu, tar.receiverCpu, link.seconds, link.senderCpu,
            link.receiverCpu, facts[0], facts[1]);
        if (tar.seconds < bestTar.seconds) bestTar = tar;
        if (link.seconds < bestLink.seconds) bestLink = link;
    }
    std::printf("%d files of 4 KiB and %d of 50 MB, best of %d: tar|socat %.2f s, link %.2f s\n",
                small, large, runs, bestTar.seconds, bestLink.seconds);
    std::printf("ratio (tar time / link time): %.2f\n", bestTar.seconds / bestLink.seconds);
    fresh();
    return 0;
}
