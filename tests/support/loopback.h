#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "link/task_manager.h"
#include "link/wire/frame.h"
#include "support/recorders.h"

namespace mirka::test {

// A port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();
// Whether a connected socket can be handed from one io_context to another (the connector
// does that with its winner). Windows does it since 8.1; wine 8 has no
// FileReplaceCompletionInformation, so asio's release() fails there with
// operation_not_supported.
bool SocketHandOverWorks();
inline constexpr const char* kNoSocketHandOver =
    "this system cannot move a socket between completion ports (wine 8 implements no "
    "FileReplaceCompletionInformation; asio's socket::release fails), so a connection won by "
    "the connector cannot be handed over";

// Links two managers over loopback: the server waits on a free port, the client connects
// to host (retrying while the server is not listening yet). Returns whether both are up.
bool LinkManagers(TaskManager& server, TaskManager& client, std::uint16_t* port = nullptr,
                  const std::string& host = "127.0.0.1");

// How many transfer rows show a finished transfer, all of its final cells written.
int FinishedRows(const RecordedRows& rows);

// Two link managers linked over loopback in one process, each with its window recorder.
struct LinkedPair {
    LinkedPair();
    ~LinkedPair();
    // Links them: server waits on a free port, client connects. Returns whether both are up.
    bool Link();

    ProgramValues serverValues;
    ProgramValues clientValues;
    WindowRecorder serverWindow;
    WindowRecorder clientWindow;
    std::unique_ptr<TaskManager> server;
    std::unique_ptr<TaskManager> client;
    std::uint16_t port = 0;
};

// A raw peer that speaks frames byte by byte, for checking what a TaskManager writes and
// for feeding it anything.
class FakePeer {
public:
    FakePeer();
    // Connects to a TaskManager that waits in StartServer.
    bool Connect(std::uint16_t port);
    // Accepts a TaskManager's ConnectToServer; Listen first, then Accept.
    std::uint16_t Listen();
    bool Accept();

    void Send(const std::vector<std::uint8_t>& bytes);
    void SendFrame(const FrameHeader& header, const std::vector<std::uint8_t>& payload = {});
    // Reads exactly n bytes; false on close or time-out.
    bool Read(std::vector<std::uint8_t>& bytes, std::size_t n, int timeoutMs = 5000);
    bool ReadHeader(FrameHeader& header, int timeoutMs = 5000);
    // Reads frames until one with the code arrives (skipping keep-alives and others).
    void Close();
    bool ClosedByPeer(int timeoutMs = 5000);

private:
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket;
    std::unique_ptr<boost::asio::ip::tcp::acceptor> acceptor;
};

std::vector<std::uint8_t> Utf16LeBytes(const WString& text);

}  // namespace mirka::test
