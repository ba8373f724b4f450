#include "upnp/udp_manager.h"

#include <array>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/address_v4.hpp>

#include "common/debug_log.h"

namespace mirka {

namespace asio = boost::asio;
using asio::ip::udp;

udp::endpoint SsdpMulticastEndpoint() {
    return udp::endpoint(asio::ip::make_address_v4("239.255.255.250"), 1900);
}

udp_manager::udp_manager(asio::io_context& context, udp::endpoint destination)
    : context(context), socket(context), destination(destination) {
    WriteDebugLog(kUpnpLogModule, __LINE__, "init:  udp manager {constructor}");
}

udp_manager::~udp_manager() {
    WriteDebugLog(kUpnpLogModule, __LINE__, "close: udp manager {destructor}");
    close();
}

bool udp_manager::connect() {
    WriteDebugLog(kUpnpLogModule, __LINE__, "connect:  udp manager");
    boost::system::error_code result;
    socket.open(udp::v4(), result);
    WriteDebugLog(kUpnpLogModule, __LINE__, "%s", result.message());
    if (result) return false;
    socket.bind(udp::endpoint(asio::ip::address_v4::any(), 0), result);
    WriteDebugLog(kUpnpLogModule, __LINE__, "%s", result.message());
    return !result;
}

std::size_t udp_manager::send(const std::string& text) {
    WriteDebugLog(kUpnpLogModule, __LINE__, "send: udp manager -> %s",
                  destination.address().to_string());
    boost::system::error_code result;
    std::size_t sent = socket.send_to(asio::buffer(text), destination, 0, result);
    WriteDebugLog(kUpnpLogModule, __LINE__, "%s", result.message());
    return result ? 0 : sent;
}

std::optional<std::string> udp_manager::receive() {
    WriteDebugLog(kUpnpLogModule, __LINE__, "receive: udp manager");
    std::array<char, kMaxSsdpAnswerBytes> data;
    udp::endpoint sender;
    boost::system::error_code result = asio::error::operation_aborted;
    std::size_t received = 0;
    bool done = false;
    // Waiting through the context keeps the socket on this one thread: the deadline's
    // handler runs here too, and its close cancels this receive instead of racing with it.
    socket.async_receive_from(asio::buffer(data), sender,
                              [&](const boost::system::error_code& error, std::size_t count) {
                                  result = error;
                                  received = count;
                                  done = true;
                              });
    context.restart();
    while (!done && context.run_one() > 0) {
    }
    if (!done || result) return std::nullopt;
    return std::string(data.data(), received);
}

void udp_manager::close() {
    boost::system::error_code ignored;
    socket.close(ignored);
    WriteDebugLog(kUpnpLogModule, __LINE__, "close: udp manager");
}

}  // namespace mirka
