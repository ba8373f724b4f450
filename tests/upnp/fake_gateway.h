#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

// A gateway on 127.0.0.1 (or an address of a namespace the test made) for the port-mapping
// tests: a UDP socket that answers the search datagram and a TCP server whose connections a
// test script serves, one after the other.
namespace mirka::test {

class FakeGateway;

// One control connection, served on the fake's own thread.
class FakeConnection {
public:
    FakeConnection(FakeGateway& gateway, boost::asio::ip::tcp::socket& socket);

    // One request: the header up to its empty line, then CONTENT-LENGTH bytes of body.
    // Empty when the program closes, on an error or after the time-out.
    std::optional<std::string> ReadRequest(
        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void Send(std::string_view text);
    // True when the program closes its end within the time (anything it sends is dropped).
    bool ClosedByPeerWithin(std::chrono::milliseconds timeout);

private:
    std::optional<std::string> ReadSome(std::chrono::steady_clock::time_point deadline);

    FakeGateway& gateway;
    boost::asio::ip::tcp::socket& socket;
    std::string pending;
};

class FakeGateway {
public:
    using Script = std::function<void(FakeConnection&)>;

    explicit FakeGateway(
        boost::asio::ip::address_v4 address = boost::asio::ip::address_v4::loopback());
    ~FakeGateway();

    boost::asio::ip::udp::endpoint SearchEndpoint() const;
    std::uint16_t ControlPort() const { return controlPort; }

    // Answers to each search datagram, each from its own socket, in this order.
    void SetSearchAnswers(std::vector<std::string> answers);
    // Serves each control connection; the default answers like a working gateway.
    void SetScript(Script script);

    // A 200 answer whose location points at this fake's control port.
    std::string GatewayAnswer() const;

    std::vector<std::string> Datagrams() const;
    std::vector<std::string> Requests() const;
    int Connections() const { return connections.load(); }

private:
    friend class FakeConnection;

    void ServeSearches();
    void ServeControl();
    void RecordRequest(const std::string& request);

    boost::asio::ip::address_v4 address;
    std::atomic<bool> stopping{false};
    boost::asio::io_context searchContext;
    boost::asio::io_context controlContext;
    boost::asio::ip::udp::socket searchSocket;
    boost::asio::ip::tcp::acceptor acceptor;
    std::uint16_t searchPort = 0;
    std::uint16_t controlPort = 0;
    std::atomic<int> connections{0};

    mutable std::mutex lock;
    std::vector<std::string> answers;
    Script script;
    std::vector<std::string> datagrams;
    std::vector<std::string> requests;

    std::thread searchThread;
    std::thread controlThread;
};

// An HTTP answer with the status line, a text/xml body and its length.
std::string HttpAnswer(std::string_view statusLine, std::string_view body);
std::string ExternalAddressBody(std::string_view address);

// A working gateway: the external address for GetExternalIPAddress, 200 for AddPortMapping.
FakeGateway::Script ServeNormally(std::string externalAddress);

// The description of a gateway whose WAN connection is at /ctl/IPConn and, when asked for,
// whose IPv6 firewall control (IGD v2's WANIPv6FirewallControl) is at /ctl/IP6FCtl.
std::string IgdDescription(bool withIPv6Firewall);
// An IGD v2: the fixed paths as ServeNormally, its description at /rootDesc.xml, and the
// pinhole actions, where AddPinhole answers with `pinholeId` as the UniqueID.
FakeGateway::Script ServeIgd2(bool withIPv6Firewall, std::string pinholeId = "7",
                              std::string externalAddress = "203.0.113.7");

}  // namespace mirka::test
