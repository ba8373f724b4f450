#include "upnp/port_mapping.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include <gtest/gtest.h>
#include <boost/asio/ip/udp.hpp>

#include "support/recorders.h"
#include "support/wait.h"
#include "upnp/fake_gateway.h"
#include "upnp/own_address.h"
#include "upnp/upnp_test_support.h"

namespace mirka {
namespace {

using test::FakeConnection;
using test::FakeGateway;
using test::HttpAnswer;
using test::LoginRecorder;
using test::MessageRecorder;

constexpr char16_t kHostNameStatus[] = u"hostname を取得しています";
constexpr char16_t kSearchStatus[] = u"ルーターの情報を取得しています";
constexpr char16_t kExternalStatus[] = u"グローバルIP を取得しています";
constexpr char16_t kMappingStatus[] = u"ルータにポート開放命令を送信しています";

const std::string kServerError = HttpAnswer("HTTP/1.1 500 Internal Server Error",
                                            "<s:Fault><errorCode>501</errorCode></s:Fault>\r\n");

PortMappingContext ContextFor(const FakeGateway& gateway) {
    PortMappingContext context;
    context.linkPort = 1225;
    context.search.destination = gateway.SearchEndpoint();
    context.search.deadline = std::chrono::seconds(5);
    context.soapTimeout = std::chrono::seconds(5);
    return context;
}

// The title as this machine shows it: a machine with a global IPv6 address adds it.
WString Title(const std::string& address) {
    return u"MY IP ADDR: " + FromNarrow(AddressTitleText(address, ReachableIPv6Text()));
}

bool IsRequest(const std::string& request, std::string_view path, std::string_view action) {
    return request.starts_with("POST " + std::string(path) + " HTTP/1.1\r\n") &&
           request.find("#" + std::string(action) + "\"\r\n") != std::string::npos;
}

TEST(MapRouterPortTest, MapsThePortAndLearnsTheExternalAddress) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    LoginRecorder window;
    MessageRecorder boxes;
    PortMappingContext context = ContextFor(gateway);

    MapRouterPort(&window, context);

    EXPECT_EQ(context.ownAddressText, "203.0.113.7");
    EXPECT_EQ(window.Titles(), std::vector<WString>{Title("203.0.113.7")});
    EXPECT_EQ(window.StatusTexts(), (std::vector<WString>{kHostNameStatus, kSearchStatus,
                                                          kExternalStatus, kMappingStatus}));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(gateway.Connections(), 1);

    std::vector<std::string> requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(IsRequest(requests[0], "/upnp/control/WANPPPConn1", "GetExternalIPAddress"));
    const std::string& mapping = requests[1];
    EXPECT_TRUE(IsRequest(mapping, "/upnp/control/WANIPConn1", "AddPortMapping"));
    EXPECT_NE(mapping.find("Host: 127.0.0.1:" + std::to_string(gateway.ControlPort()) + "\r\n"),
              std::string::npos);
    EXPECT_NE(mapping.find("<NewExternalPort>1225</NewExternalPort>"), std::string::npos);
    EXPECT_NE(mapping.find("<NewInternalPort>1225</NewInternalPort>"), std::string::npos);
    // This end of the control connection: loopback here, as the gateway is.
    EXPECT_NE(mapping.find("<NewInternalClient>127.0.0.1</NewInternalClient>"), std::string::npos);
    EXPECT_NE(mapping.find(">DuoLinkEx : kp.works<"), std::string::npos);
}

TEST(MapRouterPortTest, TickedCheckBoxSendsNothing) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    LoginRecorder window;
    PortMappingContext context = ContextFor(gateway);
    context.upnpDisabled = true;

    MapRouterPort(&window, context);

    EXPECT_EQ(context.ownAddressText, LocalAddressText(kOwnAddressCapacity));
    EXPECT_FALSE(context.ownAddressText.empty());
    EXPECT_EQ(window.Titles(), std::vector<WString>{Title(context.ownAddressText)});
    EXPECT_EQ(window.StatusTexts(), std::vector<WString>{kHostNameStatus});
    // A datagram of the test's own after the call: once the gateway has it, one sent by the
    // call would have come first.
    boost::asio::io_context io;
    boost::asio::ip::udp::socket probe(
        io, boost::asio::ip::udp::endpoint(gateway.SearchEndpoint().address(), 0));
    probe.send_to(boost::asio::buffer(std::string("probe")), gateway.SearchEndpoint());
    ASSERT_TRUE(test::WaitUntil([&] { return !gateway.Datagrams().empty(); }));
    EXPECT_EQ(gateway.Datagrams(), std::vector<std::string>{"probe"});
}

TEST(MapRouterPortTest, DiscoveryEndingsAndTheTitle) {
    {  // Rejected answer: its box, title unchanged, no control connection.
        FakeGateway gateway;
        std::string answer = gateway.GatewayAnswer();
        answer.replace(answer.find("200"), 3, "404");
        gateway.SetSearchAnswers({answer});
        LoginRecorder window;
        MessageRecorder boxes;
        PortMappingContext context = ContextFor(gateway);
        MapRouterPort(&window, context);
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_TRUE(window.Titles().empty());
        EXPECT_EQ(gateway.Connections(), 0);
    }
    {  // "LOCATION:" in capitals is no location: only the title.
        FakeGateway gateway;
        std::string answer = gateway.GatewayAnswer();
        answer.replace(answer.find("Location:"), 9, "LOCATION:");
        gateway.SetSearchAnswers({answer});
        LoginRecorder window;
        MessageRecorder boxes;
        PortMappingContext context = ContextFor(gateway);
        MapRouterPort(&window, context);
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_EQ(window.Titles(), std::vector<WString>{Title(context.ownAddressText)});
        EXPECT_EQ(gateway.Connections(), 0);
    }
    {  // No answer before the deadline: a quiet end.
        FakeGateway silent;
        LoginRecorder window;
        MessageRecorder boxes;
        PortMappingContext context = ContextFor(silent);
        context.search.deadline = std::chrono::milliseconds(200);
        MapRouterPort(&window, context);
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_TRUE(window.Titles().empty());
        EXPECT_EQ(window.StatusTexts().back(), kSearchStatus);
    }
}

TEST(MapRouterPortTest, WanIpQueryFollowsAWanPppErrorAtOnce) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    std::atomic<bool> retriedBeforeRest{false};
    gateway.SetScript([&](FakeConnection& connection) {
        if (!connection.ReadRequest()) return;
        // Only the status line; the program must ask again before it sees the rest.
        std::size_t statusEnd = kServerError.find("\r\n") + 2;
        connection.Send(kServerError.substr(0, statusEnd));
        std::optional<std::string> retry = connection.ReadRequest(std::chrono::seconds(3));
        retriedBeforeRest =
            retry && IsRequest(*retry, "/upnp/control/WANIPConn1", "GetExternalIPAddress");
        connection.Send(kServerError.substr(statusEnd));
        connection.Send(HttpAnswer("HTTP/1.1 200 OK", test::ExternalAddressBody("198.51.100.4")));
        test::ServeNormally("unused")(connection);
    });
    LoginRecorder window;
    MessageRecorder boxes;
    PortMappingContext context = ContextFor(gateway);

    MapRouterPort(&window, context);

    EXPECT_TRUE(retriedBeforeRest);
    EXPECT_EQ(context.ownAddressText, "198.51.100.4");
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(gateway.Connections(), 1);
    ASSERT_EQ(gateway.Requests().size(), 3u);
    EXPECT_TRUE(IsRequest(gateway.Requests()[2], "/upnp/control/WANIPConn1", "AddPortMapping"));
}

TEST(MapRouterPortTest, TwoExternalAddressErrorsShowTheBoxAndStillMap) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    gateway.SetScript([](FakeConnection& connection) {
        while (std::optional<std::string> request = connection.ReadRequest()) {
            if (request->find("#GetExternalIPAddress") != std::string::npos)
                connection.Send(kServerError);
            else
                connection.Send(HttpAnswer("HTTP/1.1 200 OK", ""));
        }
    });
    LoginRecorder window;
    MessageRecorder boxes;
    PortMappingContext context = ContextFor(gateway);

    MapRouterPort(&window, context);

    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kRouterBoxText);
    EXPECT_EQ(context.ownAddressText, LocalAddressText(kOwnAddressCapacity));
    EXPECT_EQ(window.Titles(), std::vector<WString>{Title(context.ownAddressText)});
    ASSERT_EQ(gateway.Requests().size(), 3u);
    EXPECT_TRUE(IsRequest(gateway.Requests()[2], "/upnp/control/WANIPConn1", "AddPortMapping"));
}

TEST(MapRouterPortTest, MappingNeedsHttp11SuccessAndRetriesOverWanPpp) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    std::atomic<bool> closedAfterHttp10{true};
    gateway.SetScript([&](FakeConnection& connection) {
        connection.ReadRequest();
        connection.Send(HttpAnswer("HTTP/1.1 200 OK", test::ExternalAddressBody("203.0.113.9")));
        connection.ReadRequest();
        connection.Send(HttpAnswer("HTTP/1.0 200 OK", ""));
        closedAfterHttp10 = connection.ClosedByPeerWithin(std::chrono::milliseconds(300));
        connection.Send(kServerError);
        if (connection.ReadRequest()) connection.Send(HttpAnswer("HTTP/1.1 200 OK", ""));
        connection.ClosedByPeerWithin(std::chrono::seconds(5));
    });
    LoginRecorder window;
    MessageRecorder boxes;
    PortMappingContext context = ContextFor(gateway);

    MapRouterPort(&window, context);

    EXPECT_FALSE(closedAfterHttp10);
    EXPECT_TRUE(boxes.Boxes().empty());
    std::vector<std::string> requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(IsRequest(requests[2], "/upnp/control/WANPPPConn1", "AddPortMapping"));
    EXPECT_NE(requests[2].find(">DuoFile : kp.works<"), std::string::npos);
    EXPECT_EQ(window.Titles(), std::vector<WString>{Title("203.0.113.9")});
}

TEST(MapRouterPortTest, TwoMappingErrorsShowTheBox) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    gateway.SetScript([](FakeConnection& connection) {
        while (std::optional<std::string> request = connection.ReadRequest()) {
            if (request->find("#GetExternalIPAddress") != std::string::npos)
                connection.Send(HttpAnswer("HTTP/1.1 200 OK", test::ExternalAddressBody("")));
            else
                connection.Send(kServerError);
        }
    });
    LoginRecorder window;
    MessageRecorder boxes;
    PortMappingContext context = ContextFor(gateway);

    MapRouterPort(&window, context);

    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kRouterBoxText);
    // Three on the fixed paths, then the description is read for the standard procedure.
    std::vector<std::string> requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_TRUE(requests[3].starts_with("GET /rootDesc.xml HTTP/1.1\r\n")) << requests[3];
    // An empty external address leaves this host's own in place.
    EXPECT_EQ(context.ownAddressText, LocalAddressText(kOwnAddressCapacity));
    EXPECT_EQ(window.Titles(), std::vector<WString>{Title(context.ownAddressText)});
}

TEST(MapRouterPortTest, GatewayQuietAfterTheAddressGetsTheMappingOnANewConnection) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    std::atomic<int> served{0};
    gateway.SetScript([&](FakeConnection& connection) {
        if (served++ > 0) return test::ServeNormally("unused")(connection);
        if (!connection.ReadRequest()) return;
        connection.Send(HttpAnswer("HTTP/1.1 200 OK", test::ExternalAddressBody("203.0.113.7")));
        connection.ClosedByPeerWithin(std::chrono::seconds(5));  // drops the mapping request
    });
    LoginRecorder window;
    MessageRecorder boxes;
    PortMappingContext context = ContextFor(gateway);
    context.soapTimeout = std::chrono::milliseconds(300);

    MapRouterPort(&window, context);

    EXPECT_EQ(gateway.Connections(), 2);
    std::vector<std::string> requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(IsRequest(requests[1], "/upnp/control/WANIPConn1", "AddPortMapping"));
    EXPECT_NE(requests[1].find(">DuoLinkEx : kp.works<"), std::string::npos);
    EXPECT_EQ(window.Titles(), std::vector<WString>{Title("203.0.113.7")});
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(MapRouterPortTest, SilentOrMissingControlServerEndsTheFlow) {
    {  // The gateway takes the requests and never answers: the time-outs end each wait, and
       // the debug log says that the mapping went unanswered.
        test::CapturedDebugLog log;
        FakeGateway gateway;
        gateway.SetSearchAnswers({gateway.GatewayAnswer()});
        gateway.SetScript([](FakeConnection& connection) {
            while (connection.ReadRequest(std::chrono::seconds(10))) {
            }
        });
        LoginRecorder window;
        PortMappingContext context = ContextFor(gateway);
        context.soapTimeout = std::chrono::milliseconds(300);
        auto start = std::chrono::steady_clock::now();
        MapRouterPort(&window, context);
        // Three waits of ours, then the library's own socket time-outs on the description.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(window.StatusTexts().back(), kMappingStatus);
        EXPECT_EQ(window.Titles(), std::vector<WString>{Title(context.ownAddressText)});
        std::vector<std::string> messages = log.Messages();
        EXPECT_NE(std::find(messages.begin(), messages.end(),
                            "upnp: the gateway did not answer the port mapping request"),
                  messages.end())
            << log.Text();
    }
    {  // Nothing listens at the location: the title shows the local address.
        FakeGateway gateway;
        std::string answer = gateway.GatewayAnswer();
        std::string port = std::to_string(gateway.ControlPort());
        answer.replace(answer.find(port), port.size(), "1");
        gateway.SetSearchAnswers({answer});
        LoginRecorder window;
        MessageRecorder boxes;
        PortMappingContext context = ContextFor(gateway);
        MapRouterPort(&window, context);
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_EQ(window.StatusTexts().size(), 4u);
        EXPECT_EQ(context.ownAddressText, LocalAddressText(kOwnAddressCapacity));
        EXPECT_EQ(window.Titles(), std::vector<WString>{Title(context.ownAddressText)});
    }
}

}  // namespace
}  // namespace mirka
