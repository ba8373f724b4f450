#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v6.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace mirka {

// One connection attempt and how it ended; operation_aborted means it was still under way
// when another attempt won.
struct ConnectAttempt {
    boost::asio::ip::tcp::endpoint endpoint;
    boost::system::error_code error;
};

struct ConnectOutcome {
    // Empty when connected; otherwise the last attempt's failure (host_not_found when there
    // was nothing to try).
    boost::system::error_code error;
    // In the order they were started.
    std::vector<ConnectAttempt> attempts;
    std::optional<std::size_t> winner;  // index into attempts
};

// Connects to the first of several addresses that answers, Happy Eyeballs style: IPv6
// first, the families taking turns, each next attempt started when the one before fails or
// after a short delay while it is still pending, so that a broken family costs that delay
// instead of the system's connect time-out. The first to connect wins; the others are
// cancelled. Blocks the calling thread; runs its own I/O context on it.
class Connector {
public:
    // The delay RFC 8305 recommends between two attempts.
    static constexpr std::chrono::milliseconds kAttemptDelay{250};

    explicit Connector(std::chrono::milliseconds attemptDelay = kAttemptDelay)
        : attemptDelay(attemptDelay) {}

    // On success the connected socket moves into `socket` (which must not be open) and
    // works in blocking mode, like one connected by a plain connect.
    ConnectOutcome Connect(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints,
                           boost::asio::ip::tcp::socket& socket) const;

    // The order of the attempts: IPv6 first, then the families alternate; within a family
    // the resolver's order is kept.
    static std::vector<boost::asio::ip::tcp::endpoint> AttemptOrder(
        const std::vector<boost::asio::ip::tcp::endpoint>& endpoints);

    // An IPv6 address typed as the host, bare or in brackets, with or without a zone
    // ("fe80::1%eth0"); nothing when the text is anything else.
    static std::optional<boost::asio::ip::address_v6> IPv6Literal(const std::string& host);

private:
    std::chrono::milliseconds attemptDelay;
};

}  // namespace mirka
