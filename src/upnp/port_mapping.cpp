#include "upnp/port_mapping.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/host_name.hpp>

#include "common/debug_log.h"
#include "toolkit/message_box.h"
#include "toolkit/platform.h"
#include "toolkit/text.h"
#include "upnp/igd_client.h"
#include "upnp/own_address.h"
#include "upnp/soap_requests.h"

namespace mirka {
namespace {

constexpr std::string_view kInternalServerError = "Internal Server Error";
constexpr std::string_view kExternalAddressTag = "<NewExternalIPAddress>";
constexpr std::string_view kMappingSuccess = "HTTP/1.1 200 OK";

bool Contains(std::string_view line, std::string_view part) {
    return line.find(part) != std::string_view::npos;
}

void ShowRouterBox() {
    ShowTypedMessage(kMbIconError, kErrorCaption, u"%s", kRouterBoxText);
}

// GetExternalIPAddress, WANPPP first and WANIP when the gateway answers with an error.
void ReadExternalAddress(ControlConnection& connection, const GatewayLocation& g,
                         std::string& ownAddressText) {
    connection.Send(
        BuildGetExternalIPAddressRequest(g.searchTarget, g.host, g.port, ServiceVariant::WANPPP));
    bool wanIpSent = false;
    std::string line;
    while (connection.ReadLine(line)) {
        if (Contains(line, kInternalServerError)) {
            if (wanIpSent) {
                ShowRouterBox();
                break;
            }
            // At once, before the rest of the error answer: the gateway may keep the
            // connection open and the remaining lines are read like any others.
            connection.Send(BuildGetExternalIPAddressRequest(g.searchTarget, g.host, g.port,
                                                             ServiceVariant::WANIP));
            wanIpSent = true;
            continue;
        }
        std::size_t tag = line.find(kExternalAddressTag);
        if (tag == std::string::npos) continue;
        std::string address = line.substr(tag + kExternalAddressTag.size(), kExternalAddressChars);
        // The closing tag, or the line's carriage return when the tag is on the next line.
        address.resize(std::min(address.size(), address.find_first_of("<\r")));
        // A gateway without a WAN connection reports an empty address; keep ours then.
        if (!address.empty()) {
            ownAddressText = address;
            CutNarrow(ownAddressText, kOwnAddressCapacity - 1);
        }
        break;
    }
}

enum class MappingAnswer {
    kMapped,    // "HTTP/1.1 200 OK"
    kRefused,   // the gateway answered, but not with that line
    kNoAnswer,  // the connection ended or timed out before any status line came
};

// AddPortMapping, WANIP first and WANPPP when the gateway answers with an error.
MappingAnswer AddPortMapping(ControlConnection& connection, const GatewayLocation& g,
                             const std::string& localClient, std::uint16_t linkPort) {
    connection.Send(BuildAddPortMappingRequest(g.host, g.port, g.searchTarget, localClient,
                                               linkPort, kFirstMappingDescription,
                                               ServiceVariant::WANIP));
    bool retrySent = false;
    bool answered = false;
    std::string line;
    while (connection.ReadLine(line)) {
        // The rest of the address answer may come first; only a status line is an answer.
        if (line.starts_with("HTTP/")) answered = true;
        if (Contains(line, kInternalServerError)) {
            if (retrySent) {
                ShowRouterBox();
                break;
            }
            connection.Send(BuildAddPortMappingRequest(g.host, g.port, g.searchTarget, localClient,
                                                       linkPort, kRetryMappingDescription,
                                                       ServiceVariant::WANPPP));
            retrySent = true;
            continue;
        }
        if (Contains(line, kMappingSuccess)) return MappingAnswer::kMapped;
    }
    return answered ? MappingAnswer::kRefused : MappingAnswer::kNoAnswer;
}

// The address the mapping forwards to: this end of the connection to the gateway, which is
// the interface that reaches it; this host's address when the connection never stood.
std::string InternalClient(ControlConnection& connection) {
    std::string address = connection.LocalAddress();
    if (address.empty()) address = LocalAddressText(kLocalClientCapacity);
    CutNarrow(address, kLocalClientCapacity - 1);
    return address;
}

}  // namespace

std::string LocalAddressText(std::size_t capacity) {
    // The host name resolves to a loopback address on many Linux systems, which no peer and
    // no gateway can use: the interfaces come first.
    std::vector<std::string> interfaces = InterfaceIPv4Addresses();
    if (!interfaces.empty()) {
        std::string text = interfaces.front();
        CutNarrow(text, capacity == 0 ? 0 : capacity - 1);
        return text;
    }
    boost::system::error_code error;
    std::string text = boost::asio::ip::host_name(error);
    if (error) text.clear();
    CutNarrow(text, kHostNameBytes - 1);
    if (!text.empty()) {
        boost::asio::io_context context;
        boost::asio::ip::tcp::resolver resolver(context);
        auto results = resolver.resolve(boost::asio::ip::tcp::v4(), text, "",
                                        boost::asio::ip::resolver_base::flags(), error);
        if (!error && !results.empty()) text = results.begin()->endpoint().address().to_string();
    }
    CutNarrow(text, capacity == 0 ? 0 : capacity - 1);
    return text;
}

void FindOwnAddresses(std::string& ownAddressText, std::string& ownIPv6Text) {
    ownIPv6Text = ReachableIPv6Text();
    ownAddressText = PreferIPv6OverHostName(LocalAddressText(kOwnAddressCapacity), ownIPv6Text);
    CutNarrow(ownAddressText, kOwnAddressCapacity - 1);
}

void MapRouterPort(LoginStatusPort* loginWindow, PortMappingContext& context) {
    ShowLoginStatus(loginWindow, u"hostname を取得しています");
    FindOwnAddresses(context.ownAddressText, context.ownIPv6Text);
    auto showTitle = [&] {
        ShowAddressTitle(loginWindow,
                         AddressTitleText(context.ownAddressText, context.ownIPv6Text));
    };
    if (context.upnpDisabled) {
        showTitle();
        return;
    }

    DiscoveryResult discovery = DiscoverGateway(context.search, loginWindow);
    if (discovery.outcome == DiscoveryOutcome::kNoLocation ||
        discovery.outcome == DiscoveryOutcome::kUnusableLocation) {
        showTitle();
        return;
    }
    if (discovery.outcome != DiscoveryOutcome::kFound) return;
    const GatewayLocation& gateway = discovery.gateway;

    ShowLoginStatus(loginWindow, u"グローバルIP を取得しています");
    // A connection that fails here fails every request after it: both loops end at once.
    auto connection = std::make_unique<ControlConnection>(context.soapTimeout);
    connection->Open(gateway.host, gateway.port);
    ReadExternalAddress(*connection, gateway, context.ownAddressText);

    ShowLoginStatus(loginWindow, u"ルータにポート開放命令を送信しています");
    MappingAnswer answer =
        AddPortMapping(*connection, gateway, InternalClient(*connection), context.linkPort);
    if (answer == MappingAnswer::kNoAnswer) {
        // Many gateways close the connection, or stop reading it, after one answer: the
        // mapping request gets a connection of its own.
        connection->Close();
        connection = std::make_unique<ControlConnection>(context.soapTimeout);
        connection->Open(gateway.host, gateway.port);
        answer =
            AddPortMapping(*connection, gateway, InternalClient(*connection), context.linkPort);
        if (answer == MappingAnswer::kNoAnswer)
            WriteDebugLog(kUpnpLogModule, __LINE__,
                          "upnp: the gateway did not answer the port mapping request");
    }
    const std::string internalClient = InternalClient(*connection);
    // Done with it: a gateway may serve one connection at a time.
    connection->Close();
    if (answer != MappingAnswer::kMapped) {
        // The fixed control paths did not work: ask the gateway's description for its own.
        IgdMapping mapped = MapThroughDescription(gateway.descriptionUrl, context.linkPort,
                                                  kFirstMappingDescription, internalClient);
        if (mapped.mapped && !mapped.externalAddress.empty()) {
            context.ownAddressText = mapped.externalAddress;
            CutNarrow(context.ownAddressText, kOwnAddressCapacity - 1);
        }
    }

    showTitle();

    // IPv6 needs no mapping, but the gateway's firewall drops connections from outside
    // unless asked; only a server waits for them.
    if (context.listening && !context.ownIPv6Text.empty())
        context.pinhole = Pinhole::Open(gateway.descriptionUrl, context.ownIPv6Text,
                                        context.linkPort, context.pinholeOptions);
}

}  // namespace mirka
