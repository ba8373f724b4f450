#include "search/page_reader.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

namespace mirka {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

constexpr std::size_t kReadChunkBytes = 16 * 1024;

// Runs one asynchronous operation at a time to its end or to the common deadline. At the
// deadline the socket and the lookup are cancelled, which completes the operation with an
// error.
class DeadlineClient {
public:
    explicit DeadlineClient(std::chrono::milliseconds timeout)
        : deadline(std::chrono::steady_clock::now() + timeout) {}

    bool Resolve(const std::string& host, std::uint16_t port, tcp::resolver::results_type& out) {
        error_code error = asio::error::would_block;
        resolver.async_resolve(host, std::to_string(port), tcp::resolver::numeric_service,
                               [&](const error_code& e, tcp::resolver::results_type results) {
                                   error = e;
                                   out = std::move(results);
                               });
        Wait(error);
        return !error;
    }

    bool Connect(const tcp::resolver::results_type& endpoints) {
        error_code error = asio::error::would_block;
        asio::async_connect(socket, endpoints,
                            [&](const error_code& e, const tcp::endpoint&) { error = e; });
        Wait(error);
        return !error;
    }

    bool Write(std::string_view data) {
        error_code error = asio::error::would_block;
        asio::async_write(socket, asio::buffer(data.data(), data.size()),
                          [&](const error_code& e, std::size_t) { error = e; });
        Wait(error);
        return !error;
    }

    // Bytes read into the buffer; 0 at the end of the answer, on an error or at the deadline.
    std::size_t ReadSome(asio::mutable_buffer buffer) {
        error_code error = asio::error::would_block;
        std::size_t count = 0;
        socket.async_read_some(buffer, [&](const error_code& e, std::size_t n) {
            error = e;
            count = n;
        });
        Wait(error);
        return error ? 0 : count;
    }

private:
    void Wait(error_code& error) {
        io.restart();
        io.run_until(deadline);
        if (error == asio::error::would_block) {
            error_code ignored;
            resolver.cancel();
            socket.close(ignored);
            io.restart();
            io.run();
            if (!error || error == asio::error::would_block) error = asio::error::timed_out;
        }
    }

    asio::io_context io;
    tcp::resolver resolver{io};
    tcp::socket socket{io};
    std::chrono::steady_clock::time_point deadline;
};

}  // namespace

void ReadPageLines(const SearchEngine& engine, std::string_view request,
                   const PageLineHandler& onLine) {
    std::string line;
    try {
        DeadlineClient client(engine.timeout);
        tcp::resolver::results_type endpoints;
        if (!client.Resolve(engine.host, engine.port, endpoints)) return;
        if (!client.Connect(endpoints)) return;
        if (!client.Write(request)) return;

        std::array<char, kReadChunkBytes> chunk;
        std::size_t total = 0;
        while (total < engine.maxPageBytes) {
            std::size_t want = std::min(chunk.size(), engine.maxPageBytes - total);
            std::size_t count = client.ReadSome(asio::buffer(chunk.data(), want));
            if (count == 0) break;
            total += count;
            std::string_view data(chunk.data(), count);
            for (std::size_t feed = data.find('\n'); feed != std::string_view::npos;
                 feed = data.find('\n')) {
                line.append(data.substr(0, feed));
                if (!onLine(line)) return;
                line.clear();
                data.remove_prefix(feed + 1);
            }
            line.append(data);
        }
    } catch (const std::exception&) {
        // Out of sockets or memory: the search ends like one that found nothing more.
    }
    if (!line.empty()) onLine(line);
}

}  // namespace mirka
