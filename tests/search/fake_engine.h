#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace mirka::test {

// A search engine on 127.0.0.1 that takes one connection, reads the request up to its empty
// line and then answers as told.
class FakeEngine {
public:
    enum class Mode {
        Answer,   // sends the page and closes
        Silent,   // keeps the connection open and never answers
        Endless,  // sends the page over and over until the client goes away
    };

    explicit FakeEngine(std::string page, Mode mode = Mode::Answer);
    ~FakeEngine();

    FakeEngine(const FakeEngine&) = delete;
    FakeEngine& operator=(const FakeEngine&) = delete;

    std::uint16_t Port() const { return port; }
    // The request as received; empty until it is complete.
    std::string Request();
    std::uint64_t BytesSent();

private:
    void OnRequest(std::size_t length);
    void SendMore();

    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::ip::tcp::socket peer;
    std::string page;
    Mode mode;
    std::uint16_t port = 0;
    std::string received;

    std::mutex lock;
    std::string request;
    std::uint64_t sent = 0;

    std::thread thread;
};

// A port on 127.0.0.1 where nothing listens.
std::uint16_t ClosedPort();

}  // namespace mirka::test
