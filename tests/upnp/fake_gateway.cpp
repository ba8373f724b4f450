#include "upnp/fake_gateway.h"

#include <array>
#include <cctype>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/write.hpp>

namespace mirka::test {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr auto kSlice = std::chrono::milliseconds(20);

// Runs the context in short slices until `done`, the deadline or the fake's end; whatever
// is still pending is cancelled and drained, so no handler outlives its caller's locals.
template <typename Cancel>
bool RunUntil(asio::io_context& context, const bool& done, Clock::time_point deadline,
              const std::atomic<bool>& stopping, Cancel cancel) {
    context.restart();
    while (!done && !stopping && Clock::now() < deadline) context.run_one_for(kSlice);
    if (done) return true;
    cancel();
    context.restart();
    context.run();
    return false;
}

// The program writes "CONTENT-LENGTH", the library "Content-Length".
std::optional<std::size_t> ContentLength(std::string_view header) {
    std::string lower(header);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    constexpr std::string_view kName = "content-length:";
    std::size_t at = lower.find(kName);
    if (at == std::string::npos) return std::nullopt;
    return std::stoul(lower.substr(at + kName.size()));
}

}  // namespace

FakeConnection::FakeConnection(FakeGateway& gateway, tcp::socket& socket)
    : gateway(gateway), socket(socket) {}

std::optional<std::string> FakeConnection::ReadSome(Clock::time_point deadline) {
    std::array<char, 4096> data;
    bool done = false;
    boost::system::error_code result;
    std::size_t count = 0;
    socket.async_read_some(asio::buffer(data),
                           [&](const boost::system::error_code& error, std::size_t n) {
                               result = error;
                               count = n;
                               done = true;
                           });
    bool finished = RunUntil(gateway.controlContext, done, deadline, gateway.stopping, [&] {
        boost::system::error_code ignored;
        socket.cancel(ignored);
    });
    if (!finished || result) return std::nullopt;
    return std::string(data.data(), count);
}

std::optional<std::string> FakeConnection::ReadRequest(std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        std::size_t headerEnd = pending.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
            std::size_t bodyStart = headerEnd + 4;
            std::size_t length = ContentLength(pending.substr(0, bodyStart)).value_or(0);
            if (pending.size() >= bodyStart + length) {
                std::string request = pending.substr(0, bodyStart + length);
                pending.erase(0, bodyStart + length);
                gateway.RecordRequest(request);
                return request;
            }
        }
        std::optional<std::string> more = ReadSome(deadline);
        if (!more) return std::nullopt;
        pending += *more;
    }
}

void FakeConnection::Send(std::string_view text) {
    boost::system::error_code ignored;
    asio::write(socket, asio::buffer(text.data(), text.size()), ignored);
}

bool FakeConnection::ClosedByPeerWithin(std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        std::array<char, 4096> data;
        bool done = false;
        boost::system::error_code result;
        socket.async_read_some(asio::buffer(data),
                               [&](const boost::system::error_code& error, std::size_t) {
                                   result = error;
                                   done = true;
                               });
        if (!RunUntil(gateway.controlContext, done, deadline, gateway.stopping, [&] {
                boost::system::error_code ignored;
                socket.cancel(ignored);
            }))
            return false;
        if (result) return true;
    }
    return false;
}

FakeGateway::FakeGateway(asio::ip::address_v4 address)
    : address(address),
      searchSocket(searchContext, udp::endpoint(address, 0)),
      acceptor(controlContext, tcp::endpoint(address, 0)),
      searchPort(searchSocket.local_endpoint().port()),
      controlPort(acceptor.local_endpoint().port()),
      script(ServeNormally("203.0.113.7")) {
    searchThread = std::thread([this] { ServeSearches(); });
    controlThread = std::thread([this] { ServeControl(); });
}

FakeGateway::~FakeGateway() {
    stopping = true;
    searchThread.join();
    controlThread.join();
}

udp::endpoint FakeGateway::SearchEndpoint() const {
    return udp::endpoint(address, searchPort);
}

void FakeGateway::SetSearchAnswers(std::vector<std::string> newAnswers) {
    std::lock_guard<std::mutex> guard(lock);
    answers = std::move(newAnswers);
}

void FakeGateway::SetScript(Script newScript) {
    std::lock_guard<std::mutex> guard(lock);
    script = std::move(newScript);
}

std::string FakeGateway::GatewayAnswer() const {
    return "HTTP/1.1 200 OK\r\n"
           "CACHE-CONTROL: max-age=120\r\n"
           "Location: http://" +
           address.to_string() + ":" + std::to_string(controlPort) +
           "/rootDesc.xml\r\n"
           "SERVER: Fake/1.0 UPnP/1.1\r\n"
           "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "USN: uuid:00000000-0000-0000-0000-000000000001\r\n"
           "\r\n";
}

std::vector<std::string> FakeGateway::Datagrams() const {
    std::lock_guard<std::mutex> guard(lock);
    return datagrams;
}

std::vector<std::string> FakeGateway::Requests() const {
    std::lock_guard<std::mutex> guard(lock);
    return requests;
}

void FakeGateway::RecordRequest(const std::string& request) {
    std::lock_guard<std::mutex> guard(lock);
    requests.push_back(request);
}

void FakeGateway::ServeSearches() {
    while (!stopping) {
        std::array<char, 8192> data;
        udp::endpoint sender;
        bool done = false;
        boost::system::error_code result;
        std::size_t count = 0;
        searchSocket.async_receive_from(asio::buffer(data), sender,
                                        [&](const boost::system::error_code& error, std::size_t n) {
                                            result = error;
                                            count = n;
                                            done = true;
                                        });
        if (!RunUntil(searchContext, done, Clock::time_point::max(), stopping, [&] {
                boost::system::error_code ignored;
                searchSocket.cancel(ignored);
            }))
            return;
        if (result) continue;
        std::vector<std::string> toSend;
        {
            std::lock_guard<std::mutex> guard(lock);
            datagrams.emplace_back(data.data(), count);
            toSend = answers;
        }
        // Each answer from its own socket, as if from several gateways.
        for (const std::string& answer : toSend) {
            udp::socket other(searchContext, udp::endpoint(address, 0));
            boost::system::error_code ignored;
            other.send_to(asio::buffer(answer), sender, 0, ignored);
        }
    }
}

void FakeGateway::ServeControl() {
    while (!stopping) {
        tcp::socket socket(controlContext);
        bool done = false;
        boost::system::error_code result;
        acceptor.async_accept(socket, [&](const boost::system::error_code& error) {
            result = error;
            done = true;
        });
        if (!RunUntil(controlContext, done, Clock::time_point::max(), stopping, [&] {
                boost::system::error_code ignored;
                acceptor.cancel(ignored);
            }))
            return;
        if (result) continue;
        ++connections;
        Script serve;
        {
            std::lock_guard<std::mutex> guard(lock);
            serve = script;
        }
        FakeConnection connection(*this, socket);
        if (serve) serve(connection);
    }
}

std::string HttpAnswer(std::string_view statusLine, std::string_view body) {
    std::string answer(statusLine);
    answer += "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nCONTENT-LENGTH: ";
    answer += std::to_string(body.size());
    answer += "\r\n\r\n";
    answer += body;
    return answer;
}

std::string ExternalAddressBody(std::string_view address) {
    std::string body =
        "<?xml version=\"1.0\"?>\r\n<s:Envelope><s:Body>\r\n"
        "<u:GetExternalIPAddressResponse>\r\n<NewExternalIPAddress>";
    body += address;
    body +=
        "</NewExternalIPAddress>\r\n</u:GetExternalIPAddressResponse>\r\n"
        "</s:Body></s:Envelope>\r\n";
    return body;
}

FakeGateway::Script ServeNormally(std::string externalAddress) {
    return [externalAddress](FakeConnection& connection) {
        while (std::optional<std::string> request = connection.ReadRequest()) {
            if (request->find("#GetExternalIPAddress") != std::string::npos)
                connection.Send(
                    HttpAnswer("HTTP/1.1 200 OK", ExternalAddressBody(externalAddress)));
            else
                connection.Send(HttpAnswer("HTTP/1.1 200 OK", "<u:AddPortMappingResponse/>\r\n"));
        }
    };
}

std::string IgdDescription(bool withIPv6Firewall) {
    std::string firewall =
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPv6FirewallControl:1"
        "</serviceType><serviceId>urn:upnp-org:serviceId:WANIPv6Firewall1</serviceId>"
        "<controlURL>/ctl/IP6FCtl</controlURL><eventSubURL>/evt/IP6FCtl</eventSubURL>"
        "<SCPDURL>/WANIP6FC.xml</SCPDURL></service>";
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
           "<device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
           "<deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType><deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
           "<serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
           "<controlURL>/ctl/IPConn</controlURL><eventSubURL>/evt/IPConn</eventSubURL>"
           "<SCPDURL>/WANIPCn.xml</SCPDURL></service>" +
           (withIPv6Firewall ? firewall : std::string()) +
           "</serviceList></device></deviceList></device></deviceList></device></root>";
}

FakeGateway::Script ServeIgd2(bool withIPv6Firewall, std::string pinholeId,
                              std::string externalAddress) {
    return [=](FakeConnection& connection) {
        auto answer = [&](std::string_view action, std::string_view content) {
            std::string body =
                "<s:Envelope><s:Body><u:" + std::string(action) +
                "Response xmlns:u=\"urn:schemas-upnp-org:service:WANIPv6FirewallControl:1\">" +
                std::string(content) + "</u:" + std::string(action) +
                "Response></s:Body></s:Envelope>";
            connection.Send(HttpAnswer("HTTP/1.1 200 OK", body));
        };
        while (std::optional<std::string> request = connection.ReadRequest()) {
            if (request->starts_with("GET /rootDesc.xml "))
                connection.Send(HttpAnswer("HTTP/1.1 200 OK", IgdDescription(withIPv6Firewall)));
            else if (request->find("#AddPinhole") != std::string::npos)
                answer("AddPinhole", "<UniqueID>" + pinholeId + "</UniqueID>");
            else if (request->find("#UpdatePinhole") != std::string::npos)
                answer("UpdatePinhole", "");
            else if (request->find("#DeletePinhole") != std::string::npos)
                answer("DeletePinhole", "");
            else if (request->find("#GetExternalIPAddress") != std::string::npos)
                connection.Send(
                    HttpAnswer("HTTP/1.1 200 OK", ExternalAddressBody(externalAddress)));
            else
                connection.Send(HttpAnswer("HTTP/1.1 200 OK", "<u:AddPortMappingResponse/>\r\n"));
        }
    };
}

}  // namespace mirka::test
