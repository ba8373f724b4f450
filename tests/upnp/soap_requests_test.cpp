#include "upnp/soap_requests.h"

#include <gtest/gtest.h>

namespace mirka {
namespace {

constexpr std::string_view kTarget = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";

std::string Body(const std::string& request) {
    return request.substr(request.find("\r\n\r\n") + 4);
}

std::string ContentLength(const std::string& request) {
    std::size_t at = request.find("CONTENT-LENGTH: ") + 16;
    return request.substr(at, request.find("\r\n", at) - at);
}

TEST(SoapRequestsTest, GetExternalIPAddressByteForByte) {
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n\r\n"
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
        "   <s:Body>\r\n"
        "      <u:GetExternalIPAddress "
        "xmlns:u=\"urn:schemas-upnp-org:service:WANPPPConnection:1\">\r\n"
        "      </u:GetExternalIPAddress>\r\n"
        "   </s:Body>\r\n"
        "</s:Envelope>\r\n\r\n";
    const std::string expected =
        "POST /upnp/control/WANPPPConn1 HTTP/1.1\r\n"
        "Host: 192.168.0.1:2869\r\n"
        "CONTENT-LENGTH: " +
        std::to_string(body.size()) +
        "\r\n"
        "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n"
        "SOAPACTION: \"urn:schemas-upnp-org:device:InternetGatewayDevice:1"
        "#GetExternalIPAddress\"\r\n\r\n" +
        body;
    EXPECT_EQ(
        BuildGetExternalIPAddressRequest(kTarget, "192.168.0.1", "2869", ServiceVariant::WANPPP),
        expected);
    EXPECT_EQ(ContentLength(expected), "335");

    // WANIP changes the path and the service name; the colon stays without a port.
    std::string wanIp = BuildGetExternalIPAddressRequest(kTarget, "gw", "", ServiceVariant::WANIP);
    EXPECT_TRUE(wanIp.starts_with("POST /upnp/control/WANIPConn1 HTTP/1.1\r\nHost: gw:\r\n"));
    EXPECT_NE(wanIp.find("xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"),
              std::string::npos);
    EXPECT_EQ(ContentLength(wanIp), std::to_string(Body(wanIp).size()));
}

TEST(SoapRequestsTest, AddPortMappingByteForByte) {
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n\r\n"
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
        "   <s:Body>\r\n"
        "      <m:AddPortMapping xmlns:m=\"urn:schemas-upnp-org:service:WANPPPConnection:1\">\r\n"
        "         <NewRemoteHost></NewRemoteHost>\r\n"
        "         <NewExternalPort>1225</NewExternalPort>\r\n"
        "         <NewProtocol>TCP</NewProtocol>\r\n"
        "         <NewInternalPort>1225</NewInternalPort>\r\n"
        "         <NewInternalClient>192.168.0.20</NewInternalClient>\r\n"
        "         <NewEnabled>1</NewEnabled>\r\n"
        "         <NewPortMappingDescription>DuoLinkEx : kp.works</NewPortMappingDescription>\r\n"
        "         <NewLeaseDuration>0</NewLeaseDuration>\r\n"
        "      </m:AddPortMapping>\r\n"
        "   </s:Body>\r\n"
        "</s:Envelope>\r\n";
    const std::string expected =
        "POST /upnp/control/WANIPConn1 HTTP/1.1\r\n"
        "Host: 192.168.0.1:2869\r\n"
        "CONTENT-LENGTH: " +
        std::to_string(body.size()) +
        "\r\n"
        "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n"
        "SOAPACTION: \"urn:schemas-upnp-org:device:InternetGatewayDevice:1"
        "#AddPortMapping\"\r\n\r\n" +
        body;
    EXPECT_EQ(BuildAddPortMappingRequest("192.168.0.1", "2869", kTarget, "192.168.0.20", 1225,
                                         "DuoLinkEx : kp.works", ServiceVariant::WANIP),
              expected);

    // WANPPP differs only in the request line; the body names the WANPPP service either way.
    std::string wanPpp =
        BuildAddPortMappingRequest("192.168.0.1", "2869", kTarget, "192.168.0.20", 65535,
                                   "DuoFile : kp.works", ServiceVariant::WANPPP);
    EXPECT_TRUE(wanPpp.starts_with("POST /upnp/control/WANPPPConn1 HTTP/1.1\r\n"));
    EXPECT_NE(wanPpp.find("<NewExternalPort>65535</NewExternalPort>"), std::string::npos);
    EXPECT_NE(wanPpp.find("<NewInternalPort>65535</NewInternalPort>"), std::string::npos);
    EXPECT_EQ(ContentLength(wanPpp), std::to_string(Body(wanPpp).size()));
    EXPECT_TRUE(wanPpp.ends_with("</m:AddPortMapping>\r\n   </s:Body>\r\n</s:Envelope>\r\n"));
    EXPECT_FALSE(wanPpp.ends_with("\r\n\r\n"));
}

}  // namespace
}  // namespace mirka
