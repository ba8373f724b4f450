// The link's queues: the I/O thread's frames never wait behind the pump's writes, its
// reads never hold up this side's frames, every frame still goes out whole and in order, and
// a local link's receive buffer stays small.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "link/transport/receive_window.h"
#include "link/wire/file_record.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using test::WaitUntil;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFileBytes = 32 * 1024 * 1024;

// This side sends a 32 MiB file that the peer accepts and then does not read: the socket
// buffers fill, and the batch under way waits for room.
class PeerLinkWrites : public ::testing::Test {
protected:
    void SendAFileThePeerDoesNotRead(unsigned seed) {
        values.SetReceiveFolder(inbox.WithSeparator());
        manager.ownerWindow = &window;
        std::uint16_t port = peer.Listen();
        std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
        ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
        accepter.join();

        content = test::RandomBytes(kFileBytes, seed);
        test::WriteFile(outbox.Path() / "big.bin", content);
        manager.sendBufSize = 1024 * 1024;
        manager.SendFile(FromFsPath(outbox.Path() / "big.bin"));
        ASSERT_TRUE(peer.ReadHeader(header));
        ASSERT_EQ(header.code, NET_FILE_OFFER);
        Bytes record;
        ASSERT_TRUE(peer.Read(record, FileRecord::kBytes));
        peer.SendFrame(FrameHeader{NET_FILE_ACCEPT}, record);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    test::TempFolder outbox;
    test::TempFolder inbox;
    ProgramValues values;
    test::WindowRecorder window;
    TaskManager manager{&values};
    test::FakePeer peer;
    std::vector<char> content;
    FrameHeader header;
};

TEST_F(PeerLinkWrites, ThePeerIsHeardWhileThePumpIsStuckInAWrite) {
    ASSERT_NO_FATAL_FAILURE(SendAFileThePeerDoesNotRead(11));

    // An offer, which the I/O thread answers, then a chat line behind it.
    test::SendOffer(peer, u"small.bin", 7, 3);
    Bytes style(CharFormat::kBytes, 0);
    Bytes text = test::Utf16LeBytes(u"peer の発言 (00:00:00): \r\nheard\r\n");
    Bytes chat = style;
    chat.insert(chat.end(), text.begin(), text.end());
    peer.Send(test::EncodeFrame(NET_CHAT, 0, static_cast<std::uint32_t>(text.size()), chat));
    EXPECT_TRUE(WaitUntil([&] { return window.LogText().find(u"heard") != WString::npos; },
                          std::chrono::seconds(5)));

    // Reading again: the file's frames come whole and in order, and the accept between them.
    std::size_t offset = 0;
    bool accepted = false;
    while (!accepted) {
        ASSERT_TRUE(peer.ReadHeader(header)) << "at file offset " << offset;
        Bytes payload;
        if (header.code == NET_FILE_DATA) {
            ASSERT_EQ(header.taskField, 0u);
            ASSERT_LE(offset + header.lengthField, content.size());
            ASSERT_TRUE(peer.Read(payload, header.lengthField));
            ASSERT_EQ(std::memcmp(payload.data(), content.data() + offset, payload.size()), 0)
                << "at file offset " << offset;
            offset += payload.size();
        } else if (header.code == NET_FILE_ACCEPT) {
            ASSERT_TRUE(peer.Read(payload, FileRecord::kBytes));
            FileRecord accept = FileRecord::Decode(payload.data());
            EXPECT_EQ(accept.taskId, 7);
            EXPECT_EQ(accept.fileSize, 3);
            accepted = true;
        } else {
            ASSERT_EQ(header.code, NET_KEEPALIVE) << "at file offset " << offset;
        }
    }
    // It came behind the block under way, not after the whole file.
    EXPECT_LT(offset, content.size());
}

TEST_F(PeerLinkWrites, AFrameReadHalfWayDoesNotHoldUpThisSidesFrames) {
    // The peer sends half a chat line and holds the rest back until it has read the whole
    // file: this side waits for the rest in a payload read all that time, and its own frames
    // must go on reaching the socket meanwhile, or both sides would wait for ever.
    ASSERT_NO_FATAL_FAILURE(SendAFileThePeerDoesNotRead(12));

    Bytes style(CharFormat::kBytes, 0);
    Bytes text = test::Utf16LeBytes(u"peer の発言 (00:00:00): \r\nlate\r\n");
    Bytes chat = style;
    chat.insert(chat.end(), text.begin(), text.end());
    Bytes frame = test::EncodeFrame(NET_CHAT, 0, static_cast<std::uint32_t>(text.size()), chat);
    std::size_t half = FrameHeader::kBytes + CharFormat::kBytes / 2;
    peer.Send(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(half)));

    std::size_t offset = 0;
    while (offset < content.size()) {
        ASSERT_TRUE(peer.ReadHeader(header)) << "at file offset " << offset;
        if (header.code == NET_KEEPALIVE) continue;
        ASSERT_EQ(header.code, NET_FILE_DATA) << "at file offset " << offset;
        ASSERT_LE(offset + header.lengthField, content.size());
        Bytes payload;
        ASSERT_TRUE(peer.Read(payload, header.lengthField));
        ASSERT_EQ(std::memcmp(payload.data(), content.data() + offset, payload.size()), 0)
            << "at file offset " << offset;
        offset += payload.size();
    }
    peer.Send(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(half), frame.end()));
    EXPECT_TRUE(WaitUntil([&] { return window.LogText().find(u"late") != WString::npos; },
                          std::chrono::seconds(5)));
}

TEST_F(PeerLinkWrites, ALinkThatEndsWithItsSocketFullEndsBetweenFrames) {
    // The peer says goodbye while this side's batch waits half-written for room: the link's
    // end writes the rest as the peer reads, so the stream ends between frames, not in one.
    ASSERT_NO_FATAL_FAILURE(SendAFileThePeerDoesNotRead(13));
    peer.SendFrame(FrameHeader{NET_DISCONNECT});
    std::size_t offset = 0;
    while (peer.ReadHeader(header)) {
        if (header.code != NET_FILE_DATA) continue;  // a keep-alive
        Bytes payload;
        ASSERT_TRUE(peer.Read(payload, header.lengthField))
            << "the stream ends inside the frame at file offset " << offset;
        offset += payload.size();
    }
    EXPECT_GT(offset, 0u);
}

// The port of a socket address of either family.
int PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// A socket option of this process's socket on a link through `port`: the accepting end
// (bound to the port) or the connecting end (connected to it); -1 when there is none.
int OptionOfLinkEnd(std::uint16_t port, bool accepting, int level, int option) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_storage own{}, other{};
        socklen_t size = sizeof own;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &size) != 0) continue;
        size = sizeof other;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&other), &size) != 0) continue;
        if (PortOf(accepting ? own : other) != port) continue;
        int value = -1;
        size = sizeof value;
        ::getsockopt(fd, level, option, &value, &size);
        return value;
    }
    return -1;
}

// A linked pair whose client sends a 32 MiB file at full speed.
void SendAtFullSpeed(test::TransferPair& pair) {
    test::WriteFile(pair.outbox.Path() / "big.bin", test::RandomBytes(kFileBytes, 5));
    pair.client->sendWait = 1;
    pair.client->sendBufSize = 1024 * 1024;
    pair.Send(pair.outbox.Path() / "big.bin");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return test::FinishedRows(pair.serverWindow.Transfers()) == 1; },
        std::chrono::seconds(60)));
}

// The system grows a receive buffer, and the window with it, as a fast send comes in; a chat
// line then waits behind megabytes whenever the disk is slower than the link.
TEST(PeerLinkQueues, TheReceiveQueueStaysBoundedThroughAFullSpeedSend) {
    {
        // A local link: a buffer of fixed size on both ends, which the system doubles
        // within its own cap.
        test::TransferPair pair;
        ASSERT_TRUE(pair.Link());
        long cap = 0;
        std::ifstream("/proc/sys/net/core/rmem_max") >> cap;
        ASSERT_GT(cap, 0);
        const int fixed =
            2 * static_cast<int>(std::min<long>(ReceiveWindowSizer::kLocalBufferBytes, cap));
        EXPECT_EQ(OptionOfLinkEnd(pair.port, false, SOL_SOCKET, SO_RCVBUF), fixed);
        EXPECT_EQ(OptionOfLinkEnd(pair.port, true, SOL_SOCKET, SO_RCVBUF), fixed);
        ASSERT_NO_FATAL_FAILURE(SendAtFullSpeed(pair));
        EXPECT_EQ(OptionOfLinkEnd(pair.port, true, SOL_SOCKET, SO_RCVBUF), fixed);
    }
    {
        // The window sized as on a long path: the round trip of loopback asks for the floor,
        // and the system's tuning, which raises the window as it grows the buffer, does not
        // keep it raised.
        test::TransferPair pair;
        TaskManagerTestSeam::SizeTheWindowOnEveryPath(*pair.server);
        ASSERT_TRUE(pair.Link());
        ASSERT_NO_FATAL_FAILURE(SendAtFullSpeed(pair));
        // The system may have raised it with the send's last bytes: a chat line a little
        // later is a read that sets it again.
        std::this_thread::sleep_for(2 * ReceiveWindowSizer::kRenewInterval);
        pair.client->QueueChatLine(u"after the send", u"client");
        ASSERT_TRUE(pair.serverWindow.WaitFor(
            [&] { return pair.serverWindow.LogText().find(u"after the send") != WString::npos; }));
        EXPECT_EQ(OptionOfLinkEnd(pair.port, true, IPPROTO_TCP, TCP_WINDOW_CLAMP),
                  ReceiveWindowSizer::kFloorBytes);
    }
}

}  // namespace
}  // namespace mirka
