#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace mirka {

// The port mapping writes its debug log entries under the shell's module name.
inline constexpr std::string_view kUpnpLogModule = "main";

inline constexpr std::size_t kMaxSsdpAnswerBytes = 4096;

// The SSDP multicast group 239.255.255.250, port 1900.
boost::asio::ip::udp::endpoint SsdpMulticastEndpoint();

// The UDP socket of one gateway search: connected, used for one send and one receive, then
// destroyed. Every operation notes itself in the debug log with the system's result text.
class udp_manager {
public:
    explicit udp_manager(boost::asio::io_context& context,
                         boost::asio::ip::udp::endpoint destination = SsdpMulticastEndpoint());
    virtual ~udp_manager();

    udp_manager(const udp_manager&) = delete;
    udp_manager& operator=(const udp_manager&) = delete;

    // Opens an IPv4 socket bound to a port the system chooses; no socket options.
    bool connect();
    // One datagram to the destination; the bytes sent, 0 on failure.
    std::size_t send(const std::string& text);
    // Waits for the first datagram from anyone (at most kMaxSsdpAnswerBytes). The context runs
    // meanwhile, so a deadline armed on it can close the socket, which ends the wait: then, or
    // on any other failure, the result is empty.
    std::optional<std::string> receive();
    void close();

private:
    boost::asio::io_context& context;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::udp::endpoint destination;
};

}  // namespace mirka
