#include "fake_engine.h"

#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

namespace mirka::test {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {
constexpr std::size_t kMaxRequestBytes = 64 * 1024;
}

FakeEngine::FakeEngine(std::string page, Mode mode)
    : acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
      peer(io),
      page(std::move(page)),
      mode(mode) {
    port = acceptor.local_endpoint().port();
    acceptor.async_accept(peer, [this](const error_code& error) {
        if (error) return;
        asio::async_read_until(peer, asio::dynamic_buffer(received, kMaxRequestBytes), "\r\n\r\n",
                               [this](const error_code& e, std::size_t length) {
                                   if (!e) OnRequest(length);
                               });
    });
    thread = std::thread([this] { io.run(); });
}

FakeEngine::~FakeEngine() {
    io.stop();
    thread.join();
}

std::string FakeEngine::Request() {
    std::lock_guard<std::mutex> guard(lock);
    return request;
}

std::uint64_t FakeEngine::BytesSent() {
    std::lock_guard<std::mutex> guard(lock);
    return sent;
}

void FakeEngine::OnRequest(std::size_t length) {
    {
        std::lock_guard<std::mutex> guard(lock);
        request = received.substr(0, length);
    }
    if (mode == Mode::Silent) return;
    SendMore();
}

void FakeEngine::SendMore() {
    asio::async_write(peer, asio::buffer(page), [this](const error_code& error, std::size_t n) {
        {
            std::lock_guard<std::mutex> guard(lock);
            sent += n;
        }
        if (!error && mode == Mode::Endless) {
            SendMore();
            return;
        }
        error_code ignored;
        peer.shutdown(tcp::socket::shutdown_both, ignored);
        peer.close(ignored);
    });
}

std::uint16_t ClosedPort() {
    asio::io_context io;
    tcp::acceptor probe(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    std::uint16_t port = probe.local_endpoint().port();
    probe.close();
    return port;
}

}  // namespace mirka::test
