// What a resumed transfer's kept part costs between two processes on loopback, both copies
// announcing every capability, the pace lifted:
// - stale: a file over a stale partial of another version (same size and first 2 KiB, the
//   partial half the file), against the same file sent fresh; bytes on the wire (the TCP
//   bytes the receiving side's link took in, frame headers included) of the file's size, and
//   the time. Once
//   more with a receiver that does not prove kept parts, as before the proof existed.
// - chat: a resume over a true partial of `chat MiB`; chat lines both ways every 20 ms from
//   the offer until the file is proven (the 2 MiB rest takes milliseconds), their
//   send-to-handler latency on either side.
// Usage: bench_kept_part [MiB, default 1024] [runs, default 3] [chat MiB, default 2048]
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "link/transfer/receive_paths.h"
#include "link/wire/delivery_frames.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"
#include "two_process.h"

namespace {

namespace fs = std::filesystem;
using mirka::bench::ChatClock;
using mirka::bench::CpuSeconds;
using mirka::bench::Put;

// The kernel's TCP_INFO goes on past the C library's struct: the bytes acknowledged follow
// two pacing rates.
struct TcpInfoWithBytes {
    tcp_info base;
    std::uint64_t pacingRate;
    std::uint64_t maxPacingRate;
    std::uint64_t bytesAcked;
    std::uint64_t bytesReceived;
};
static_assert(sizeof(tcp_info) == 104);

// The bytes received on this process's busiest TCP link (the link manager's one), read by the
// receiving side before it reports, while the link still stands.
std::uint64_t BytesReceived() {
    std::uint64_t most = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        int fd = std::atoi(entry.path().filename().c_str());
        TcpInfoWithBytes info{};
        socklen_t size = sizeof info;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && size >= sizeof info)
            most = std::max<std::uint64_t>(most, info.bytesReceived);
    }
    return most;
}

// Sends a chat line every 20 ms until stopped.
struct Chatter {
    explicit Chatter(mirka::TaskManager& manager)
        : thread([this, &manager] {
              while (!done) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  manager.QueueChatLine(mirka::bench::StampedLine(), u"bench");
              }
          }) {}
    ~Chatter() {
        done = true;
        thread.join();
    }
    std::atomic<bool> done{false};
    std::thread thread;
};

struct Run : mirka::bench::Figures {
    std::vector<double> chatToSender;  // chatMs: those to the receiver
};

// One verified transfer of `source` into `inbox` (which may hold a partial); `receiverBits`
// is what the receiving copy announces; `chat`: both sides chat all along.
Run Transfer(const fs::path& source, const fs::path& inbox, std::uint32_t receiverBits, bool chat) {
    Run run;
    static_cast<mirka::bench::Figures&>(run) = mirka::bench::RunSplit(
        [&](int out) {
            mirka::ProgramValues values;
            values.SetReceiveFolder(mirka::FromFsPath(inbox) + mirka::kPathSeparator);
            values.SetSoundOn(false);
            ChatClock window;
            mirka::TaskManager server(&values);
            server.ownerWindow = &window;
            server.SetCapabilities(receiverBits);
            std::uint16_t port = mirka::test::FreeLoopbackPort();
            Put<std::uint16_t>(out, port);
            server.StartServer(port);
            double cpuBefore = CpuSeconds();
            {
                std::optional<Chatter> chatter;
                if (chat) chatter.emplace(server);
                while (mirka::test::FinishedRows(window.Transfers()) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            double cpu = CpuSeconds() - cpuBefore;
            std::uint64_t wire = BytesReceived();
            server.ownerWindow = nullptr;
            mirka::bench::Report(out, cpu, wire, window.Latencies());
        },
        [&](std::uint16_t port, const std::function<void()>& await) {
            mirka::ProgramValues values;
            values.SetSoundOn(false);
            ChatClock window;
            mirka::TaskManager client(&values);
            client.ownerWindow = &window;
            client.SetCapabilities(mirka::kKnownCapabilities);
            mirka::bench::ConnectWhenListening(client, port);
            client.sendWait = 1;
            client.sendBufSize = 1 << 20;
            {
                std::optional<Chatter> chatter;
                if (chat) chatter.emplace(client);
                client.SendFile(mirka::FromFsPath(source),
                                window.Transfers().AddTransferRow(mirka::FromFsPath(source)));
                await();
            }
            client.ownerWindow = nullptr;
            run.chatToSender = window.Latencies();
        });
    return run;
}

// The first `bytes` of `from` as a partial the receiver kept, with another version's bytes
// from 2 KiB on when `stale`.
void LeavePartial(const fs::path& from, const fs::path& inbox, std::size_t bytes, bool stale) {
    fs::path partial = inbox / (from.filename().string() + ".tmp");
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(partial, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (std::size_t done = 0; done < bytes;) {
        std::size_t n = std::min(block.size(), bytes - done);
        in.read(block.data(), static_cast<std::streamsize>(n));
        if (stale)
            for (std::size_t i = done == 0 ? 2048 : 0; i < n; i += 64) block[i] ^= 0x5A;
        out.write(block.data(), static_cast<std::streamsize>(n));
        done += n;
    }
    out.close();
    if (!mirka::ReceivePaths::MarkAsPartial(mirka::FromFsPath(partial),
                                            static_cast<std::int64_t>(fs::file_size(from))))
        std::_Exit(5);
}

void Empty(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directory(folder);
}

double Max(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::size_t chatMib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2048;
    mirka::test::TempFolder work;
    fs::path source = work.Path() / "source.bin";
    mirka::bench::MakeFile(source, mib << 20);
    fs::path inbox = work.Path() / "inbox";
    fs::create_directory(inbox);
    double size = static_cast<double>(mib << 20);
    double gib = static_cast<double>(mib) / 1024.0;

    struct Kind {
        const char* title = "";
        bool stale = false;
        std::uint32_t receiverBits = 0;
        Run best;
        bool ran = false;
    };
    std::vector<Kind> kinds(3);
    kinds[0].title = "fresh send";
    kinds[0].receiverBits = mirka::kKnownCapabilities;
    kinds[1].title = "over a stale partial, kept part proven";
    kinds[1].stale = true;
    kinds[1].receiverBits = mirka::kKnownCapabilities;
    kinds[2].title = "over a stale partial, found at the end";
    kinds[2].stale = true;
    kinds[2].receiverBits = mirka::kKnownCapabilities & ~mirka::kKeptPartProof;
    Transfer(source, inbox, mirka::kKnownCapabilities, false);  // untimed: the file cache
    Empty(inbox);
    for (int round = 1; round <= runs; ++round) {
        for (Kind& kind : kinds) {
            if (kind.stale) LeavePartial(source, inbox, (mib << 20) / 2, true);
            // A partial a user finds was written long ago: its pages, and the last run's, are
            // on the disk before the clock starts, for every kind alike.
            ::sync();
            Run run = Transfer(source, inbox, kind.receiverBits, false);
            Empty(inbox);
            std::printf(
                "run %d: %s %.2f s, %.3f of the file on the wire (CPU per GiB: send "
                "%.2f s, receive %.2f s)\n",
                round, kind.title, run.seconds, run.wireBytes / size, run.senderCpu / gib,
                run.receiverCpu / gib);
            if (!kind.ran || run.seconds < kind.best.seconds) kind.best = run;
            kind.ran = true;
        }
    }
    for (const Kind& kind : kinds) {
        if (!kind.ran) continue;  // no timed runs asked for: the chat part alone
        std::printf(
            "%s, best of %d: %.2f s, %.3f of the file on the wire, %.2f of the fresh "
            "send's time\n",
            kind.title, runs, kind.best.seconds, kind.best.wireBytes / size,
            kind.best.seconds / kinds[0].best.seconds);
    }

    if (chatMib > 0) {
        // A true partial of chatMib, the file 2 MiB longer: the proof of the kept part is
        // nearly all of the run.
        fs::remove(source);
        mirka::bench::MakeFile(source, (chatMib + 2) << 20);
        LeavePartial(source, inbox, chatMib << 20, false);
        Run run = Transfer(source, inbox, mirka::kKnownCapabilities, true);
        Empty(inbox);
        std::printf("resume over a true %zu MiB partial: %.2f s, %.3f of the rest on the wire\n",
                    chatMib, run.seconds, run.wireBytes / static_cast<double>(2 << 20));
        std::printf(
            "  chat to the receiver: %zu lines, max %.2f ms; to the sender: %zu lines, "
            "max %.2f ms\n",
            run.chatMs.size(), Max(run.chatMs), run.chatToSender.size(), Max(run.chatToSender));
    }
    return 0;
}
