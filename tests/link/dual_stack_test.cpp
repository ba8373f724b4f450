#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "support/loopback.h"

// Both families over loopback. A test needs ::1 and skips where the system has no IPv6.
namespace mirka {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

bool HasIPv6Loopback() {
    asio::io_context io;
    tcp::acceptor probe(io);
    boost::system::error_code error;
    probe.open(tcp::v6(), error);
    if (!error) probe.bind(tcp::endpoint(asio::ip::address_v6::loopback(), 0), error);
    return !error;
}

TEST(DualStackLink, ServerTakesIPv6AndIPv4PeersAndNamesThemPlainly) {
    if (!HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    struct Case {
        const char* host;
        const char* peer;  // as both sides name the other
    };
    for (const Case& c : {Case{"::1", "::1"}, Case{"127.0.0.1", "127.0.0.1"}}) {
        SCOPED_TRACE(c.host);
        test::LinkedPair pair;
        ASSERT_TRUE(test::LinkManagers(*pair.server, *pair.client, &pair.port, c.host));
        EXPECT_EQ(pair.server->PeerAddressText(), c.peer);
        EXPECT_EQ(pair.client->PeerAddressText(), c.peer);
        pair.client->QueueChatLine(u"hello", u"client");
        EXPECT_TRUE(
            pair.serverWindow.WaitFor([&] { return pair.serverWindow.Messages().size() == 1; }));
    }
}

}  // namespace
}  // namespace mirka
