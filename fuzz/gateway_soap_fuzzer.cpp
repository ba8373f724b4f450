// Feeds arbitrary bytes to the port mapping as the gateway's answers to its SOAP requests.
//
// The whole flow runs as in the program (MapRouterPort on its own thread), against a gateway
// this program plays on 127.0.0.1: a UDP socket answers the search with a location on its
// own TCP port, and each control connection gets the input as everything the gateway says,
// then the end of the stream. The answer readers are not callable on their own, and this
// way the line reading of the control connection is fuzzed with them.
//
// Checked besides what the sanitizers catch: the flow ends by itself (no reader waits for
// ever), the address it learnt fits its 200-byte field and the title its 511 units.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/write.hpp>

#include "fuzz_window.h"
#include "upnp/port_mapping.h"

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;
using mirka::fuzz::CountingWindow;

constexpr auto kFlowDeadline = std::chrono::seconds(20);

class CountingLoginWindow : public mirka::LoginStatusPort {
public:
    void SetStatusText(const mirka::WString&) override { ++statusTexts; }
    void SetTitle(const mirka::WString& title) override {
        if (title.size() > mirka::kAddressTitleCapacity - 1) CountingWindow::Fail("a long title");
        ++titles;
    }
    std::atomic<int> statusTexts{0};
    std::atomic<int> titles{0};
};

struct FakeGateway {
    FakeGateway()
        : search(io, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
          control(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        answer = "HTTP/1.1 200 OK\r\nLocation: http://127.0.0.1:" +
                 std::to_string(control.local_endpoint().port()) +
                 "/rootDesc.xml\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n";
        mirka::InstallMessagePresenter(&presenter);
    }

    // Answers the search, then serves control connections until the flow has ended.
    void Serve(const std::uint8_t* data, std::size_t size, const std::atomic<bool>& flowDone) {
        char datagram[2048];
        udp::endpoint sender;
        search.async_receive_from(asio::buffer(datagram), sender,
                                  [&](const boost::system::error_code& e, std::size_t) {
                                      if (!e) search.send_to(asio::buffer(answer), sender);
                                  });
        std::vector<std::unique_ptr<tcp::socket>> connections;
        std::function<void()> acceptNext = [&] {
            connections.push_back(std::make_unique<tcp::socket>(io));
            tcp::socket& socket = *connections.back();
            control.async_accept(socket, [&, data, size](const boost::system::error_code& e) {
                if (e) return;
                asio::async_write(socket, asio::buffer(data, size),
                                  [&socket](const boost::system::error_code&, std::size_t) {
                                      boost::system::error_code ignored;
                                      socket.shutdown(tcp::socket::shutdown_send, ignored);
                                  });
                Drain(socket);
                acceptNext();
            });
        };
        acceptNext();
        io.restart();
        auto deadline = std::chrono::steady_clock::now() + kFlowDeadline;
        while (!flowDone && std::chrono::steady_clock::now() < deadline)
            io.run_for(std::chrono::milliseconds(100));
        boost::system::error_code ignored;
        search.cancel(ignored);
        control.cancel(ignored);
        for (auto& socket : connections) socket->close(ignored);
        io.restart();
        io.run();
        if (!flowDone) CountingWindow::Fail("the port mapping did not end");
    }

    // Reads and drops the requests until the flow closes its end.
    void Drain(tcp::socket& socket) {
        auto sink = std::make_shared<std::array<char, 4096>>();
        socket.async_read_some(
            asio::buffer(*sink),
            [this, &socket, sink](const boost::system::error_code& e, std::size_t) {
                if (!e) Drain(socket);
            });
    }

    asio::io_context io;
    udp::socket search;
    tcp::acceptor control;
    std::string answer;
    mirka::fuzz::CountingPresenter presenter;
};

FakeGateway& Gateway() {
    static FakeGateway* gateway = new FakeGateway();
    return *gateway;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FakeGateway& gateway = Gateway();
    CountingLoginWindow window;
    mirka::PortMappingContext context;
    context.linkPort = 1225;
    context.search.destination = gateway.search.local_endpoint();
    context.search.deadline = std::chrono::seconds(5);
    context.soapTimeout = std::chrono::seconds(5);
    std::atomic<bool> done{false};
    std::thread flow([&] {
        mirka::MapRouterPort(&window, context);
        done = true;
        gateway.io.stop();  // wakes the serving loop at once
    });
    gateway.Serve(data, size, done);
    flow.join();
    if (context.ownAddressText.size() > mirka::kOwnAddressCapacity - 1)
        CountingWindow::Fail("an own address over its field");
    return 0;
}
