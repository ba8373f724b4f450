// Bounded soak of one pair of link managers (the program owns exactly one for its whole
// life): cycles of connect, files both ways with chat between them, disconnect (from each
// side in turn), reconnect. Prints per cycle the memory (VmRSS and the allocator's bytes in
// use), the threads and the open files of the process, and fails when the threads or open
// files grow between cycles, when the peak VmRSS of the second half of the cycles is more than
// 2 MiB above the first half's, or when a file or chat line goes wrong.
// Usage: bench_load_soak [seconds, default 180]
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "toolkit/file_system.h"

namespace {

using namespace mirka;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct ProcessFigures {
    long rssKiB = 0;
    long threads = 0;
    long openFiles = 0;
    long heapKiB = 0;  // bytes the allocator has handed out and not had back
};

ProcessFigures ReadProcessFigures() {
    ProcessFigures figures;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) figures.rssKiB = std::atol(line.c_str() + 6);
        if (line.rfind("Threads:", 0) == 0) figures.threads = std::atol(line.c_str() + 8);
    }
    figures.heapKiB = static_cast<long>(mallinfo2().uordblks / 1024);
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++figures.openFiles;
    return figures;
}

// Counts the boxes (connection refusals while a server comes up) and keeps nothing, so the
// soak's own memory stays flat.
class QuietPresenter : public MessagePresenter {
public:
    int Present(unsigned, const WString&, const WString&) override {
        ++shown;
        return kIdOk;
    }
    long shown = 0;
};

std::vector<char> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<char> bytes(size);
    for (auto& b : bytes) b = static_cast<char>(random());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

struct Side {
    explicit Side(const char* name) : manager(&values) {
        values.SetUserName(FromUtf8(name));
        values.SetReceiveFolder(inbox.WithSeparator());
        values.SetSoundOn(false);
        TaskManagerTestSeam::SetDisconnectPause(manager, std::chrono::milliseconds(100));
        manager.sendBufSize = 64 * 1024;
    }
    ProgramValues values;
    test::TempFolder inbox;
    test::TempFolder outbox;
    std::unique_ptr<test::WindowRecorder> window;
    TaskManager manager;
    std::vector<std::string> files;
};

std::size_t Count(const WString& text, WStringView part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// One cycle; returns an empty text when everything arrived as sent.
std::string Cycle(int cycle, Side& server, Side& client) {
    // A fresh window per link, as the recorders keep everything they are shown.
    server.window = std::make_unique<test::WindowRecorder>();
    client.window = std::make_unique<test::WindowRecorder>();
    server.manager.ownerWindow = server.window.get();
    client.manager.ownerWindow = client.window.get();
    if (!test::LinkManagers(server.manager, client.manager)) return "no link";
    constexpr int kLines = 5;
    for (std::size_t i = 0; i < client.files.size(); ++i) {
        client.manager.SendFile(FromFsPath(client.outbox.Path() / client.files[i]));
        server.manager.SendFile(FromFsPath(server.outbox.Path() / server.files[i]));
    }
    for (int i = 0; i < kLines; ++i) {
        client.manager.QueueChatLine(FromUtf8("up " + std::to_string(i)), u"client");
        server.manager.QueueChatLine(FromUtf8("down " + std::to_string(i)), u"server");
    }
    int rows = static_cast<int>(client.files.size() + server.files.size());
    bool done = test::WaitUntil(
        [&] {
            return test::FinishedRows(server.window->Transfers()) == rows &&
                   test::FinishedRows(client.window->Transfers()) == rows &&
                   Count(server.window->LogText(), u"\r\nup ") == kLines &&
                   Count(client.window->LogText(), u"\r\ndown ") == kLines;
        },
        std::chrono::seconds(60));
    if (!done) return "transfers or chat lines did not arrive";
    for (const auto& name : client.files)
        if (ReadAll(client.outbox.Path() / name) != ReadAll(server.inbox.Path() / name))
            return name + " differs";
    for (const auto& name : server.files)
        if (ReadAll(server.outbox.Path() / name) != ReadAll(client.inbox.Path() / name))
            return name + " differs";

    (cycle % 2 == 0 ? client : server).manager.Disconnect();
    if (!test::WaitUntil([&] {
            return server.manager.LinkState() == LINK_CLOSED &&
                   client.manager.LinkState() == LINK_CLOSED;
        }))
        return "the link did not close";
    for (Side* side : {&server, &client})
        for (const auto& entry : fs::directory_iterator(side->inbox.Path())) fs::remove(entry);
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 180;
    QuietPresenter boxes;
    InstallMessagePresenter(&boxes);
    Side server("server");
    Side client("client");
    const std::size_t sizes[] = {1536 * 1024, 300 * 1024, 2048, 0};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        client.files.push_back("up" + std::to_string(i) + ".bin");
        server.files.push_back("down" + std::to_string(i) + ".bin");
        WriteAll(client.outbox.Path() / client.files.back(), sizes[i], 10 + i);
        WriteAll(server.outbox.Path() / server.files.back(), sizes[i], 20 + i);
    }

    constexpr int kWarmUp = 3;
    std::vector<ProcessFigures> figures;
    auto start = Clock::now();
    int failures = 0;
    std::printf("cycle  seconds  VmRSS-KiB  heap-KiB  threads  open-files\n");
    for (int cycle = 0; cycle < kWarmUp + 2 ||
                        std::chrono::duration<double>(Clock::now() - start).count() < seconds;
         ++cycle) {
        auto cycleStart = Clock::now();
        std::string problem = Cycle(cycle, server, client);
        // The workers of the closed link end on their own; give them a moment.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        figures.push_back(ReadProcessFigures());
        const auto& f = figures.back();
        std::printf("%5d  %7.2f  %9ld  %8ld  %7ld  %10ld%s%s\n", cycle,
                    std::chrono::duration<double>(Clock::now() - cycleStart).count(), f.rssKiB,
                    f.heapKiB, f.threads, f.openFiles,
                    problem.empty() ? "" : "  FAIL: ", problem.c_str());
        if (!problem.empty()) {
            ++failures;
            break;
        }
    }

    if (figures.size() > kWarmUp) {
        const ProcessFigures& base = figures[kWarmUp - 1];
        long maxThreads = 0, maxFiles = 0;
        for (std::size_t i = kWarmUp; i < figures.size(); ++i) {
            maxThreads = std::max(maxThreads, figures[i].threads - base.threads);
            maxFiles = std::max(maxFiles, figures[i].openFiles - base.openFiles);
        }
        // Memory: the second half of the cycles against the first, after the warm-up.
        std::size_t middle = kWarmUp + (figures.size() - kWarmUp) / 2;
        long firstHalf = 0, secondHalf = 0;
        for (std::size_t i = kWarmUp; i < figures.size(); ++i) {
            long& peak = i < middle ? firstHalf : secondHalf;
            peak = std::max(peak, figures[i].rssKiB);
        }
        long growth = secondHalf - firstHalf;
        std::printf(
            "after %zu cycles: threads %+ld, open files %+ld against cycle %d; peak "
            "VmRSS %ld KiB in the first half, %ld KiB in the second (%+ld KiB)\n",
            figures.size(), maxThreads, maxFiles, kWarmUp - 1, firstHalf, secondHalf, growth);
        if (maxThreads > 0 || maxFiles > 0) {
            std::printf("FAIL: threads or open files grew between cycles\n");
            ++failures;
        }
        if (growth > 2 * 1024) {  // KiB
            std::printf("FAIL: memory keeps growing\n");
            ++failures;
        }
    }
    InstallMessagePresenter(nullptr);
    std::printf("%s\n", failures == 0 ? "load_soak: all checks passed" : "load_soak: FAILED");
    return failures == 0 ? 0 : 1;
}
