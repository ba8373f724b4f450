#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "link/transport/connector.h"
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

tcp::endpoint Endpoint(const char* address, std::uint16_t port) {
    return tcp::endpoint(asio::ip::make_address(address), port);
}

TEST(DualStackLink, ServerTakesIPv6AndIPv4PeersAndNamesThemPlainly) {
    if (!HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    if (!test::SocketHandOverWorks()) GTEST_SKIP() << test::kNoSocketHandOver;
    struct Case {
        const char* host;
        const char* peer;  // as both sides name the other
    };
    for (const Case& c :
         {Case{"::1", "::1"}, Case{"[::1]", "::1"}, Case{"127.0.0.1", "127.0.0.1"}}) {
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

TEST(DualStackLink, RefusedIPv6LiteralShowsTheConnectionFailureBoxWithTheTypedHost) {
    if (!HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    test::MessageRecorder boxes;
    TaskManager manager;
    std::uint16_t port = test::FreeLoopbackPort();
    EXPECT_FALSE(manager.ConnectToServer("[::1]", port));
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);  // as for a name: no box with the system's text first
    EXPECT_EQ(shown[0].caption, u"エラー");
    EXPECT_EQ(shown[0].text,
              Format(2048,
                     u"[::1]:%d に接続できませんでした。\r\nIPとポートを確認すると同時に\r\n"
                     u"相手がサーバとして待機しているかを確認してください。",
                     static_cast<int>(port)));
    EXPECT_EQ(manager.LinkState(), LINK_IDLE);
}

TEST(ConnectorOrder, IPv6FirstThenTheFamiliesTakeTurns) {
    std::vector<tcp::endpoint> resolved = {Endpoint("192.0.2.1", 1), Endpoint("192.0.2.2", 2),
                                           Endpoint("2001:db8::1", 3), Endpoint("192.0.2.3", 4),
                                           Endpoint("2001:db8::2", 5)};
    std::vector<tcp::endpoint> expected = {Endpoint("2001:db8::1", 3), Endpoint("192.0.2.1", 1),
                                           Endpoint("2001:db8::2", 5), Endpoint("192.0.2.2", 2),
                                           Endpoint("192.0.2.3", 4)};
    EXPECT_EQ(Connector::AttemptOrder(resolved), expected);
    EXPECT_TRUE(Connector::AttemptOrder({}).empty());
}

TEST(ConnectorLiteral, BareBracketedAndZonedIPv6AreTakenAndNothingElse) {
    auto bare = Connector::IPv6Literal("2001:db8::1");
    ASSERT_TRUE(bare);
    EXPECT_EQ(*bare, asio::ip::make_address_v6("2001:db8::1"));
    EXPECT_EQ(Connector::IPv6Literal("[2001:db8::1]"), bare);
    auto zoned = Connector::IPv6Literal("fe80::1%1");
    ASSERT_TRUE(zoned);
    EXPECT_EQ(zoned->scope_id(), 1u);
#ifdef _WIN32
    // Windows' address parser takes a zone by its number alone (as ipconfig shows it); a
    // name is no literal there and goes to the resolver.
    EXPECT_FALSE(Connector::IPv6Literal("[fe80::1%lo]"));
#else
    auto named = Connector::IPv6Literal("[fe80::1%lo]");
    ASSERT_TRUE(named);
    EXPECT_NE(named->scope_id(), 0u);  // the interface's index
#endif
    for (const char* other : {"127.0.0.1", "localhost", "[2001:db8::1", "2001:db8::1]",
                              "2001:db8::zz", "[]", "", "[127.0.0.1]"})
        EXPECT_FALSE(Connector::IPv6Literal(other)) << other;
}

// A listener whose queue is full and never accepted: a connect to it stays pending, as one
// to an address that drops everything would.
struct SilentListener {
    explicit SilentListener(asio::io_context& io) : acceptor(io), filler(io) {
        acceptor.open(tcp::v6());
        acceptor.bind(tcp::endpoint(asio::ip::address_v6::loopback(), 0));
        acceptor.listen(0);
        filler.connect(acceptor.local_endpoint());
    }
    tcp::acceptor acceptor;
    tcp::socket filler;
};

TEST(ConnectorRace, FailedAndPendingAttemptsGiveWayAndTheWinnerIsHandedOver) {
    if (!HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    if (!test::SocketHandOverWorks()) GTEST_SKIP() << test::kNoSocketHandOver;
    asio::io_context io;
    tcp::acceptor listening(io, Endpoint("127.0.0.1", 0));
    const tcp::endpoint reachable = listening.local_endpoint();
    {  // Refused on IPv6: the IPv4 address is tried next and connects.
        tcp::endpoint refused(asio::ip::address_v6::loopback(), test::FreeLoopbackPort());
        tcp::socket socket(io);
        ConnectOutcome outcome = Connector().Connect({reachable, refused}, socket);
        EXPECT_FALSE(outcome.error);
        ASSERT_EQ(outcome.attempts.size(), 2u);
        EXPECT_EQ(outcome.attempts[0].endpoint, refused);  // IPv6 first
        EXPECT_EQ(outcome.attempts[0].error, asio::error::connection_refused);
        ASSERT_EQ(outcome.winner, std::optional<std::size_t>(1));
        // The handed-over socket is this socket, connected, and reads with blocking calls.
        tcp::socket accepted = listening.accept();
        std::array<char, 3> bytes{};
        asio::write(accepted, asio::buffer("abc", 3));
        asio::read(socket, asio::buffer(bytes));
        EXPECT_EQ(std::string(bytes.data(), 3), "abc");
        EXPECT_EQ(socket.remote_endpoint(), reachable);
    }
    {  // Pending on IPv6: after the delay the IPv4 attempt starts, wins, and cancels it.
        SilentListener silent(io);
        tcp::socket socket(io);
        ConnectOutcome outcome =
            Connector(std::chrono::milliseconds(50))
                .Connect({reachable, silent.acceptor.local_endpoint()}, socket);
        EXPECT_FALSE(outcome.error);
        ASSERT_EQ(outcome.attempts.size(), 2u);
        EXPECT_EQ(outcome.attempts[0].error, asio::error::operation_aborted);
        EXPECT_EQ(outcome.winner, std::optional<std::size_t>(1));
        EXPECT_TRUE(socket.is_open());
    }
    {  // Nothing answers: the last failure is what is reported.
        tcp::socket socket(io);
        tcp::endpoint refused(asio::ip::address_v4::loopback(), test::FreeLoopbackPort());
        ConnectOutcome outcome = Connector().Connect({refused}, socket);
        EXPECT_EQ(outcome.error, asio::error::connection_refused);
        EXPECT_FALSE(outcome.winner);
        EXPECT_FALSE(socket.is_open());
        EXPECT_EQ(Connector().Connect({}, socket).error, asio::error::host_not_found);
    }
}

}  // namespace
}  // namespace mirka
