#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/recorders.h"
#include "support/wait.h"
#include "upnp/fake_gateway.h"
#include "upnp/port_mapping.h"
#include "upnp/upnp_test_support.h"

// The mapping and the IPv6 pinhole must name this machine, which only a machine with known
// addresses can show: each test re-runs itself in a network namespace of its own (loopback
// and a veth pair, one end with kOwnAddress and, for the pinhole, documentation IPv6
// addresses), and the fake gateways listen on kOwnAddress. No packet leaves the namespace.
namespace mirka {
namespace {

using test::FakeConnection;
using test::FakeGateway;
using test::HttpAnswer;

constexpr char kInsideFlag[] = "MIRKA_TEST_IN_NAMESPACE";
constexpr char kOwnAddress[] = "10.17.0.1";
constexpr char kPath[] = "PATH=\"$PATH:/usr/sbin:/sbin\" ";

bool RunShell(const std::string& command) {
    return std::system((kPath + command).c_str()) == 0;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

PortMappingContext ContextFor(const FakeGateway& gateway) {
    PortMappingContext context;
    context.linkPort = 1225;
    context.search.destination = gateway.SearchEndpoint();
    context.search.deadline = std::chrono::seconds(5);
    context.soapTimeout = std::chrono::seconds(2);
    return context;
}

// A gateway of today: the description names /ctl/IPConn, and the fixed paths get a 404 on a
// connection that then closes.
void ServeFromDescription(FakeConnection& connection) {
    std::optional<std::string> request = connection.ReadRequest();
    if (!request) return;
    if (request->starts_with("GET /rootDesc.xml ")) {
        connection.Send(HttpAnswer("HTTP/1.1 200 OK", test::IgdDescription(false)));
    } else if (request->starts_with("POST /ctl/IPConn ") && Contains(*request, "#AddPortMapping")) {
        connection.Send(HttpAnswer("HTTP/1.1 200 OK",
                                   "<s:Envelope><s:Body><u:AddPortMappingResponse "
                                   "xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\"/>"
                                   "</s:Body></s:Envelope>"));
    } else if (request->starts_with("POST /ctl/IPConn ")) {
        connection.Send(HttpAnswer("HTTP/1.1 200 OK", test::ExternalAddressBody("203.0.113.8")));
    } else {
        connection.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
}

const std::string* FindRequest(const std::vector<std::string>& requests, const std::string& start,
                               const std::string& action) {
    for (const std::string& request : requests)
        if (request.starts_with(start) && Contains(request, action)) return &request;
    return nullptr;
}

// The veth with kOwnAddress, and whatever else a test adds to it.
void SetUpLink(const std::string& more = "") {
    ASSERT_TRUE(
        RunShell("ip link set lo up && ip link add mirka0 type veth peer name mirka1 && "
                 "ip addr add " +
                 std::string(kOwnAddress) + "/24 dev mirka0 && " + more +
                 "ip link set mirka0 up && ip link set mirka1 up"));
}

// Runs the named test again inside a namespace of its own.
void RerunInNamespace(const std::string& test) {
    if (!RunShell("unshare -rn true >/dev/null 2>&1"))
        GTEST_SKIP() << "network namespaces are not allowed here (unshare -rn failed); the "
                        "gateway's view of this machine's own addresses is not tested";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_TRUE(
        RunShell(std::string(kInsideFlag) + "=1 unshare -rn '" + self + "' --gtest_filter=" + test))
        << "the run inside the namespace failed (its output is above)";
}

void MapsInsideTheNamespace() {
    SetUpLink();
    const auto address = boost::asio::ip::make_address_v4(kOwnAddress);
    const std::string client = "<NewInternalClient>" + std::string(kOwnAddress) + "<";
    test::MessageRecorder boxes;

    {  // The fixed paths work; the gateway knows no external address, so the title shows ours.
        FakeGateway gateway(address);
        gateway.SetSearchAnswers({gateway.GatewayAnswer()});
        gateway.SetScript(test::ServeNormally(""));
        test::LoginRecorder window;
        PortMappingContext context = ContextFor(gateway);
        MapRouterPort(&window, context);
        const std::vector<std::string> requests = gateway.Requests();
        const std::string* mapping =
            FindRequest(requests, "POST /upnp/control/WANIPConn1", "#AddPortMapping");
        ASSERT_NE(mapping, nullptr);
        EXPECT_TRUE(Contains(*mapping, client)) << *mapping;
        EXPECT_EQ(window.Titles(), std::vector<WString>{u"MY IP ADDR: 10.17.0.1"});
    }
    {  // Only the description's control URL works: the standard procedure maps the port.
        FakeGateway gateway(address);
        gateway.SetSearchAnswers({gateway.GatewayAnswer()});
        gateway.SetScript(ServeFromDescription);
        test::LoginRecorder window;
        PortMappingContext context = ContextFor(gateway);
        MapRouterPort(&window, context);
        const std::vector<std::string> requests = gateway.Requests();
        const std::string* mapping = FindRequest(requests, "POST /ctl/IPConn", "#AddPortMapping");
        ASSERT_NE(mapping, nullptr);
        EXPECT_TRUE(Contains(*mapping, client)) << *mapping;
        EXPECT_TRUE(Contains(*mapping, "<NewExternalPort>1225<")) << *mapping;
        EXPECT_EQ(window.Titles(), std::vector<WString>{u"MY IP ADDR: 203.0.113.8"});
    }
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(MapRouterPortNamespaceTest, MapsToThisMachineWithEitherKindOfGateway) {
    if (std::getenv(kInsideFlag)) return MapsInsideTheNamespace();
    RerunInNamespace("MapRouterPortNamespaceTest.MapsToThisMachineWithEitherKindOfGateway");
}

// The pinhole must name this machine's stable IPv6 address: a deprecated one comes first in
// the kernel's table.
constexpr char kOwnIPv6[] = "2001:db8:17::1";
constexpr char kIPv6Addresses[] =
    "ip -6 addr add 2001:db8:17::d/64 dev mirka0 nodad preferred_lft 0 && "
    "ip -6 addr add 2001:db8:17::1/64 dev mirka0 nodad && ";

PortMappingContext ServerContext(const FakeGateway& gateway) {
    PortMappingContext context = ContextFor(gateway);
    context.listening = true;
    context.pinholeOptions.refreshEvery = std::chrono::milliseconds(20);
    return context;
}

std::vector<std::string> WithAction(const std::vector<std::string>& requests,
                                    const std::string& action) {
    std::vector<std::string> found;
    for (const std::string& request : requests)
        if (Contains(request, "#" + action + "\"")) found.push_back(request);
    return found;
}

TEST(PinholeNamespaceTest, OpenedForTheServerRenewedAndDeleted) {
    if (!std::getenv(kInsideFlag))
        return RerunInNamespace("PinholeNamespaceTest.OpenedForTheServerRenewedAndDeleted");
    SetUpLink(kIPv6Addresses);
    FakeGateway gateway(boost::asio::ip::make_address_v4(kOwnAddress));
    gateway.SetSearchAnswers({gateway.GatewayAnswer()});
    gateway.SetScript(test::ServeIgd2(true));

    // A client start asks nothing of the IPv6 firewall; a server start asks the same IPv4
    // requests, byte for byte, and then for the pinhole.
    PortMappingContext client = ServerContext(gateway);
    client.listening = false;
    MapRouterPort(nullptr, client);
    EXPECT_EQ(client.pinhole, nullptr);
    const std::vector<std::string> ipv4Flow = gateway.Requests();
    ASSERT_FALSE(ipv4Flow.empty());

    test::LoginRecorder window;
    PortMappingContext server = ServerContext(gateway);
    MapRouterPort(&window, server);
    ASSERT_NE(server.pinhole, nullptr);
    const std::vector<std::string> all = gateway.Requests();
    ASSERT_GT(all.size(), 2 * ipv4Flow.size());
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(ipv4Flow.size()),
                                       all.begin() + static_cast<long>(2 * ipv4Flow.size())),
              ipv4Flow);
    EXPECT_EQ(window.Titles(),
              std::vector<WString>{u"MY IP ADDR: 203.0.113.7 / " + FromNarrow(kOwnIPv6)});

    std::vector<std::string> added = WithAction(all, "AddPinhole");
    ASSERT_EQ(added.size(), 1u);
    EXPECT_TRUE(added[0].starts_with("POST /ctl/IP6FCtl ")) << added[0];
    for (const std::string& part :
         {"<InternalClient>" + std::string(kOwnIPv6) + "<", std::string("<InternalPort>1225<"),
          std::string("<Protocol>6<"), std::string("<LeaseTime>3600<")})
        EXPECT_TRUE(Contains(added[0], part)) << part << " in " << added[0];

    // Renewed while the server may take peers, deleted when it no longer does.
    EXPECT_TRUE(test::WaitUntil([&] {
        std::vector<std::string> renewed = WithAction(gateway.Requests(), "UpdatePinhole");
        return !renewed.empty() && Contains(renewed.back(), "<UniqueID>7<") &&
               Contains(renewed.back(), "<NewLeaseTime>3600<");
    }));
    server.pinhole.reset();
    const std::vector<std::string> last = gateway.Requests();
    ASSERT_TRUE(Contains(last.back(), "#DeletePinhole\"")) << last.back();
    EXPECT_TRUE(Contains(last.back(), "<UniqueID>7<")) << last.back();
}

TEST(PinholeNamespaceTest, GatewaysWithoutTheServiceOrAUsableIdGetNoPinhole) {
    if (!std::getenv(kInsideFlag))
        return RerunInNamespace(
            "PinholeNamespaceTest.GatewaysWithoutTheServiceOrAUsableIdGetNoPinhole");
    SetUpLink(kIPv6Addresses);
    const auto address = boost::asio::ip::make_address_v4(kOwnAddress);
    const WString title = u"MY IP ADDR: 203.0.113.7 / " + FromNarrow(kOwnIPv6);
    {  // One line in the debug log, and nothing else changes.
        test::CapturedDebugLog log;
        FakeGateway gateway(address);
        gateway.SetSearchAnswers({gateway.GatewayAnswer()});
        gateway.SetScript(test::ServeIgd2(false));
        test::LoginRecorder window;
        PortMappingContext context = ServerContext(gateway);
        MapRouterPort(&window, context);
        EXPECT_EQ(context.pinhole, nullptr);
        EXPECT_EQ(window.Titles(), std::vector<WString>{title});
        std::vector<std::string> notes;
        for (const std::string& message : log.Messages())
            if (Contains(message, "WANIPv6FirewallControl")) notes.push_back(message);
        EXPECT_EQ(notes.size(), 1u);
        for (const std::string& request : gateway.Requests())
            EXPECT_FALSE(Contains(request, "Pinhole")) << request;
    }
    // An id that is no 16-bit number cannot be renewed or deleted: no pinhole is kept.
    for (const char* junk : {"junk", "70000", "", "-1", "123456789012", "0x10"}) {
        test::CapturedDebugLog log;
        FakeGateway gateway(address);
        gateway.SetSearchAnswers({gateway.GatewayAnswer()});
        gateway.SetScript(test::ServeIgd2(true, junk));
        PortMappingContext context = ServerContext(gateway);
        MapRouterPort(nullptr, context);
        EXPECT_EQ(context.pinhole, nullptr) << junk;
        EXPECT_EQ(WithAction(gateway.Requests(), "AddPinhole").size(), 1u) << junk;
        EXPECT_TRUE(WithAction(gateway.Requests(), "UpdatePinhole").empty()) << junk;
        EXPECT_TRUE(WithAction(gateway.Requests(), "DeletePinhole").empty()) << junk;
        bool noted = false;
        for (const std::string& message : log.Messages())
            noted = noted || Contains(message, "unusable id");
        EXPECT_TRUE(noted) << junk;
    }
}

}  // namespace
}  // namespace mirka
