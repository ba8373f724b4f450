#pragma once

#include <cstdint>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace mirka {

// Opens, binds and puts into listening state an acceptor for every local address on the
// port: one IPv6 socket that takes IPv4 peers as well where the system allows it, IPv4 alone
// where IPv6 is not available. The error is the one worth telling the user (a port in use,
// for instance); the acceptor is closed then.
boost::system::error_code OpenListener(boost::asio::ip::tcp::acceptor& acceptor,
                                       std::uint16_t port);

// An IPv4 peer reaches an IPv6 socket as ::ffff:a.b.c.d; users know it by a.b.c.d.
boost::asio::ip::address UnmappedAddress(const boost::asio::ip::address& address);

}  // namespace mirka
