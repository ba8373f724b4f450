#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include <boost/asio/ip/tcp.hpp>

// The one TCP connection to the gateway's control URL that carries every SOAP request of a
// port mapping, one after the other.
namespace mirka {

// How long the gateway has to answer each request before the connection is given up.
inline constexpr std::chrono::milliseconds kSoapAnswerTimeout = std::chrono::seconds(10);
// A longer line is handed on in pieces of this size, so a gateway cannot exhaust memory.
inline constexpr std::size_t kMaxControlLineBytes = 4096;

class ControlConnection {
public:
    explicit ControlConnection(std::chrono::milliseconds answerTimeout = kSoapAnswerTimeout);

    // The port text is resolved as a service; an empty one means the URL's default, 80.
    bool Open(const std::string& host, const std::string& port);
    // Writes and flushes one request and gives the gateway the answer time-out from now.
    // Does nothing once the connection has failed.
    void Send(const std::string& request);
    // One line up to its line feed (which is dropped; a carriage return stays). False at the
    // end of data, on an error and when the time-out has passed.
    bool ReadLine(std::string& line);
    void Close();
    // The dotted IPv4 address this end of the connection has: the address of the interface
    // that routes to the gateway. Empty when the connection never stood.
    std::string LocalAddress();

private:
    std::chrono::milliseconds answerTimeout;
    boost::asio::ip::tcp::iostream stream;
    bool timeoutNoted = false;
};

}  // namespace mirka
