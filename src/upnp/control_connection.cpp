#include "upnp/control_connection.h"

#include "common/debug_log.h"
#include "upnp/udp_manager.h"

namespace mirka {

ControlConnection::ControlConnection(std::chrono::milliseconds answerTimeout)
    : answerTimeout(answerTimeout) {}

bool ControlConnection::Open(const std::string& host, const std::string& port) {
    stream.expires_after(answerTimeout);
    stream.connect(host, port.empty() ? std::string("80") : port);
    return static_cast<bool>(stream);
}

void ControlConnection::Send(const std::string& request) {
    if (!stream) return;
    stream.expires_after(answerTimeout);
    stream.write(request.data(), static_cast<std::streamsize>(request.size()));
    stream.flush();
}

bool ControlConnection::ReadLine(std::string& line) {
    line.clear();
    if (!stream) return false;
    char c;
    while (line.size() < kMaxControlLineBytes && stream.get(c)) {
        if (c == '\n') return true;
        line.push_back(c);
    }
    if (line.size() == kMaxControlLineBytes) return true;
    if (stream.error() == boost::asio::error::timed_out && !timeoutNoted) {
        timeoutNoted = true;
        WriteDebugLog(kUpnpLogModule, __LINE__, "upnp: the gateway did not answer in %lld ms",
                      static_cast<long long>(answerTimeout.count()));
    }
    // Like a line reader at the end of data: a last line without its line feed still counts.
    return !line.empty();
}

std::string ControlConnection::LocalAddress() {
    boost::system::error_code error;
    boost::asio::ip::tcp::endpoint local = stream.socket().local_endpoint(error);
    if (error || !local.address().is_v4() || local.address().is_unspecified()) return {};
    return local.address().to_string();
}

void ControlConnection::Close() {
    stream.close();
}

}  // namespace mirka
