#include "upnp/gateway_discovery.h"

#include <chrono>

#include <gtest/gtest.h>

#include "support/recorders.h"
#include "upnp/fake_gateway.h"
#include "upnp/port_mapping.h"
#include "upnp/upnp_test_support.h"

namespace mirka {
namespace {

using test::CapturedDebugLog;
using test::FakeGateway;
using test::LoginRecorder;
using test::MessageRecorder;

GatewaySearchOptions SearchAt(const FakeGateway& gateway,
                              std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    GatewaySearchOptions options;
    options.destination = gateway.SearchEndpoint();
    options.deadline = deadline;
    return options;
}

TEST(GatewayDiscoveryTest, DefaultsAreTheSsdpGroupAndFortyFiveSeconds) {
    GatewaySearchOptions options;
    EXPECT_EQ(options.destination.address().to_string(), "239.255.255.250");
    EXPECT_EQ(options.destination.port(), 1900);
    EXPECT_EQ(options.deadline, std::chrono::seconds(45));
    EXPECT_EQ(PortMappingContext().soapTimeout, std::chrono::seconds(10));
}

TEST(GatewayDiscoveryTest, SendsTheSearchDatagramAndReadsTheAnswer) {
    FakeGateway gateway;
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    LoginRecorder window;
    CapturedDebugLog log;

    DiscoveryResult result = DiscoverGateway(SearchAt(gateway), &window);

    const std::string expected =
        "M-SEARCH * HTTP/1.1\r\nMX: 3\r\nHOST: 239.255.255.250:1900\r\n"
        "MAN: \"ssdp:discover\"\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n";
    ASSERT_EQ(gateway.Datagrams().size(), 1u);
    EXPECT_EQ(gateway.Datagrams()[0], expected);
    EXPECT_EQ(gateway.Datagrams()[0].size(), 135u);

    ASSERT_EQ(result.outcome, DiscoveryOutcome::kFound);
    EXPECT_EQ(result.gateway.host, "127.0.0.1");
    EXPECT_EQ(result.gateway.port, std::to_string(gateway.ControlPort()));
    EXPECT_EQ(result.gateway.searchTarget, "urn:schemas-upnp-org:device:InternetGatewayDevice:1");
    EXPECT_EQ(window.StatusTexts(), std::vector<WString>{u"ルーターの情報を取得しています"});

    // The answer is logged whole, behind "network message", before the socket goes.
    std::string text = log.Text();
    EXPECT_TRUE(text.starts_with("[3/7 09:05:03]"));
    std::size_t noted = text.find("network message\r\n");
    ASSERT_NE(noted, std::string::npos);
    std::size_t answer = text.find(gateway.GatewayAnswer() + "\r\n", noted);
    ASSERT_NE(answer, std::string::npos);
    EXPECT_NE(text.find("close: udp manager {destructor}", answer), std::string::npos);
}

TEST(GatewayDiscoveryTest, NoAnswerEndsAtTheDeadline) {
    FakeGateway silent;
    LoginRecorder window;
    MessageRecorder boxes;
    CapturedDebugLog log;

    auto start = std::chrono::steady_clock::now();
    DiscoveryResult result =
        DiscoverGateway(SearchAt(silent, std::chrono::milliseconds(300)), &window);
    auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result.outcome, DiscoveryOutcome::kNoAnswer);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_TRUE(boxes.Boxes().empty());
    const std::string success = boost::system::error_code().message();
    std::vector<std::string> expected = {
        "init:  udp manager {constructor}",
        "connect:  udp manager",
        success,
        success,
        "send: udp manager -> 127.0.0.1",
        success,
        "receive: udp manager",
        "close: udp manager",
        "udp manager: time out .. 45 seconds",
        "close: udp manager {destructor}",
        "close: udp manager",
    };
    EXPECT_EQ(log.Messages(), expected);
}

TEST(GatewayDiscoveryTest, BadAnswersShowTheirBoxes) {
    struct Case {
        std::string statusLine;
        const char16_t* box;
    };
    for (const Case& c : {Case{"HTTP/1.1 404 Not Found", kRouterBoxText},
                          Case{"NOTIFY * HTTP/1.1", kBadHeaderBoxText}}) {
        FakeGateway gateway;
        std::string answer = gateway.GatewayAnswer();
        answer.replace(0, answer.find("\r\n"), c.statusLine);
        gateway.SetSearchAnswers({answer});
        MessageRecorder boxes;

        DiscoveryResult result = DiscoverGateway(SearchAt(gateway), nullptr);

        EXPECT_EQ(result.outcome, DiscoveryOutcome::kAnswerRejected) << c.statusLine;
        ASSERT_EQ(boxes.Boxes().size(), 1u) << c.statusLine;
        EXPECT_EQ(boxes.Boxes()[0].type, kMbIconError);
        EXPECT_EQ(boxes.Boxes()[0].caption, kErrorCaption);
        EXPECT_EQ(boxes.Boxes()[0].text, c.box);
    }
}

TEST(GatewayDiscoveryTest, OnlyTheFirstAnswerCounts) {
    FakeGateway gateway;
    std::string first = gateway.GatewayAnswer();
    std::string second = first;
    std::string port = std::to_string(gateway.ControlPort());
    second.replace(second.find(port), port.size(), "1");
    gateway.SetSearchAnswers({first, second});

    DiscoveryResult result = DiscoverGateway(SearchAt(gateway), nullptr);

    ASSERT_EQ(result.outcome, DiscoveryOutcome::kFound);
    EXPECT_EQ(result.gateway.port, port);
}

}  // namespace
}  // namespace mirka
