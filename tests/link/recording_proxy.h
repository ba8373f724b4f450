#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "secure/record_layer.h"

// A relay on 127.0.0.1 between a client and a server that records every byte in both
// directions. It can tamper with the client's first record after the private link's
// handshake: flip a byte of it, drop it, or send it twice.
namespace mirka::test {

class RecordingProxy {
public:
    enum class Tamper { None, FlipByte, DropRecord, ReplayRecord };

    // `cipher`: what the records in between use (their first one is found by it).
    RecordingProxy(std::uint16_t serverPort, Tamper tamper = Tamper::None,
                   secure::Cipher cipher = secure::Cipher::XChaCha20Poly1305);
    ~RecordingProxy();
    std::uint16_t Port() const { return port; }
    std::vector<std::uint8_t> ClientToServer() const;
    std::vector<std::uint8_t> ServerToClient() const;
    // Whether the chosen change has been made.
    bool Tampered() const;
    // Ends both connections as a third party in the middle would.
    void Cut();

private:
    void Run();
    void Relay(boost::asio::ip::tcp::socket& from, boost::asio::ip::tcp::socket& to,
               std::vector<std::uint8_t>& record, bool tamperHere);

    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::ip::tcp::socket client;
    boost::asio::ip::tcp::socket server;
    std::uint16_t serverPort;
    std::uint16_t port;
    Tamper tamper;
    std::size_t beforeRecords;
    mutable std::mutex lock;
    std::vector<std::uint8_t> toServer;
    std::vector<std::uint8_t> toClient;
    bool tampered = false;
    std::atomic<bool> stopping{false};
    std::atomic<std::intptr_t> clientHandle{-1};
    std::atomic<std::intptr_t> serverHandle{-1};
    std::thread runner;
};

// Whether `needle` occurs anywhere in `bytes`.
bool Contains(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& needle);

}  // namespace mirka::test
