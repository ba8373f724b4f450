#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "upnp/control_connection.h"
#include "upnp/gateway_discovery.h"
#include "upnp/login_status_port.h"
#include "upnp/pinhole.h"

// Asking the Internet gateway to forward the link port to this host, and learning the
// address the peer can reach us at.
namespace mirka {

inline constexpr std::size_t kOwnAddressCapacity = 200;
inline constexpr std::size_t kLocalClientCapacity = 128;
inline constexpr std::size_t kHostNameBytes = 120;
inline constexpr std::size_t kExternalAddressChars = 128;

inline constexpr char kFirstMappingDescription[] = "DuoLinkEx : kp.works";
inline constexpr char kRetryMappingDescription[] = "DuoFile : kp.works";

// What the login window hands to the flow and takes back from it.
struct PortMappingContext {
    std::uint16_t linkPort = 0;  // external and internal port of the mapping
    bool upnpDisabled = false;   // the check box "UPnPを使用しない"
    // Written by the flow (narrow, at most 199 bytes): this host's address, or the external
    // address when the gateway tells it. The talk window's opening message shows it.
    std::string ownAddressText;
    // Written by the flow: this machine's global IPv6 address, empty without one. The title
    // shows it beside the own-address text.
    std::string ownIPv6Text;
    // Server mode: the gateway is also asked to open its IPv6 firewall to the link port.
    bool listening = false;
    PinholeOptions pinholeOptions;
    // Written by the flow when the gateway opened a pinhole; the caller keeps it for as
    // long as the server may take peers (dropping it deletes the pinhole).
    std::unique_ptr<Pinhole> pinhole;
    GatewaySearchOptions search;
    std::chrono::milliseconds soapTimeout = kSoapAnswerTimeout;
};

// What the port mapping leaves for the rest of the run: the windows' addresses and the
// pinhole of the last server start.
struct OwnReach {
    std::string ownAddressText;
    std::string ownIPv6Text;
    std::unique_ptr<Pinhole> pinhole;
};

// This host's address: that of the interface carrying the default route, else the first
// other interface that is up and not loopback; where there is none, the host name replaced
// by the dotted text of its first IPv4 address when it resolves. Cut to capacity - 1 bytes.
std::string LocalAddressText(std::size_t capacity);

// The flow's first step on its own, without the gateway: the own-address text (the IPv6
// address in place of a bare host name) and the global IPv6 address, empty without one.
void FindOwnAddresses(std::string& ownAddressText, std::string& ownIPv6Text);

// The whole flow, blocking its caller until the gateway has answered or the time-outs have
// passed. Reports through the status line and title of the login window, error boxes and
// the debug log; the caller starts the link whatever happens here.
void MapRouterPort(LoginStatusPort* loginWindow, PortMappingContext& context);

}  // namespace mirka
