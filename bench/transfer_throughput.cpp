// Transfer speed between two link managers on loopback:
//  1. default pacing (2,048 bytes per pass, 1 ms sleep): bytes and passes per second;
//  2. pacing lifted (sendWait 1, sendBufSize 1 MiB): a 1 GiB file, against a raw TCP copy
//     of the same file measured in the same run, with peak RSS and chat latency.
// Usage: bench_transfer_throughput [MiB for the lifted run, default 1024]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include "bench_support.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace {

using mirka::bench::MakeFile;

using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;

// Raw copy: file -> socket -> file over 127.0.0.1, 256 KiB blocks.
double RawCopySeconds(const std::filesystem::path& from, const std::filesystem::path& to) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    auto start = Clock::now();
    std::thread receiver([&] {
        asio::ip::tcp::socket socket(io);
        acceptor.accept(socket);
        std::ofstream out(to, std::ios::binary);
        std::vector<char> buffer(256 * 1024);
        boost::system::error_code error;
        for (;;) {
            std::size_t n = socket.read_some(asio::buffer(buffer), error);
            if (error) break;
            out.write(buffer.data(), static_cast<std::streamsize>(n));
        }
    });
    asio::ip::tcp::socket socket(io);
    socket.connect(acceptor.local_endpoint());
    std::ifstream in(from, std::ios::binary);
    std::vector<char> buffer(256 * 1024);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        asio::write(socket, asio::buffer(buffer.data(), static_cast<std::size_t>(in.gcount())));
    }
    socket.shutdown(asio::ip::tcp::socket::shutdown_send);
    receiver.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Finished(mirka::test::WindowRecorder& window) {
    auto rows = window.Transfers().Rows();
    return !rows.empty() && rows.back().cells[mirka::kColumnPercent] == u"100.00%";
}

double TransferSeconds(const std::filesystem::path& file, std::uint16_t sendWait,
                       std::int32_t sendBufSize, double* worstChatMs) {
    mirka::test::TempFolder inbox;
    mirka::test::LinkedPair pair;
    pair.serverValues.SetReceiveFolder(inbox.WithSeparator());
    pair.serverValues.SetSoundOn(false);
    pair.clientValues.SetSoundOn(false);
    if (!pair.Link()) return -1;
    pair.client->sendWait = sendWait;
    pair.client->sendBufSize = sendBufSize;
    auto start = Clock::now();
    int row = pair.clientWindow.Transfers().AddTransferRow(mirka::FromFsPath(file));
    pair.client->SendFile(mirka::FromFsPath(file), row);
    double worst = 0;
    std::size_t chats = 0;
    while (!Finished(pair.serverWindow)) {
        if (worstChatMs) {
            // A chat line from the sending side, timed until the receiver shows it.
            std::size_t before = pair.serverWindow.Messages().size();
            auto sent = Clock::now();
            pair.client->QueueChatLine(u"ping", u"bench");
            while (pair.serverWindow.Messages().size() == before &&
                   Clock::now() - sent < std::chrono::seconds(5)) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            worst = std::max(
                worst, std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            ++chats;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (worstChatMs) *worstChatMs = worst;
    return seconds;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    mirka::test::TempFolder work;

    auto paced = work.Path() / "paced.bin";
    MakeFile(paced, 8 << 20);
    double pacedSeconds = TransferSeconds(paced, 1, 2048, nullptr);
    double bytesPerSecond = (8 << 20) / pacedSeconds;
    std::printf("default pacing: %.0f bytes/s, %.0f passes/s, %.1f %% of 2,048 bytes per ms\n",
                bytesPerSecond, bytesPerSecond / 2048, 100.0 * bytesPerSecond / 2048000.0);

    auto big = work.Path() / "big.bin";
    MakeFile(big, mib << 20);
    double raw = RawCopySeconds(big, work.Path() / "raw-copy.bin");
    std::filesystem::remove(work.Path() / "raw-copy.bin");
    long rssBefore = PeakRssKiB();
    double worstChat = 0;
    double lifted = TransferSeconds(big, 1, 1 << 20, &worstChat);
    double size = static_cast<double>(mib << 20);
    std::printf("raw TCP copy of %zu MiB: %.2f s (%.0f MB/s)\n", mib, raw, size / raw / 1e6);
    std::printf("link transfer of %zu MiB: %.2f s (%.0f MB/s) = %.1f %% of the raw copy\n", mib,
                lifted, size / lifted / 1e6, 100.0 * raw / lifted);
    std::printf("peak RSS: %ld KiB before the transfer, %ld KiB after\n", rssBefore, PeakRssKiB());
    std::printf("worst chat latency during the transfer: %.1f ms\n", worstChat);
    return 0;
}
