#include <array>
#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/write.hpp>

#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "toolkit/platform.h"
#include "transfer_support.h"

// A link that ends in the middle of a several-MiB transfer: the partial file stays, and a
// new offer of the same file after the reconnect resumes it to a byte-identical copy.
namespace mirka {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using test::FinishedRows;
using test::ReadFile;
using test::TransferPair;
using test::WaitUntil;

constexpr std::size_t kBigFile = 6 * 1024 * 1024;

// Forwards one connection to a port on loopback until Break cuts both sides at once, as a
// pulled cable or a firewall would, while both programs stay alive.
class BreakableProxy {
public:
    explicit BreakableProxy(std::uint16_t target)
        : acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
          client(io),
          server(io),
          target(target) {
        worker = std::thread([this] { Serve(); });
    }
    ~BreakableProxy() { Break(); }
    std::uint16_t Port() const { return acceptor.local_endpoint().port(); }

    void Break() {
        ShutdownSocketHandle(acceptor.native_handle());
        {
            std::lock_guard<std::mutex> guard(setupLock);
            if (connected) {
                ShutdownSocketHandle(client.native_handle());
                ShutdownSocketHandle(server.native_handle());
            }
        }
        if (worker.joinable()) worker.join();
    }

private:
    void Serve() {
        {
            std::lock_guard<std::mutex> guard(setupLock);
            boost::system::error_code error;
            acceptor.accept(client, error);
            // The server may not listen yet: try for a while.
            for (int attempt = 0; !error && attempt < 500; ++attempt) {
                boost::system::error_code refused;
                server.close(refused);
                server.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), target), refused);
                if (!refused) break;
                if (attempt == 499) error = refused;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            connected = !error;
            if (!connected) return;
        }
        std::thread upstream([this] { Pump(client, server); });
        Pump(server, client);
        upstream.join();
    }
    static void Pump(tcp::socket& from, tcp::socket& to) {
        std::array<char, 64 * 1024> buffer;
        boost::system::error_code error;
        while (!error) {
            std::size_t got = from.read_some(asio::buffer(buffer), error);
            if (!error) asio::write(to, asio::buffer(buffer.data(), got), error);
        }
        ShutdownSocketHandle(to.native_handle());
        ShutdownSocketHandle(from.native_handle());
    }

    asio::io_context io;
    tcp::acceptor acceptor;
    tcp::socket client;
    tcp::socket server;
    std::uint16_t target;
    std::mutex setupLock;
    bool connected = false;
    std::thread worker;
};

std::size_t Count(const WString& text, WStringView part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::optional<TransferFigures> Figures(TaskManager& manager, TransferDirection direction,
                                       std::int32_t id) {
    for (const auto& figures : TaskManagerTestSeam::Figures(manager))
        if (figures.direction == direction && figures.taskId == id) return figures;
    return std::nullopt;
}

struct ResumeCase : TransferPair {
    ResumeCase() {
        content = test::RandomBytes(kBigFile, 11);
        source = outbox.Path() / "big.bin";
        test::WriteFile(source, content);
        partial = inbox.Path() / "big.bin.tmp";
    }
    // Sends the file at about 6 MiB/s and waits until a good part of it is on disk.
    void StartAndWaitForPart() {
        client->sendBufSize = 8192;
        Send(source);
        ASSERT_TRUE(WaitUntil([&] {
            std::error_code error;
            std::uintmax_t size = std::filesystem::file_size(partial, error);
            return !error && size >= 1024 * 1024;
        }));
    }
    // Offers the file again and checks that the new transfer starts near the partial file's
    // end (the last 2,048 bytes are received again), then lets it finish.
    void ResendAndExpectResume(std::uintmax_t partialSize) {
        client->sendBufSize = 2048;
        client->sendWait = 50;  // slow enough that the starting point shows
        int row = clientWindow.Transfers().Count();
        Send(source);
        // Tying the row to its task is no change the window sees: polled.
        ASSERT_TRUE(WaitUntil([&] { return clientWindow.Transfers().Row(row)->taskId >= 0; }));
        std::int32_t id = clientWindow.Transfers().Row(row)->taskId;
        ASSERT_TRUE(WaitUntil(
            [&] {
                auto figures = Figures(*client, TransferDirection::Sending, id);
                return figures &&
                       figures->transferred >= static_cast<std::int64_t>(partialSize) - 2048;
            },
            std::chrono::seconds(5)));
        client->sendWait = 1;
        client->sendBufSize = 64 * 1024;
        ASSERT_TRUE(serverWindow.WaitFor(
            [&] { return FinishedRows(serverWindow.Transfers()) == 1; }, std::chrono::seconds(30)));
    }
    void ExpectIdenticalAndNothingLeft() {
        EXPECT_TRUE(ReadFile(inbox.Path() / "big.bin") == content);
        EXPECT_FALSE(std::filesystem::exists(partial));
        // Only the resumed transfer counts as sent; the broken one is not reported done (it
        // would have been long before the resumed one's message).
        ASSERT_TRUE(WaitUntil([&] { return TaskManagerTestSeam::Figures(*client).empty(); }));
        ASSERT_TRUE(clientWindow.WaitFor(
            [&] { return Count(clientWindow.LogText(), u"ファイルの送信が完了しました") > 0; }));
        EXPECT_EQ(Count(clientWindow.LogText(), u"ファイルの送信が完了しました"), 1u);
        EXPECT_EQ(FinishedRows(clientWindow.Transfers()), 1);
        EXPECT_EQ(clientWindow.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
        EXPECT_TRUE(TaskManagerTestSeam::Figures(*server).empty());
    }

    std::vector<char> content;
    std::filesystem::path source;
    std::filesystem::path partial;
};

TEST(FaultResume, ReceiverProcessDiesAndANewOfferResumesThePartialFile) {
    ResumeCase pair;
    ASSERT_TRUE(pair.Link());
    pair.StartAndWaitForPart();
    pair.server.reset();  // the receiving program ends without a word
    ASSERT_TRUE(WaitUntil([&] { return pair.client->LinkState() == LINK_CLOSED; }));
    std::uintmax_t partialSize = std::filesystem::file_size(pair.partial);
    ASSERT_LT(partialSize, kBigFile);

    pair.server = std::make_unique<TaskManager>(&pair.serverValues);
    pair.server->ownerWindow = &pair.serverWindow;
    ASSERT_TRUE(pair.Link());
    pair.ResendAndExpectResume(partialSize);
    pair.ExpectIdenticalAndNothingLeft();
}

TEST(FaultResume, LinkCutWhileBothProgramsRunAndANewOfferResumes) {
    ResumeCase pair;
    std::uint16_t port = test::FreeLoopbackPort();
    std::thread waiter([&] { pair.server->StartServer(port); });
    BreakableProxy proxy(port);
    ASSERT_TRUE(pair.client->ConnectToServer("127.0.0.1", proxy.Port()));
    waiter.join();
    pair.StartAndWaitForPart();
    proxy.Break();
    ASSERT_TRUE(WaitUntil([&] {
        return pair.client->LinkState() == LINK_CLOSED && pair.server->LinkState() == LINK_CLOSED;
    }));
    // The receiving side lets go of its partial file, which a new offer then resumes.
    ASSERT_TRUE(pair.serverWindow.WaitFor([&] {
        return pair.serverWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
    }));
    EXPECT_TRUE(TaskManagerTestSeam::Figures(*pair.server).empty());
    std::uintmax_t partialSize = std::filesystem::file_size(pair.partial);
    ASSERT_LT(partialSize, kBigFile);

    ASSERT_TRUE(pair.Link());
    pair.ResendAndExpectResume(partialSize);
    pair.ExpectIdenticalAndNothingLeft();
}

}  // namespace
}  // namespace mirka
