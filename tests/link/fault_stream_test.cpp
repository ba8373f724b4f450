#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "link/wire/file_record.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/text_matchers.h"
#include "support/wait.h"
#include "transfer_support.h"

// A connection that breaks in the middle of a frame, in either direction: the link closes
// on its own, nothing waits for ever, and the same TaskManager links again afterwards.
namespace mirka {
namespace {

using test::FakePeer;
using test::WaitUntil;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

using test::ChatFrame;

Bytes StatusFrame(const WString& status) {
    Bytes payload = test::Utf16LeBytes(status);
    auto length = static_cast<std::uint32_t>(payload.size());
    payload.resize(payload.size() + 256, 0);
    return test::EncodeFrame(NET_STATUS, 0, length, payload);
}

Bytes OfferFrame(const WString& name, std::int32_t id, std::int64_t size) {
    FileRecord record;
    record.name = name;
    record.taskId = id;
    record.fileSize = size;
    auto bytes = record.Encode();
    return test::EncodeFrame(NET_FILE_OFFER, 0, 0, Bytes(bytes.begin(), bytes.end()));
}

Bytes Head(const Bytes& frame, std::size_t n) {
    return Bytes(frame.begin(), frame.begin() + n);
}

// The payload length a frame of this header carries.
std::size_t PayloadBytes(const FrameHeader& header) {
    switch (header.code) {
        case NET_CHAT:
            return CharFormat::kBytes + header.lengthField;
        case NET_STATUS:
            return header.lengthField + 256;
        case NET_FILE_DATA:
            return header.lengthField;
        case NET_FILE_OFFER:
        case NET_FILE_ACCEPT:
            return FileRecord::kBytes;
        default:
            return 0;
    }
}

// Reads frames until a chat frame arrives; returns its text.
bool ReadChat(FakePeer& peer, WString& text) {
    FrameHeader header;
    Bytes body;
    do {
        if (!peer.ReadHeader(header)) return false;
        if (PayloadBytes(header) > 0 && !peer.Read(body, PayloadBytes(header))) return false;
    } while (header.code != NET_CHAT);
    text = DecodeUtf16Le(body.data() + CharFormat::kBytes, header.lengthField);
    return true;
}

// One TaskManager serving a receive folder, linked again and again to fresh raw peers.
struct ServerSide {
    ServerSide() : manager(&values) {
        values.SetReceiveFolder(inbox.WithSeparator());
        manager.ownerWindow = &window;
        TaskManagerTestSeam::SetDisconnectPause(manager, std::chrono::milliseconds(10));
    }
    // A new raw peer linked to the manager's StartServer.
    std::unique_ptr<FakePeer> Link() {
        auto peer = std::make_unique<FakePeer>();
        std::uint16_t port = test::FreeLoopbackPort();
        std::thread waiter([&] { manager.StartServer(port); });
        bool connected = peer->Connect(port);
        waiter.join();
        return connected ? std::move(peer) : nullptr;
    }
    // The link still carries chat both ways.
    void ExpectChatFlows(FakePeer& peer) {
        std::size_t before = window.Messages().size();
        peer.Send(ChatFrame(u"peer の発言 (00:00:00): \r\nagain\r\n"));
        ASSERT_TRUE(window.WaitFor([&] { return window.Messages().size() > before; }));
        EXPECT_NE(window.LogText().find(u"again\r\n"), WString::npos);
        manager.QueueChatLine(u"back", u"me");
        WString text;
        ASSERT_TRUE(ReadChat(peer, text));
        EXPECT_THAT(text, test::TextEndsWith(u"\r\nback\r\n"));
    }

    ProgramValues values;
    test::WindowRecorder window;
    test::TempFolder inbox;
    TaskManager manager;
};

TEST(FaultStream, EmptyStatusTextIsShownAndTheLinkStaysInStep) {
    // Found by the fuzzer: an empty text was read into no storage at all.
    ServerSide side;
    auto peer = side.Link();
    ASSERT_TRUE(peer);
    peer->Send(StatusFrame(u""));
    ASSERT_TRUE(side.window.WaitFor([&] { return !side.window.Title().empty(); }));
    EXPECT_EQ(side.window.StatusText(), u"");
    side.ExpectChatFlows(*peer);
}

TEST(FaultStream, FrameCutOffByThePeerClosesTheLinkAndALaterLinkWorks) {
    ServerSide side;
    Bytes chat = ChatFrame(u"x の発言 (00:00:00): \r\nhalf\r\n");
    Bytes status = StatusFrame(u"離席中");
    Bytes offer = OfferFrame(u"half.bin", 3, 4000);
    Bytes data = offer;
    Bytes dataFrame = test::EncodeFrame(NET_FILE_DATA, 3, 4000, Bytes(4000, 'd'));
    data.insert(data.end(), dataFrame.begin(), dataFrame.begin() + 48 + 1000);
    struct Case {
        const char* name;
        Bytes bytes;
    };
    std::vector<Case> cases = {
        {"header", Head(chat, 20)},
        {"chat style", Head(chat, 48 + 50)},
        {"chat text", Head(chat, chat.size() - 3)},
        {"status text", Head(status, 48 + 3)},
        {"status name", Head(status, status.size() - 100)},
        {"offer", Head(offer, 48 + 300)},
        {"data", data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t messages = side.window.Messages().size();
        auto peer = side.Link();
        ASSERT_TRUE(peer);
        peer->Send(c.bytes);
        peer->Close();
        ASSERT_TRUE(WaitUntil([&] { return side.manager.LinkState() == LINK_CLOSED; }));
        // Nothing of a cut-off chat line or status text is shown.
        EXPECT_EQ(side.window.LogText().find(u"half\r\n"), WString::npos);
        EXPECT_EQ(side.window.StatusText(), u"");
        if (std::string(c.name) == "data") {
            // The transfer it started ends with the link; its partial file stays.
            EXPECT_TRUE(side.window.WaitFor([&] {
                return side.window.LogText().find(u"接続が切れたため、転送を中止しました") !=
                       WString::npos;
            }));
            EXPECT_TRUE(std::filesystem::exists(side.inbox.Path() / "half.bin.tmp"));
        } else {
            EXPECT_EQ(side.window.Messages().size(), messages);
        }
    }
    auto peer = side.Link();
    ASSERT_TRUE(peer);
    side.ExpectChatFlows(*peer);
}

TEST(FaultStream, PeerSilentInTheMiddleOfAFrameDoesNotHoldUpTheNextLink) {
    ServerSide side;
    TaskManagerTestSeam::SetCloseLinger(side.manager, std::chrono::milliseconds(300));
    auto silent = side.Link();
    ASSERT_TRUE(silent);
    Bytes chat = ChatFrame(u"x の発言 (00:00:00): \r\nnever\r\n");
    silent->Send(Head(chat, 60));  // and then nothing, without closing
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    side.manager.Disconnect();
    EXPECT_EQ(side.manager.LinkState(), LINK_CLOSED);
    auto start = Clock::now();
    auto peer = side.Link();
    ASSERT_TRUE(peer);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    side.ExpectChatFlows(*peer);
}

// A client TaskManager writing to a raw peer that reads part of a frame and goes away.
struct ClientSide {
    ClientSide() {
        manager.ownerWindow = &window;
        TaskManagerTestSeam::SetDisconnectPause(manager, std::chrono::milliseconds(10));
        // Long enough that only workers ending on their own let the next link start at once.
        TaskManagerTestSeam::SetCloseLinger(manager, std::chrono::seconds(20));
    }
    std::unique_ptr<FakePeer> Link() {
        auto peer = std::make_unique<FakePeer>();
        std::uint16_t port = peer->Listen();
        bool accepted = false;
        std::thread accepter([&] { accepted = peer->Accept(); });
        bool connected = manager.ConnectToServer("127.0.0.1", port);
        accepter.join();
        return connected && accepted ? std::move(peer) : nullptr;
    }
    test::WindowRecorder window;
    test::TempFolder outbox;
    TaskManager manager;
};

TEST(FaultStream, PeerGoneWhileThisSideWritesAFrame) {
    ClientSide side;
    test::WriteFile(side.outbox.Path() / "big.bin", test::RandomBytes(8 * 1024 * 1024, 5));
    for (const char* what : {"chat", "status", "data"}) {
        SCOPED_TRACE(what);
        auto peer = side.Link();
        ASSERT_TRUE(peer);
        Bytes part;
        if (std::string(what) == "chat") {
            side.manager.QueueChatLine(WString(900, u'c'), u"me");
            ASSERT_TRUE(peer->Read(part, 48 + 200));
        } else if (std::string(what) == "status") {
            side.manager.QueueStatusMessage(WString(1000, u's'));
            ASSERT_TRUE(peer->Read(part, 48 + 100));
        } else {
            side.manager.sendBufSize = 256 * 1024;
            side.manager.SendFile(FromFsPath(side.outbox.Path() / "big.bin"));
            FrameHeader header;
            ASSERT_TRUE(peer->ReadHeader(header));
            ASSERT_EQ(header.code, NET_FILE_OFFER);
            ASSERT_TRUE(peer->Read(part, FileRecord::kBytes));
            FrameHeader accept;
            accept.code = NET_FILE_ACCEPT;
            peer->SendFrame(accept, part);
            ASSERT_TRUE(peer->Read(part, 48 + 1000));
        }
        peer->Close();
        ASSERT_TRUE(WaitUntil([&] { return side.manager.LinkState() == LINK_CLOSED; }));
    }
    // The workers ended by themselves: the next link does not wait out the linger.
    auto start = Clock::now();
    auto peer = side.Link();
    ASSERT_TRUE(peer);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    peer->Send(ChatFrame(u"peer の発言 (00:00:00): \r\nhello\r\n"));
    ASSERT_TRUE(side.window.WaitFor(
        [&] { return side.window.LogText().find(u"hello\r\n") != WString::npos; }));
    side.manager.QueueChatLine(u"after", u"me");
    WString text;
    ASSERT_TRUE(ReadChat(*peer, text));
    EXPECT_THAT(text, test::TextEndsWith(u"\r\nafter\r\n"));
}

TEST(FaultStream, PeerThatStopsReadingAndSaysGoodbyeDoesNotStrandAWrite) {
    // The pump thread is stuck in a write to a peer that reads no more when the peer's
    // disconnect arrives: the link's end must end that write before the socket goes.
    ClientSide side;
    test::WriteFile(side.outbox.Path() / "big.bin", test::RandomBytes(32 * 1024 * 1024, 6));
    auto peer = side.Link();
    ASSERT_TRUE(peer);
    side.manager.sendBufSize = 1024 * 1024;
    side.manager.SendFile(FromFsPath(side.outbox.Path() / "big.bin"));
    FrameHeader header;
    ASSERT_TRUE(peer->ReadHeader(header));
    ASSERT_EQ(header.code, NET_FILE_OFFER);
    Bytes record;
    ASSERT_TRUE(peer->Read(record, FileRecord::kBytes));
    FrameHeader accept;
    accept.code = NET_FILE_ACCEPT;
    peer->SendFrame(accept, record);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the socket buffers fill
    peer->SendFrame(FrameHeader{NET_DISCONNECT});
    ASSERT_TRUE(WaitUntil([&] { return side.manager.LinkState() == LINK_CLOSED; }));
    auto start = Clock::now();
    auto next = side.Link();
    ASSERT_TRUE(next);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(side.window.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    side.manager.QueueChatLine(u"after", u"me");
    WString text;
    ASSERT_TRUE(ReadChat(*next, text));
    EXPECT_THAT(text, test::TextEndsWith(u"\r\nafter\r\n"));
}

TEST(FaultStream, OfferThatCannotGoOutIsNotLeftWaiting) {
    // No link (never made, or ended under the offer): no accept can ever come.
    ClientSide side;
    test::WriteFile(side.outbox.Path() / "a.bin", {'a'});
    int row = side.window.Transfers().AddTransferRow(FromFsPath(side.outbox.Path() / "a.bin"));
    side.manager.SendFile(FromFsPath(side.outbox.Path() / "a.bin"), row);
    ASSERT_TRUE(side.window.WaitFor(
        [&] { return side.window.Transfers().Cell(row, kColumnTransferred) == kRowCancelled; }));
    EXPECT_TRUE(TaskManagerTestSeam::Figures(side.manager).empty());
}

}  // namespace
}  // namespace mirka
