#include "support/loopback.h"
#include "support/task_manager_seam.h"

#include <atomic>
#include <thread>

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "support/frames.h"
#include "support/wait.h"

namespace mirka::test {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

bool SocketHandOverWorks() {
    asio::io_context io;
    tcp::socket socket(io);
    boost::system::error_code error;
    socket.open(tcp::v4(), error);
    if (error) return false;
    tcp::socket::native_handle_type handle = socket.release(error);
    if (error) return error != asio::error::operation_not_supported;
    // Closed by a socket that takes it.
    tcp::socket(io).assign(tcp::v4(), handle, error);
    return true;
}

std::uint16_t FreeLoopbackPort() {
    asio::io_context io;
    tcp::acceptor probe(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return probe.local_endpoint().port();
}

LinkedPair::LinkedPair()
    : server(std::make_unique<TaskManager>(&serverValues)),
      client(std::make_unique<TaskManager>(&clientValues)) {
    serverValues.SetUserName(u"server");
    clientValues.SetUserName(u"client");
    server->ownerWindow = &serverWindow;
    client->ownerWindow = &clientWindow;
}

LinkedPair::~LinkedPair() {
    client.reset();
    server.reset();
}

bool LinkManagers(TaskManager& server, TaskManager& client, std::uint16_t* usedPort,
                  const std::string& host) {
    std::uint16_t port = FreeLoopbackPort();
    if (usedPort) *usedPort = port;
    std::atomic<bool> serverDone{false};
    std::thread waiter([&] {
        server.StartServer(port);
        serverDone = true;
    });
    // Connecting before the server listens would be refused on every address but one
    // that never answers, and the client would then wait for that one.
    WaitUntil([&] { return TaskManagerTestSeam::WaitsForPeer(server) || serverDone; });
    bool connected = false;
    for (int attempt = 0; attempt < 200 && !connected; ++attempt) {
        MessageRecorder quiet;  // refusals while the server is not listening yet
        connected = client.ConnectToServer(host, port);
        if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!connected) server.CancelServerWait();
    waiter.join();
    return connected && serverDone && server.LinkState() == LINK_SERVER &&
           client.LinkState() == LINK_CLIENT;
}

int FinishedRows(const RecordedRows& rows) {
    // A finished row reads 100 %, the speed "0" and the size in its transferred cell.
    int count = 0;
    for (const auto& row : rows.Rows()) {
        const auto& cells = row.cells;
        count += cells[kColumnPercent] == u"100.00%" && cells[kColumnSpeed] == u"0" &&
                 cells[kColumnTransferred] == cells[kColumnSize];
    }
    return count;
}

bool LinkedPair::Link() {
    return LinkManagers(*server, *client, &port);
}

FakePeer::FakePeer() : socket(io) {}

bool FakePeer::Connect(std::uint16_t port) {
    boost::system::error_code error;
    for (int attempt = 0; attempt < 200; ++attempt) {
        socket.close(error);
        socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), error);
        if (!error) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::uint16_t FakePeer::Listen() {
    acceptor =
        std::make_unique<tcp::acceptor>(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return acceptor->local_endpoint().port();
}

bool FakePeer::Accept() {
    boost::system::error_code error;
    acceptor->accept(socket, error);
    return !error;
}

void FakePeer::Send(const std::vector<std::uint8_t>& bytes) {
    boost::system::error_code error;
    asio::write(socket, asio::buffer(bytes), error);
}

void FakePeer::SendFrame(const FrameHeader& header, const std::vector<std::uint8_t>& payload) {
    Send(EncodeFrame(header.code, header.taskField, header.lengthField, payload));
}

bool FakePeer::Read(std::vector<std::uint8_t>& bytes, std::size_t n, int timeoutMs) {
    bytes.assign(n, 0);
    bool done = false;
    boost::system::error_code result;
    asio::async_read(socket, asio::buffer(bytes),
                     [&](const boost::system::error_code& e, std::size_t) {
                         done = true;
                         result = e;
                     });
    io.restart();
    io.run_for(std::chrono::milliseconds(timeoutMs));
    if (!done) {
        boost::system::error_code ignored;
        socket.cancel(ignored);
        io.restart();
        io.run();
        return false;
    }
    return !result;
}

bool FakePeer::ReadHeader(FrameHeader& header, int timeoutMs) {
    std::vector<std::uint8_t> bytes;
    if (!Read(bytes, FrameHeader::kBytes, timeoutMs)) return false;
    header = FrameHeader::Decode(bytes.data());
    return true;
}

void FakePeer::Close() {
    boost::system::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

bool FakePeer::ClosedByPeer(int timeoutMs) {
    // Reads and drops whatever still comes until the end of the stream.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> byte;
    while (std::chrono::steady_clock::now() < deadline) {
        bool done = false;
        boost::system::error_code result;
        std::uint8_t buffer[4096];
        socket.async_read_some(asio::buffer(buffer),
                               [&](const boost::system::error_code& e, std::size_t) {
                                   done = true;
                                   result = e;
                               });
        io.restart();
        io.run_for(std::chrono::milliseconds(100));
        if (!done) {
            boost::system::error_code ignored;
            socket.cancel(ignored);
            io.restart();
            io.run();
            continue;
        }
        if (result) return true;
    }
    return false;
}

std::vector<std::uint8_t> Utf16LeBytes(const WString& text) {
    return EncodeUtf16Le(text);
}

}  // namespace mirka::test
