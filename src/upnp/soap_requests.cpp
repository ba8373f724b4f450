#include "upnp/soap_requests.h"

namespace mirka {
namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n\r\n";
constexpr std::string_view kEnvelopeStart =
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n";

std::string_view ControlPath(ServiceVariant variant) {
    return variant == ServiceVariant::WANIP ? "/upnp/control/WANIPConn1"
                                            : "/upnp/control/WANPPPConn1";
}

std::string_view ServiceType(ServiceVariant variant) {
    return variant == ServiceVariant::WANIP ? "urn:schemas-upnp-org:service:WANIPConnection:1"
                                            : "urn:schemas-upnp-org:service:WANPPPConnection:1";
}

std::string Request(ServiceVariant variant, std::string_view host, std::string_view port,
                    std::string_view searchTarget, std::string_view action,
                    const std::string& body) {
    std::string request;
    request.append("POST ").append(ControlPath(variant)).append(" HTTP/1.1\r\n");
    request.append("Host: ").append(host).append(":").append(port).append("\r\n");
    request.append("CONTENT-LENGTH: ").append(std::to_string(body.size())).append("\r\n");
    request.append("CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n");
    request.append("SOAPACTION: \"").append(searchTarget).append("#").append(action);
    request.append("\"\r\n\r\n");
    return request + body;
}

}  // namespace

std::string BuildGetExternalIPAddressRequest(std::string_view searchTarget,
                                             std::string_view gatewayHost,
                                             std::string_view gatewayPort, ServiceVariant variant) {
    std::string body(kXmlDeclaration);
    body.append(kEnvelopeStart);
    body.append("   <s:Body>\r\n");
    body.append("      <u:GetExternalIPAddress xmlns:u=\"")
        .append(ServiceType(variant))
        .append("\">\r\n");
    body.append("      </u:GetExternalIPAddress>\r\n");
    body.append("   </s:Body>\r\n");
    body.append("</s:Envelope>\r\n\r\n");
    return Request(variant, gatewayHost, gatewayPort, searchTarget, "GetExternalIPAddress", body);
}

std::string BuildAddPortMappingRequest(std::string_view gatewayHost, std::string_view gatewayPort,
                                       std::string_view searchTarget,
                                       std::string_view internalClient, std::uint16_t linkPort,
                                       std::string_view description, ServiceVariant variant) {
    const std::string port = std::to_string(linkPort);
    std::string body(kXmlDeclaration);
    body.append(kEnvelopeStart);
    body.append("   <s:Body>\r\n");
    // Both variants name the WANPPP service here; only the path and SOAPACTION tell them apart.
    body.append("      <m:AddPortMapping xmlns:m=\"")
        .append(ServiceType(ServiceVariant::WANPPP))
        .append("\">\r\n");
    body.append("         <NewRemoteHost></NewRemoteHost>\r\n");
    body.append("         <NewExternalPort>").append(port).append("</NewExternalPort>\r\n");
    body.append("         <NewProtocol>TCP</NewProtocol>\r\n");
    body.append("         <NewInternalPort>").append(port).append("</NewInternalPort>\r\n");
    body.append("         <NewInternalClient>")
        .append(internalClient)
        .append("</NewInternalClient>\r\n");
    body.append("         <NewEnabled>1</NewEnabled>\r\n");
    body.append("         <NewPortMappingDescription>")
        .append(description)
        .append("</NewPortMappingDescription>\r\n");
    body.append("         <NewLeaseDuration>0</NewLeaseDuration>\r\n");
    body.append("      </m:AddPortMapping>\r\n");
    body.append("   </s:Body>\r\n");
    body.append("</s:Envelope>\r\n");
    return Request(variant, gatewayHost, gatewayPort, searchTarget, "AddPortMapping", body);
}

}  // namespace mirka
