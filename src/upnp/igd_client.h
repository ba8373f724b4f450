#pragma once

#include <cstdint>
#include <string>

// The standard IGD procedure through libminiupnpc, for gateways that serve their control URLs
// elsewhere than the fixed paths: read the description, take the WAN connection service it
// names, add the mapping and read the external address.
namespace mirka {

struct IgdMapping {
    bool mapped = false;
    std::string internalClient;   // the address the mapping forwards to
    std::string externalAddress;  // empty when the gateway did not tell it
};

// `fallbackClient` is used only when the library cannot tell the local address of its
// connection to the gateway. Every outcome goes to the debug log. Blocks for the library's
// own socket time-outs at most.
IgdMapping MapThroughDescription(const std::string& descriptionUrl, std::uint16_t linkPort,
                                 const std::string& description, const std::string& fallbackClient);

}  // namespace mirka
