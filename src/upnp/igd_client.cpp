#include "upnp/igd_client.h"

#include <array>
#include <utility>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include "common/debug_log.h"
#include "upnp/gateway_urls.h"
#include "upnp/udp_manager.h"

namespace mirka {
namespace {

const char* ErrorText(int code) {
    const char* text = strupnperror(code);
    return text ? text : "unknown error";
}

}  // namespace

IgdMapping MapThroughDescription(const std::string& descriptionUrl, std::uint16_t linkPort,
                                 const std::string& description,
                                 const std::string& fallbackClient) {
    IgdMapping result;
    if (descriptionUrl.empty()) {
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: no description URL to read");
        return result;
    }
    GatewayUrls gateway;
    std::array<char, 64> lanAddress{};
    if (UPNP_GetIGDFromUrl(descriptionUrl.c_str(), &gateway.urls, &gateway.data, lanAddress.data(),
                           static_cast<int>(lanAddress.size())) == 0) {
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: could not read the description %s",
                      descriptionUrl);
        return result;
    }
    result.internalClient = lanAddress[0] ? std::string(lanAddress.data()) : fallbackClient;
    const std::string port = std::to_string(linkPort);

    // The library resolves only the first WAN connection service; when a gateway lists both
    // and the first refuses, the second gets its turn.
    for (int attempt = 0; attempt < 2 && !result.mapped; ++attempt) {
        if (attempt == 1) {
            if (gateway.data.second.servicetype[0] == '\0') break;
            std::swap(gateway.data.first, gateway.data.second);
            FreeUPNPUrls(&gateway.urls);
            GetUPNPUrls(&gateway.urls, &gateway.data, descriptionUrl.c_str(), 0);
        }
        const char* control = gateway.urls.controlURL;
        const char* service = gateway.data.first.servicetype;
        if (!control || control[0] == '\0' || service[0] == '\0') {
            WriteDebugLog(kUpnpLogModule, __LINE__,
                          "upnp: the description names no WAN connection service");
            break;
        }
        int code = UPNP_AddPortMapping(control, service, port.c_str(), port.c_str(),
                                       result.internalClient.c_str(), description.c_str(), "TCP",
                                       nullptr, "0");
        if (code != UPNPCOMMAND_SUCCESS) {
            WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: AddPortMapping at %s failed: %d %s",
                          std::string(control), code, std::string(ErrorText(code)));
            continue;
        }
        result.mapped = true;
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: port %s mapped to %s:%s through %s", port,
                      result.internalClient, port, std::string(control));
        std::array<char, 64> external{};
        if (UPNP_GetExternalIPAddress(control, service, external.data()) == UPNPCOMMAND_SUCCESS &&
            external[0] != '\0') {
            result.externalAddress = external.data();
            WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: external address %s",
                          result.externalAddress);
        }
    }
    return result;
}

}  // namespace mirka
