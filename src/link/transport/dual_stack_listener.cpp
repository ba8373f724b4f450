#include "link/transport/dual_stack_listener.h"

#include <boost/asio/ip/v6_only.hpp>

namespace mirka {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

error_code Listen(tcp::acceptor& acceptor, const tcp::endpoint& endpoint, bool dualStack) {
    error_code error;
    acceptor.open(endpoint.protocol(), error);
    // An IPv6 socket that would not take IPv4 peers would shut out everyone who could reach
    // this side before; IPv4 alone is better then.
    if (!error && dualStack) acceptor.set_option(asio::ip::v6_only(false), error);
#ifdef _WIN32
    // Windows rebinds a listening port without help, and its SO_REUSEADDR would let a second
    // program bind the same port: this side asks for the port alone instead.
    if (!error) {
        BOOL exclusive = TRUE;
        if (::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                         reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0)
            error = error_code(::WSAGetLastError(), asio::error::get_system_category());
    }
#else
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        error_code ignored;
        acceptor.close(ignored);
    }
    return error;
}

// Failures that say this system has no IPv6 to offer, as opposed to failures of the port.
bool IPv6Unavailable(const error_code& error) {
    return error == asio::error::address_family_not_supported ||
           error == asio::error::no_protocol_option ||
           error == boost::system::errc::address_not_available ||
           error == boost::system::errc::protocol_not_supported;
}

}  // namespace

error_code OpenListener(tcp::acceptor& acceptor, std::uint16_t port) {
    error_code error = Listen(acceptor, tcp::endpoint(tcp::v6(), port), true);
    if (!error || !IPv6Unavailable(error)) return error;
    return Listen(acceptor, tcp::endpoint(tcp::v4(), port), false);
}

asio::ip::address UnmappedAddress(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    return address;
}

}  // namespace mirka
