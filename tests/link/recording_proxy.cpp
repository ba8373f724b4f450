#include "link/recording_proxy.h"

#include <algorithm>
#include <chrono>

#include <boost/asio/write.hpp>

#include "secure/handshake.h"
#include "secure/record_layer.h"
#include "toolkit/platform.h"

namespace mirka::test {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {
// Hello and confirm, then the record stream's header (none with AES-256-GCM): the first
// record follows.
std::size_t BytesBeforeRecords(secure::Cipher cipher) {
    return 2 * secure::kFrameBytes +
           (cipher == secure::Cipher::Aes256Gcm ? 0 : secure::kStreamHeaderBytes);
}
}  // namespace

RecordingProxy::RecordingProxy(std::uint16_t serverPort, Tamper tamper, secure::Cipher cipher)
    : acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
      client(io),
      server(io),
      serverPort(serverPort),
      port(acceptor.local_endpoint().port()),
      tamper(tamper),
      beforeRecords(BytesBeforeRecords(cipher)),
      runner([this] { Run(); }) {}

RecordingProxy::~RecordingProxy() {
    // Shutting the handles down wakes the blocked accept and reads.
    ShutdownSocketHandle(acceptor.native_handle());
    Cut();
    runner.join();
}

void RecordingProxy::Cut() {
    stopping = true;
    for (auto* handle : {&clientHandle, &serverHandle}) {
        std::intptr_t value = handle->load();
        if (value >= 0) ShutdownSocketHandle(value);
    }
}

void RecordingProxy::Run() {
    boost::system::error_code error;
    acceptor.accept(client, error);
    if (error) return;
    clientHandle = client.native_handle();
    if (stopping) {
        ShutdownSocketHandle(client.native_handle());
        return;
    }
    // The server may not listen yet.
    for (int attempt = 0; attempt < 500 && !stopping; ++attempt) {
        server.close(error);
        server.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), serverPort), error);
        if (!error) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (error) return;
    // Each handle is stored before stopping is looked at, as Cut sets stopping before it
    // looks at the handles: one of the two shuts a connection down, however they meet.
    serverHandle = server.native_handle();
    if (stopping) {
        ShutdownSocketHandle(client.native_handle());
        ShutdownSocketHandle(server.native_handle());
        return;
    }
    std::thread back([this] { Relay(server, client, toClient, false); });
    Relay(client, server, toServer, tamper != Tamper::None);
    back.join();
}

void RecordingProxy::Relay(tcp::socket& from, tcp::socket& to, std::vector<std::uint8_t>& record,
                           bool tamperHere) {
    std::vector<std::uint8_t> pending;
    std::uint8_t buffer[16384];
    boost::system::error_code error;
    bool done = !tamperHere;
    std::size_t sent = 0;
    auto forward = [&](std::size_t n) {
        {
            std::lock_guard<std::mutex> guard(lock);
            record.insert(record.end(), pending.begin(), pending.begin() + n);
        }
        asio::write(to, asio::buffer(pending.data(), n), error);
        pending.erase(pending.begin(), pending.begin() + n);
        sent += n;
    };
    while (!error) {
        std::size_t got = from.read_some(asio::buffer(buffer), error);
        if (error) break;
        pending.insert(pending.end(), buffer, buffer + got);
        if (!done) {
            // The handshake passes at once; the first record is held until it is whole.
            if (sent < beforeRecords) forward(std::min(pending.size(), beforeRecords - sent));
            if (error || sent < beforeRecords || pending.size() < secure::kRecordLengthBytes)
                continue;
            std::size_t size =
                secure::kRecordLengthBytes +
                (pending[0] | pending[1] << 8 | pending[2] << 16 | (pending[3] & 0x7F) << 24);
            if (pending.size() < size) continue;
            std::vector<std::uint8_t> firstRecord(pending.begin(), pending.begin() + size);
            if (tamper == Tamper::FlipByte) {
                pending[size / 2] ^= 0x20;
            } else if (tamper == Tamper::DropRecord) {
                pending.erase(pending.begin(), pending.begin() + size);
            } else {
                pending.insert(pending.begin() + size, firstRecord.begin(), firstRecord.end());
            }
            std::lock_guard<std::mutex> guard(lock);
            tampered = true;
            done = true;
        }
        forward(pending.size());
    }
    to.shutdown(tcp::socket::shutdown_send, error);
}

std::vector<std::uint8_t> RecordingProxy::ClientToServer() const {
    std::lock_guard<std::mutex> guard(lock);
    return toServer;
}

std::vector<std::uint8_t> RecordingProxy::ServerToClient() const {
    std::lock_guard<std::mutex> guard(lock);
    return toClient;
}

bool RecordingProxy::Tampered() const {
    std::lock_guard<std::mutex> guard(lock);
    return tampered;
}

bool Contains(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& needle) {
    return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

}  // namespace mirka::test
