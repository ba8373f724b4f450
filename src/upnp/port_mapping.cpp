#include "upnp/port_mapping.h"

#include <algorithm>
#include <string_view>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/host_name.hpp>

#include "toolkit/message_box.h"
#include "toolkit/text.h"
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

// AddPortMapping, WANIP first and WANPPP when the gateway answers with an error.
void AddPortMapping(ControlConnection& connection, const GatewayLocation& g,
                    const std::string& localClient, std::uint16_t linkPort) {
    connection.Send(BuildAddPortMappingRequest(g.host, g.port, g.searchTarget, localClient,
                                               linkPort, kFirstMappingDescription,
                                               ServiceVariant::WANIP));
    bool retrySent = false;
    std::string line;
    while (connection.ReadLine(line)) {
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
        if (Contains(line, kMappingSuccess)) break;
    }
}

}  // namespace

std::string LocalAddressText(std::size_t capacity) {
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

void MapRouterPort(LoginStatusPort* loginWindow, PortMappingContext& context) {
    SetStatusText(loginWindow, u"hostname を取得しています");
    context.ownAddressText = LocalAddressText(kOwnAddressCapacity);
    if (context.upnpDisabled) {
        ShowAddressTitle(loginWindow, context.ownAddressText);
        return;
    }

    DiscoveryResult discovery = DiscoverGateway(context.search, loginWindow);
    if (discovery.outcome == DiscoveryOutcome::kNoLocation ||
        discovery.outcome == DiscoveryOutcome::kUnusableLocation) {
        ShowAddressTitle(loginWindow, context.ownAddressText);
        return;
    }
    if (discovery.outcome != DiscoveryOutcome::kFound) return;
    const GatewayLocation& gateway = discovery.gateway;

    SetStatusText(loginWindow, u"グローバルIP を取得しています");
    // A connection that fails here fails every request after it: both loops end at once.
    ControlConnection connection(context.soapTimeout);
    connection.Open(gateway.host, gateway.port);
    ReadExternalAddress(connection, gateway, context.ownAddressText);

    SetStatusText(loginWindow, u"ルータにポート開放命令を送信しています");
    std::string localClient = LocalAddressText(kLocalClientCapacity);
    AddPortMapping(connection, gateway, localClient, context.linkPort);

    ShowAddressTitle(loginWindow, context.ownAddressText);
    connection.Close();
}

}  // namespace mirka
