// A file transfer between two processes on loopback, as between two copies of the program,
// against a raw TCP file-to-file copy made in the same run (the baseline). Runs alternate,
// three of each; the best of each kind is compared. Prints the time, the ratio, and the CPU
// seconds per GiB of the sending and the receiving process; the link runs once plain and
// once with verified delivery.
// Usage: bench_two_process_transfer [MiB, default 1024] [runs, default 3]
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
#include "link/delivery_frames.h"
#include "secure/record_layer.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"
#include "two_process.h"

namespace {

using mirka::bench::CpuSeconds;
using mirka::bench::Figures;
using mirka::bench::MakeFile;
using mirka::bench::Put;
using mirka::bench::RunSplit;
using mirka::bench::Spawn;
using mirka::bench::Take;
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
            Put<double>(out, CpuSeconds() - cpuBefore);
            Put<int>(out, 0);  // no chat
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

bool Finished(mirka::test::WindowRecorder& window) {
    return mirka::test::FinishedRows(window.Transfers()) > 0;
}

// Chat lines carry the steady clock of their send call ("t=<ns>"), which both processes
// share; the receiving window notes how long each took to reach it.
class ChatClock : public mirka::test::WindowRecorder {
public:
    void AppendLogMessage(std::vector<mirka::LogRun> runs) override {
        auto now = Clock::now().time_since_epoch();
        for (const auto& run : runs) {
            std::size_t at = run.text.find(u"t=");
            if (at == mirka::WString::npos) continue;
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

// Median and largest of the chat latencies.
void PrintChat(const char* what, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::printf("%s: %zu chat lines, send to handler median %.2f ms, max %.2f ms\n", what,
                ms.size(), ms[ms.size() / 2], ms.back());
}

// How the two copies link.
enum class Mode { Plain, Verified, XChaCha, Aes };

// The program's own transfer with the pacing lifted (sendWait 1, sendBufSize 1 MiB). Verified:
// both copies announce verified delivery, and the time runs until the receiver has proven the
// file. XChaCha and Aes: a passphrase on both sides, with records in that cipher.
Figures LinkTransfer(const std::filesystem::path& from, const std::filesystem::path& inbox,
                     Mode mode) {
    std::uint32_t capabilities = mode == Mode::Verified ? mirka::kKnownCapabilities : 0;
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
            server.OfferAes(aes);
            std::uint16_t port = mirka::test::FreeLoopbackPort();
            Put<std::uint16_t>(out, port);
            server.StartServer(port);
            double cpuBefore = CpuSeconds();
            while (!Finished(window)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Put<double>(out, CpuSeconds() - cpuBefore);
            server.ownerWindow = nullptr;
            auto latencies = window.Latencies();
            Put<int>(out, static_cast<int>(latencies.size()));
            for (double ms : latencies) Put<double>(out, ms);
        },
        [&](std::uint16_t port, const std::function<void()>& await) {
            mirka::ProgramValues values;
            values.SetSoundOn(false);
            mirka::test::WindowRecorder window;
            mirka::TaskManager client(&values);
            client.ownerWindow = &window;
            client.SetCapabilities(capabilities);
            client.SetPassphrase(passphrase);
            client.OfferAes(aes);
            mirka::bench::ConnectWhenListening(client, port);
            client.sendWait = 1;
            client.sendBufSize = 1 << 20;
            int row = window.Transfers().AddTransferRow(mirka::FromFsPath(from));
            client.SendFile(mirka::FromFsPath(from), row);
            // The plain run chats every 100 ms while it sends.
            std::atomic<bool> done{false};
            std::thread chat([&] {
                while (mode == Mode::Plain && !done) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        Clock::now().time_since_epoch());
                    client.QueueChatLine(mirka::FromUtf8("t=" + std::to_string(ns.count())),
                                         u"bench");
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
    mirka::test::TempFolder work;
    auto source = work.Path() / "source.bin";
    MakeFile(source, mib << 20);
    auto inbox = work.Path() / "inbox";
    std::filesystem::create_directory(inbox);

    Figures none;
    none.seconds = 1e9;  // slower than any run
    Figures bestRaw = none, bestLink = none, bestVerified = none, bestXChaCha = none,
            bestAes = none, bestSocat = none;
    bool aesHere = mirka::secure::AesGcmAvailable();
    double gib = static_cast<double>(mib) / 1024.0;
    for (int run = 0; run < runs; ++run) {
        Figures raw = RawCopy(source, work.Path() / "raw-copy.bin");
        std::filesystem::remove(work.Path() / "raw-copy.bin");
        if (auto socat = SocatCopy(source, work.Path() / "socat-copy.bin")) {
            std::printf("run %d: socat %.2f s (CPU send %.2f s, receive %.2f s)\n", run + 1,
                        socat->seconds, socat->senderCpu, socat->receiverCpu);
            if (socat->seconds < bestSocat.seconds) bestSocat = *socat;
            std::filesystem::remove(work.Path() / "socat-copy.bin");
        }
        auto fresh = [&] {
            std::filesystem::remove_all(inbox);
            std::filesystem::create_directory(inbox);
        };
        Figures link = LinkTransfer(source, inbox, Mode::Plain);
        fresh();
        Figures verified = LinkTransfer(source, inbox, Mode::Verified);
        fresh();
        Figures xchacha = LinkTransfer(source, inbox, Mode::XChaCha);
        fresh();
        std::printf(
            "run %d: encrypted XChaCha20-Poly1305 %.2f s (CPU send %.2f s, receive %.2f s)\n",
            run + 1, xchacha.seconds, xchacha.senderCpu, xchacha.receiverCpu);
        if (xchacha.seconds < bestXChaCha.seconds) bestXChaCha = xchacha;
        if (aesHere) {
            Figures aes = LinkTransfer(source, inbox, Mode::Aes);
            fresh();
            std::printf("run %d: encrypted AES-256-GCM %.2f s (CPU send %.2f s, receive %.2f s)\n",
                        run + 1, aes.seconds, aes.senderCpu, aes.receiverCpu);
            if (aes.seconds < bestAes.seconds) bestAes = aes;
        }
        std::printf(
            "run %d: raw %.2f s (CPU send %.2f s, receive %.2f s), link %.2f s (CPU send "
            "%.2f s, receive %.2f s), verified %.2f s (CPU send %.2f s, receive %.2f s)\n",
            run + 1, raw.seconds, raw.senderCpu, raw.receiverCpu, link.seconds, link.senderCpu,
            link.receiverCpu, verified.seconds, verified.senderCpu, verified.receiverCpu);
        if (raw.seconds < bestRaw.seconds) bestRaw = raw;
        if (link.seconds < bestLink.seconds) bestLink = link;
        PrintChat("  chat during the plain run", link.chatMs);
        if (verified.seconds < bestVerified.seconds) bestVerified = verified;
    }
    double bytes = static_cast<double>(mib << 20);
    auto print = [&](const char* what, const Figures& best) {
        std::printf(
            "%s, best of %d: %.2f s (%.0f MB/s); CPU per GiB: send %.2f s, receive %.2f s\n", what,
            runs, best.seconds, bytes / best.seconds / 1e6, best.senderCpu / gib,
            best.receiverCpu / gib);
    };
    print("raw TCP copy", bestRaw);
    print("link transfer", bestLink);
    print("verified link transfer", bestVerified);
    std::printf("ratio (raw time / link time): %.2f\n", bestRaw.seconds / bestLink.seconds);
    std::printf("ratio (link time / verified time): %.2f\n",
                bestLink.seconds / bestVerified.seconds);
    print("encrypted link, XChaCha20-Poly1305", bestXChaCha);
    std::printf("ratio (link time / XChaCha20-Poly1305 time): %.2f\n",
                bestLink.seconds / bestXChaCha.seconds);
    if (aesHere) {
        print("encrypted link, AES-256-GCM", bestAes);
        std::printf("ratio (link time / AES-256-GCM time): %.2f\n",
                    bestLink.seconds / bestAes.seconds);
    }
    if (bestSocat.seconds < 1e9) {
        print("socat copy", bestSocat);
        std::printf("ratio (socat time / link time): %.2f\n", bestSocat.seconds / bestLink.seconds);
    }
    return 0;
}
