#include "link/transport/connector.h"

#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

namespace mirka {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

// The state of one Connect: all of it lives on the calling thread, which alone runs `io`.
class Race {
public:
    Race(std::vector<tcp::endpoint> order, std::chrono::milliseconds delay)
        : order(std::move(order)), delay(delay), timer(io) {}

    ConnectOutcome& Run() {
        outcome.error = asio::error::host_not_found;
        StartNext();
        io.run();
        return outcome;
    }

    // After Run, with a winner: hands its connection over.
    error_code HandOver(tcp::socket& socket) {
        error_code error;
        std::size_t index = *outcome.winner;
        const tcp::endpoint::protocol_type protocol = outcome.attempts[index].endpoint.protocol();
        tcp::socket::native_handle_type handle = sockets[index]->release(error);
        if (error) return error;
        socket.assign(protocol, handle, error);
        if (error) {
            // Closed by an object that takes it, rather than leaked.
            error_code ignored;
            tcp::socket(io).assign(protocol, handle, ignored);
            return error;
        }
        // The attempt ran non-blocking; the link reads and writes with blocking calls.
        socket.non_blocking(false, error);
        return error;
    }

private:
    void StartNext() {
        if (outcome.winner || next >= order.size()) return;
        std::size_t index = next++;
        outcome.attempts.push_back({order[index], {}});
        sockets.push_back(std::make_unique<tcp::socket>(io));
        sockets.back()->async_connect(
            order[index], [this, index](const error_code& error) { Ended(index, error); });
        if (next == order.size()) {
            // Nothing left to start: a pending wait must not hold Run up.
            timer.cancel();
            return;
        }
        // Each start re-arms the delay; a completion of an older wait is recognised as stale.
        std::size_t armed = ++generation;
        timer.expires_after(delay);
        timer.async_wait([this, armed](const error_code& error) {
            if (!error && armed == generation) StartNext();
        });
    }

    void Ended(std::size_t index, const error_code& error) {
        outcome.attempts[index].error = error;
        if (outcome.winner) return;  // cancelled, or too late
        if (!error) {
            outcome.winner = index;
            outcome.error = {};
            timer.cancel();
            for (std::size_t i = 0; i < sockets.size(); ++i) {
                error_code ignored;
                if (i != index) sockets[i]->close(ignored);
            }
            return;
        }
        outcome.error = error;
        // A failure frees the way at once; only a pending attempt is worth the delay.
        StartNext();
    }

    asio::io_context io;
    std::vector<tcp::endpoint> order;
    std::chrono::milliseconds delay;
    asio::steady_timer timer;
    std::vector<std::unique_ptr<tcp::socket>> sockets;
    std::size_t next = 0;
    std::size_t generation = 0;
    ConnectOutcome outcome;
};

}  // namespace

ConnectOutcome Connector::Connect(const std::vector<tcp::endpoint>& endpoints,
                                  tcp::socket& socket) const {
    Race race(AttemptOrder(endpoints), attemptDelay);
    ConnectOutcome& outcome = race.Run();
    if (outcome.winner) {
        error_code error = race.HandOver(socket);
        if (error) {
            outcome.error = error;
            outcome.winner.reset();
        }
    }
    return std::move(outcome);
}

std::vector<tcp::endpoint> Connector::AttemptOrder(const std::vector<tcp::endpoint>& endpoints) {
    std::vector<tcp::endpoint> v6;
    std::vector<tcp::endpoint> v4;
    for (const tcp::endpoint& endpoint : endpoints)
        (endpoint.address().is_v6() ? v6 : v4).push_back(endpoint);
    std::vector<tcp::endpoint> order;
    order.reserve(endpoints.size());
    for (std::size_t i = 0; i < v6.size() || i < v4.size(); ++i) {
        if (i < v6.size()) order.push_back(v6[i]);
        if (i < v4.size()) order.push_back(v4[i]);
    }
    return order;
}

std::optional<asio::ip::address_v6> Connector::IPv6Literal(const std::string& host) {
    std::string text = host;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    // Only an IPv6 literal holds a colon; anything else is left to the resolver.
    if (text.find(':') == std::string::npos) return std::nullopt;
    error_code error;
    asio::ip::address_v6 address = asio::ip::make_address_v6(text, error);
    if (error) return std::nullopt;
    return address;
}

}  // namespace mirka
