// A file transfer between two processes on loopback, as between two copies of the program,
// against a raw TCP file-to-file copy and socat made in the same run (the baselines). The
// link runs plain, plain with its queues left to the system, verified (SHA-256, and
// BLAKE2b-256 as with an older copy), and encrypted with each cipher; the plain runs chat
// every 100 ms as they send. Kinds alternate, three runs of each; the best of each kind is
// compared. Prints the time, the CPU seconds per GiB of the sending and the receiving
// process, the chat latency and the ratios.
// Usage: bench_two_process_transfer [MiB, default 1024] [runs, default 3] [kinds]
// where kinds, comma separated, picks among raw, socat, plain, system, verified, blake2b,
// xchacha, aes and cli (all by default). cli: two mirka-cli processes (they announce verified
// delivery, so they are held against the verified window-less pair as well; MIRKA_CLI in the
// environment picks the mirka-cli to run).
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "bench_support.h"
#include "link/wire/delivery_frames.h"
#include "secure/record_layer.h"
#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"
#include "two_process.h"

namespace {

using mirka::bench::ChatClock;
using mirka::bench::CpuSeconds;
using mirka::bench::Figures;
using mirka::bench::MakeFile;
using mirka::bench::Put;
using mirka::bench::RunSplit;
using mirka::bench::Spawn;
using mirka::bench::WaitForCpu;

using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

Figures RawCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
    return RunSplit(
        [&](int out) {
            asio::io_context io;
            tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
            Put<std::uint16_t>(out, acceptor.local_endpoint().port());
            tcp::socket socket(io);
            acceptor.accept(socket);
            double cpuBefore = CpuSeconds();
            std::ofstream file(to, std::ios::binary);
            std::vector<char> buffer(256 * 1024);
            boost::system::error_code error;
            for (;;) {
                std::size_t n = socket.read_some(asio::buffer(buffer), error);
                if (error) break;
                file.write(buffer.data(), static_cast<std::streamsize>(n));
            }
            file.close();
            mirka::bench::Report(out, CpuSeconds() - cpuBefore);
        },
        [&](std::uint16_t port, const std::function<void()>& await) {
            asio::io_context io;
            tcp::socket socket(io);
            socket.connect({asio::ip::make_address("127.0.0.1"), port});
            std::ifstream in(from, std::ios::binary);
            std::vector<char> buffer(256 * 1024);
            while (in) {
                in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                asio::write(socket,
                            asio::buffer(buffer.data(), static_cast<std::size_t>(in.gcount())));
            }
            socket.shutdown(tcp::socket::shutdown_send);
            await();
        });
}

// The window flashes once a transfer has finished; polling that costs next to nothing.
// The same copy with socat, where it is installed (the figure users compare with): the
// listener writes the file, the sender reads it; times until the listener is done.
std::optional<Figures> SocatCopy(const std::filesystem::path& from,
                                 const std::filesystem::path& to) {
    if (std::system("command -v socat >/dev/null 2>&1") != 0) return std::nullopt;
    std::uint16_t port = mirka::test::FreeLoopbackPort();
    auto start = Clock::now();
    pid_t listener =
        Spawn({"socat", "-u", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr",
               "CREATE:" + to.string()});
    pid_t sender = Spawn({"socat", "-u", "OPEN:" + from.string(),
                          "TCP:127.0.0.1:" + std::to_string(port) + ",retry=500,interval=0.002"});
    Figures figures;
    figures.senderCpu = WaitForCpu(sender);
    figures.receiverCpu = WaitForCpu(listener);
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return figures;
}

// Two mirka-cli processes, the waiting one receiving, at the window-less pair's pace, each
// writing its events as JSON lines to a pipe read here as they come. The clock runs as the
// window-less pair's does, from the link to the proof: from the first "linked" line to the
// sender's "end" of its file, verified (which it writes once the peer's receipt is in).
// Process start-up and the goodbye stay out of the time, their CPU seconds in.
std::optional<Figures> CliCopy(const std::filesystem::path& from,
                               const std::filesystem::path& inbox) {
    // MIRKA_CLI names another build of it, to hold two against each other.
    const char* other = std::getenv("MIRKA_CLI");
    std::string cli = other && *other ? other : MIRKA_CLI_PATH;
    std::string port = std::to_string(mirka::test::FreeLoopbackPort());
    // Standard output into a pipe, the rest to /dev/null; the pipe's read end is returned.
    auto spawn = [](std::vector<std::string> args, int& out) {
        int fds[2];
        if (pipe(fds) != 0) std::_Exit(2);
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(fds[1], 1);
            dup2(null, 2);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (auto& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            std::_Exit(127);
        }
        close(fds[1]);
        out = fds[0];
        return pid;
    };
    int receiverOut = -1;
    int senderOut = -1;
    pid_t receiver =
        spawn({cli, "wait", "--json", "--port", port, "--accept", "--receive-to", inbox.string()},
              receiverOut);
    pid_t sender = spawn({cli, "connect", "127.0.0.1:" + port, "--json", "--retry", "30", "--send",
                          from.string(), "--send-wait", "1", "--send-bufsize", "1048576"},
                         senderOut);
    std::optional<Clock::time_point> linked;
    std::optional<Clock::time_point> verified;
    struct Reader {
        int fd;
        bool sender;
        std::string pending;
    };
    std::vector<Reader> readers = {{receiverOut, false, {}}, {senderOut, true, {}}};
    // Every line is read to the end of both outputs, so neither process blocks on a full pipe.
    while (std::any_of(readers.begin(), readers.end(), [](const Reader& r) { return r.fd >= 0; })) {
        std::vector<pollfd> polled;
        for (const Reader& reader : readers)
            if (reader.fd >= 0) polled.push_back({reader.fd, POLLIN, 0});
        // Woken every millisecond, as the window-less pair's receiver looks for its proof: on
        // a virtual machine that poller alone keeps a processor from going idle and makes the
        // transfer beside it faster, so both kinds have one.
        if (poll(polled.data(), polled.size(), 1) < 0) continue;
        auto now = Clock::now();
        std::size_t next = 0;
        for (Reader& reader : readers) {
            if (reader.fd < 0) continue;
            const pollfd& ready = polled[next++];
            if (!(ready.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = read(reader.fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(reader.fd);
                reader.fd = -1;
                continue;
            }
            reader.pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = reader.pending.find('\n')) != std::string::npos;) {
                std::string line = reader.pending.substr(0, end);
                reader.pending.erase(0, end + 1);
                auto has = [&line](const char* text) {
                    return line.find(text) != std::string::npos;
                };
                if (!linked && has("\"event\":\"linked\"")) linked = now;
                if (reader.sender && !verified && has("\"event\":\"end\"") &&
                    has("\"direction\":\"send\"") && has("\"verified\":true"))
                    verified = now;
            }
        }
    }
    Figures figures;
    figures.receiverCpu = WaitForCpu(receiver);
    figures.senderCpu = WaitForCpu(sender);
    if (!linked || !verified) {
        std::printf("two mirka-cli processes: the send was not verified\n");
        return std::nullopt;
    }
    figures.seconds = std::chrono::duration<double>(*verified - *linked).count();
    return figures;
}

bool Finished(mirka::test::WindowRecorder& window) {
    return mirka::test::FinishedRows(window.Transfers()) > 0;
}

// Median and largest of the chat latencies.
void PrintChat(const char* what, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::printf("%s: %zu chat lines, send to handler median %.2f ms, max %.2f ms\n", what,
                ms.size(), ms[ms.size() / 2], ms.back());
}

// How the two copies link. System: plain, with the send and receive queues left to the
// system as the program once did (the baseline for keeping them short).
enum class Mode { Plain, System, Verified, Blake2b, XChaCha, Aes };

// The program's own transfer with the pacing lifted (sendWait 1, sendBufSize 1 MiB). Verified:
// both copies announce verified delivery, and the time runs until the receiver has proven the
// file (with SHA-256; Blake2b: announced as a copy that knows only BLAKE2b-256). XChaCha and
// Aes: a passphrase on both sides, with records in that cipher.
Figures LinkTransfer(const std::filesystem::path& from, const std::filesystem::path& inbox,
                     Mode mode) {
    std::uint32_t capabilities = mode == Mode::Verified ? mirka::kKnownCapabilities
                                 : mode == Mode::Blake2b
                                     ? mirka::kVerifiedDelivery | mirka::kFolders
                                     : 0;
    const char16_t* passphrase = mode == Mode::XChaCha || mode == Mode::Aes ? u"bench" : u"";
    bool aes = mode == Mode::Aes;
    return RunSplit(
        [&](int out) {
            mirka::ProgramValues values;
            values.SetReceiveFolder(mirka::FromFsPath(inbox) + mirka::kPathSeparator);
            values.SetSoundOn(false);
            ChatClock window;
            mirka::TaskManager server(&values);
            server.ownerWindow = &window;
            server.SetCapabilities(capabilities);
            server.SetPassphrase(passphrase);
            mirka::TaskManagerTestSeam::OfferAes(server, aes);
            if (mode == Mode::System) mirka::TaskManagerTestSeam::LeaveQueuesToTheSystem(server);
            std::uint16_t port = mirka::test::FreeLoopbackPort();
            Put<std::uint16_t>(out, port);
            server.StartServer(port);
            double cpuBefore = CpuSeconds();
            while (!Finished(window)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            double cpu = CpuSeconds() - cpuBefore;
            server.ownerWindow = nullptr;
            mirka::bench::Report(out, cpu, 0, window.Latencies());
        },
        [&](std::uint16_t port, const std::function<void()>& await) {
            mirka::ProgramValues values;
            values.SetSoundOn(false);
            mirka::test::WindowRecorder window;
            mirka::TaskManager client(&values);
            client.ownerWindow = &window;
            client.SetCapabilities(capabilities);
            client.SetPassphrase(passphrase);
            mirka::TaskManagerTestSeam::OfferAes(client, aes);
            if (mode == Mode::System) mirka::TaskManagerTestSeam::LeaveQueuesToTheSystem(client);
            mirka::bench::ConnectWhenListening(client, port);
            client.sendWait = 1;
            client.sendBufSize = 1 << 20;
            int row = window.Transfers().AddTransferRow(mirka::FromFsPath(from));
            client.SendFile(mirka::FromFsPath(from), row);
            // The plain runs chat every 100 ms while they send.
            bool chats = mode == Mode::Plain || mode == Mode::System;
            std::atomic<bool> done{false};
            std::thread chat([&] {
                while (chats && !done) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    client.QueueChatLine(mirka::bench::StampedLine(), u"bench");
                }
            });
            await();
            done = true;
            chat.join();
        });
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string only = argc > 3 ? argv[3] : "";
    auto wanted = [&](const std::string& name) {
        return only.empty() || ("," + only + ",").find("," + name + ",") != std::string::npos;
    };
    mirka::test::TempFolder work;
    auto source = work.Path() / "source.bin";
    MakeFile(source, mib << 20);
    auto inbox = work.Path() / "inbox";
    std::filesystem::create_directory(inbox);

    struct Kind {
        const char* name = "";
        const char* title = "";
        std::function<std::optional<Figures>()> run;
        Figures best;
        bool ran = false;
        std::vector<double> chatMs;  // every run's
    };
    auto fresh = [&] {
        std::filesystem::remove_all(inbox);
        std::filesystem::create_directory(inbox);
    };
    auto link = [&](Mode mode) {
        return [&, mode]() -> std::optional<Figures> {
            Figures figures = LinkTransfer(source, inbox, mode);
            fresh();
            return figures;
        };
    };
    auto copy = [&](auto how) {
        return [&, how]() -> std::optional<Figures> {
            auto target = work.Path() / "copy.bin";
            std::optional<Figures> figures = how(source, target);
            std::filesystem::remove(target);
            return figures;
        };
    };
    std::vector<Kind> kinds;
    auto add = [&](const char* name, const char* title,
                   std::function<std::optional<Figures>()> run) {
        Kind kind;
        kind.name = name;
        kind.title = title;
        kind.run = std::move(run);
        kinds.push_back(std::move(kind));
    };
    add("raw", "raw TCP copy",
        copy([](auto& a, auto& b) { return std::optional<Figures>(RawCopy(a, b)); }));
    add("socat", "socat copy", copy([](auto& a, auto& b) { return SocatCopy(a, b); }));
    add("plain", "link transfer", link(Mode::Plain));
    add("system", "link transfer, queues left to the system", link(Mode::System));
    add("verified", "verified link transfer", link(Mode::Verified));
    add("blake2b", "verified link transfer, BLAKE2b-256", link(Mode::Blake2b));
    add("xchacha", "encrypted link, XChaCha20-Poly1305", link(Mode::XChaCha));
    if (mirka::secure::AesGcmAvailable())
        add("aes", "encrypted link, AES-256-GCM", link(Mode::Aes));
    add("cli", "two mirka-cli processes (verified)", [&]() -> std::optional<Figures> {
        std::optional<Figures> figures = CliCopy(source, inbox);
        fresh();
        return figures;
    });

    // On a virtual machine, memory the guest has not used for a while costs the host a fault
    // per page when it is first written: an untimed copy first, so that the first kind
    // measured does not pay for the file cache of all that follow.
    kinds.front().run();

    double gib = static_cast<double>(mib) / 1024.0;
    std::vector<Kind*> order;
    for (Kind& kind : kinds)
        if (wanted(kind.name)) order.push_back(&kind);
    for (int run = 1; run <= runs; ++run) {
        // The kinds take turns to go first: on a virtual machine a run that follows another
        // may find the file cache's pages warm or cold by turns, and with a fixed order one
        // kind would always get the cold ones.
        for (Kind* next : order) {
            Kind& kind = *next;
            std::optional<Figures> figures = kind.run();
            if (!figures) continue;
            std::printf("run %d: %s %.2f s (CPU per GiB: send %.2f s, receive %.2f s)\n", run,
                        kind.title, figures->seconds, figures->senderCpu / gib,
                        figures->receiverCpu / gib);
            PrintChat("  chat during the send", figures->chatMs);
            kind.chatMs.insert(kind.chatMs.end(), figures->chatMs.begin(), figures->chatMs.end());
            if (!kind.ran || figures->seconds < kind.best.seconds) kind.best = *figures;
            kind.ran = true;
        }
        if (!order.empty()) std::rotate(order.begin(), order.begin() + 1, order.end());
    }
    double bytes = static_cast<double>(mib << 20);
    const Figures* plain = nullptr;
    const Figures* verified = nullptr;
    const Figures* cli = nullptr;
    for (const Kind& kind : kinds) {
        if (!kind.ran) continue;
        std::printf(
            "%s, best of %d: %.2f s (%.0f MB/s); CPU per GiB: send %.2f s, receive %.2f s\n",
            kind.title, runs, kind.best.seconds, bytes / kind.best.seconds / 1e6,
            kind.best.senderCpu / gib, kind.best.receiverCpu / gib);
        PrintChat("  chat over all runs", kind.chatMs);
        if (std::string(kind.name) == "plain") plain = &kind.best;
        if (std::string(kind.name) == "verified") verified = &kind.best;
        if (std::string(kind.name) == "cli") cli = &kind.best;
    }
    // The terminal end does what the verified window-less pair does, from the link to the
    // proof.
    if (cli && verified)
        std::printf("two mirka-cli processes: %.2f of the verified window-less pair's speed\n",
                    verified->seconds / cli->seconds);
    // Each kind's speed against the plain link's, both ways round: an encrypted link's target
    // reads as its speed of the plain link's, the plain link's against a copy or against the
    // queues left to the system as the plain link's speed of that one's.
    if (plain) {
        for (const Kind& kind : kinds) {
            if (!kind.ran || std::string(kind.name) == "plain") continue;
            std::printf("%s: %.2f of the plain link's speed; the plain link %.2f of its speed\n",
                        kind.title, plain->seconds / kind.best.seconds,
                        kind.best.seconds / plain->seconds);
        }
    }
    return 0;
}
