#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/recorders.h"
#include "upnp/fake_gateway.h"
#include "upnp/port_mapping.h"
#include "upnp/upnp_test_support.h"

// The mapping must forward to this machine, which only a machine with a known address can
// show: the test re-runs itself in a network namespace of its own (loopback and a veth pair,
// one end with kOwnAddress), and the fake gateways listen on that address. No packet leaves
// the namespace.
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
std::string Description() {
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
           "<device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
           "<deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType><deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
           "<serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
           "<controlURL>/ctl/IPConn</controlURL><eventSubURL>/evt/IPConn</eventSubURL>"
           "<SCPDURL>/WANIPCn.xml</SCPDURL>"
           "</service></serviceList></device></deviceList></device></deviceList></device></root>";
}

void ServeFromDescription(FakeConnection& connection) {
    std::optional<std::string> request = connection.ReadRequest();
    if (!request) return;
    if (request->starts_with("GET /rootDesc.xml ")) {
        connection.Send(HttpAnswer("HTTP/1.1 200 OK", Description()));
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

void MapsInsideTheNamespace() {
    ASSERT_TRUE(
        RunShell("ip link set lo up && ip link add mirka0 type veth peer name mirka1 && "
                 "ip addr add " +
                 std::string(kOwnAddress) +
                 "/24 dev mirka0 && "
                 "ip link set mirka0 up && ip link set mirka1 up"));
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
    if (!RunShell("unshare -rn true >/dev/null 2>&1"))
        GTEST_SKIP() << "network namespaces are not allowed here (unshare -rn failed); the "
                        "mapping to this machine's own address is not tested";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_TRUE(RunShell(std::string(kInsideFlag) + "=1 unshare -rn '" + self +
                         "' --gtest_filter=MapRouterPortNamespaceTest.*"))
        << "the run inside the namespace failed (its output is above)";
}

}  // namespace
}  // namespace mirka
