#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The two SOAP requests sent to the gateway's control paths, header and body, as narrow text.
// Values go in as they are: everything in them comes from the gateway's answer (cut at its
// line ends) or from this host, and is ASCII.
namespace mirka {

// Chooses the control path and the service name of a request.
enum class ServiceVariant { WANIP, WANPPP };

std::string BuildGetExternalIPAddressRequest(std::string_view searchTarget,
                                             std::string_view gatewayHost,
                                             std::string_view gatewayPort, ServiceVariant variant);

std::string BuildAddPortMappingRequest(std::string_view gatewayHost, std::string_view gatewayPort,
                                       std::string_view searchTarget,
                                       std::string_view internalClient, std::uint16_t linkPort,
                                       std::string_view description, ServiceVariant variant);

}  // namespace mirka
