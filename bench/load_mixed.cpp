// Load on one link: 50 files of mixed sizes in each direction at once, with a chat line
// every 100 ms from each side while they run, at the default pacing (2,048 bytes per
// transfer and pass, 1 ms between passes).
// Checks: every file arrives byte-identical; every chat line arrives once and in order; no
// frame interleaved (both links stay up, no broken-header or null-text report, no message
// box). Prints the volume, the time, the throughput and the chat latency under load.
// Usage: bench_load_mixed [files per direction, default 50]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "toolkit/file_system.h"

namespace {

using namespace mirka;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Notes when each chat line numbered "<prefix> <n>" arrives.
class TimedWindow : public test::WindowRecorder {
public:
    explicit TimedWindow(std::string prefix) : prefix(FromUtf8(prefix + " ")) {}
    void AppendLogMessage(std::vector<LogRun> runs) override {
        WString text;
        for (const auto& run : runs) text += run.text;
        std::size_t at = text.find(prefix);
        if (at != WString::npos) {
            int number = std::stoi(ToUtf8(text.substr(at + prefix.size())));
            std::lock_guard<std::mutex> guard(lock);
            arrivals.emplace_back(number, Clock::now());
        }
        test::WindowRecorder::AppendLogMessage(std::move(runs));
    }
    std::vector<std::pair<int, Clock::time_point>> Arrivals() {
        std::lock_guard<std::mutex> guard(lock);
        return arrivals;
    }

private:
    WString prefix;
    std::mutex lock;
    std::vector<std::pair<int, Clock::time_point>> arrivals;
};

struct Side {
    Side(const char* name, const char* peerPrefix) : window(peerPrefix), manager(&values) {
        values.SetUserName(FromUtf8(name));
        values.SetReceiveFolder(inbox.WithSeparator());
        values.SetSoundOn(false);
        manager.ownerWindow = &window;
    }
    ProgramValues values;
    TimedWindow window;
    test::TempFolder inbox;
    test::TempFolder outbox;
    TaskManager manager;
    std::vector<std::pair<std::string, std::size_t>> files;
    std::vector<Clock::time_point> sentAt;
};

std::vector<char> Content(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<char> bytes(size);
    for (auto& b : bytes) b = static_cast<char>(random());
    return bytes;
}

std::vector<char> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

// Mixed sizes: the edges of a chunk, small, medium and a few files of some MiB.
std::size_t SizeOf(int i, std::mt19937& random) {
    static const std::size_t edges[] = {0, 1, 2047, 2048, 2049, 4096};
    if (i < 6) return edges[i];
    switch (random() % 10) {
        case 0:
        case 1:
            return 1024 * 1024 + random() % (3 * 1024 * 1024);
        case 2:
        case 3:
        case 4:
        case 5:
            return 16 * 1024 + random() % (512 * 1024);
        default:
            return random() % (16 * 1024);
    }
}

std::size_t MakeFiles(Side& side, const char* stem, int count, unsigned seed) {
    std::mt19937 random(seed);
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) {
        std::string name = std::string(stem) + std::to_string(i) + ".bin";
        std::size_t size = SizeOf(i, random);
        auto bytes = Content(size, seed * 1000 + static_cast<unsigned>(i));
        std::ofstream(side.outbox.Path() / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        side.files.emplace_back(name, size);
        total += size;
    }
    return total;
}

// Every line numbered 0..sent-1 exactly once and in order; returns the failures.
int CheckChat(const char* who, TimedWindow& window, const std::vector<Clock::time_point>& sentAt,
              std::vector<double>& latencies) {
    auto arrivals = window.Arrivals();
    int failures = 0;
    if (arrivals.size() != sentAt.size()) {
        std::printf("FAIL %s: %zu chat lines arrived of %zu\n", who, arrivals.size(),
                    sentAt.size());
        ++failures;
    }
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        if (arrivals[i].first != static_cast<int>(i)) {
            std::printf("FAIL %s: line %zu arrived as number %d\n", who, i, arrivals[i].first);
            return failures + 1;
        }
        if (i < sentAt.size())
            latencies.push_back(
                std::chrono::duration<double, std::milli>(arrivals[i].second - sentAt[i]).count());
    }
    return failures;
}

int CheckFiles(const char* who, Side& from, Side& to) {
    int failures = 0;
    for (const auto& [name, size] : from.files) {
        if (ReadAll(from.outbox.Path() / name) != ReadAll(to.inbox.Path() / name)) {
            std::printf("FAIL %s: %s (%zu bytes) differs or is missing\n", who, name.c_str(), size);
            ++failures;
        }
    }
    return failures;
}

int CheckLog(const char* who, Side& side) {
    WString log = side.window.LogText();
    for (WStringView bad : {WStringView(u"Error: Null Pointer"), WStringView(u"SystemError")}) {
        if (log.find(bad) != WString::npos) {
            std::printf("FAIL %s: the log reports %s\n", who, ToUtf8(bad).c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 50;
    test::MessageRecorder boxes;
    Side server("server", "client line");
    Side client("client", "server line");
    std::size_t up = MakeFiles(client, "up", count, 1);
    std::size_t down = MakeFiles(server, "down", count, 2);
    if (!test::LinkManagers(server.manager, client.manager)) {
        std::printf("FAIL: no link\n");
        return 1;
    }
    std::size_t connectBoxes = boxes.Boxes().size();  // refusals while the server came up

    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        client.manager.SendFile(FromFsPath(client.outbox.Path() / client.files[i].first));
        server.manager.SendFile(FromFsPath(server.outbox.Path() / server.files[i].first));
    }
    // A chat line from each side every 100 ms until every transfer is done on both sides.
    auto allDone = [&] {
        return test::FinishedRows(server.window.Transfers()) == 2 * count &&
               test::FinishedRows(client.window.Transfers()) == 2 * count;
    };
    auto deadline = start + std::chrono::minutes(5);
    int lines = 0;
    while (!allDone() && Clock::now() < deadline) {
        client.sentAt.push_back(Clock::now());
        client.manager.QueueChatLine(FromUtf8("client line " + std::to_string(lines)), u"client");
        server.sentAt.push_back(Clock::now());
        server.manager.QueueChatLine(FromUtf8("server line " + std::to_string(lines)), u"server");
        ++lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    test::WaitUntil([&] {
        return server.window.Arrivals().size() == client.sentAt.size() &&
               client.window.Arrivals().size() == server.sentAt.size();
    });

    int failures = allDone() ? 0 : 1;
    if (failures) std::printf("FAIL: transfers not done within 5 minutes\n");
    failures += CheckFiles("client to server", client, server);
    failures += CheckFiles("server to client", server, client);
    std::vector<double> latencies;
    failures += CheckChat("at the server", server.window, client.sentAt, latencies);
    failures += CheckChat("at the client", client.window, server.sentAt, latencies);
    failures += CheckLog("server", server) + CheckLog("client", client);
    if (server.manager.LinkState() != LINK_SERVER || client.manager.LinkState() != LINK_CLIENT) {
        std::printf("FAIL: a link closed under load\n");
        ++failures;
    }
    if (boxes.Boxes().size() > connectBoxes) {
        std::printf("FAIL: %zu message boxes, the first: %s\n", boxes.Boxes().size() - connectBoxes,
                    ToUtf8(boxes.Boxes()[connectBoxes].text).c_str());
        ++failures;
    }

    std::sort(latencies.begin(), latencies.end());
    double mib = static_cast<double>(up + down) / (1024.0 * 1024.0);
    std::printf("files: %d each way; client to server %.1f MiB, server to client %.1f MiB\n", count,
                up / 1048576.0, down / 1048576.0);
    std::printf("time: %.2f s for all %d transfers; %.1f MiB/s both ways together\n", seconds,
                2 * count, mib / seconds);
    if (!latencies.empty()) {
        std::printf("chat: %zu lines each way; latency median %.1f ms, 99th %.1f ms, max %.1f ms\n",
                    client.sentAt.size(), latencies[latencies.size() / 2],
                    latencies[latencies.size() * 99 / 100], latencies.back());
    }
    std::printf("%s\n", failures == 0 ? "load_mixed: all checks passed" : "load_mixed: FAILED");
    return failures == 0 ? 0 : 1;
}
