// Frames a hostile peer may send that end nothing by themselves: each gets a bounded answer,
// and the link goes on.
#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "link/transfer/rate_sampler.h"
#include "link/wire/delivery_frames.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using namespace std::chrono_literals;
using test::FakePeer;
using test::WaitUntil;
using Bytes = std::vector<std::uint8_t>;

std::size_t Count(const WString& text, WStringView part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

FrameHeader Header(std::uint16_t code, std::uint32_t task = 0, std::uint32_t length = 0) {
    FrameHeader header;
    header.code = code;
    header.taskField = task;
    header.lengthField = length;
    return header;
}

// The payload a frame of the program's carries (header-only frames: none).
std::size_t PayloadBytes(const FrameHeader& header) {
    switch (header.code) {
        case NET_CHAT:
            return CharFormat::kBytes + header.lengthField;
        case NET_FILE_DATA:
            return header.lengthField;
        case NET_FILE_OFFER:
        case NET_FILE_ACCEPT:
            return FileRecord::kBytes;
        default:
            return 0;
    }
}

// Reads frames until one with `code` comes; its header and payload are left in the arguments.
bool ReadUntil(FakePeer& peer, std::uint16_t code, FrameHeader& header, Bytes& body) {
    do {
        if (!peer.ReadHeader(header)) return false;
        body.clear();
        if (PayloadBytes(header) > 0 && !peer.Read(body, PayloadBytes(header))) return false;
    } while (header.code != code);
    return true;
}

bool ReadChat(FakePeer& peer, WString& text) {
    FrameHeader header;
    Bytes body;
    if (!ReadUntil(peer, NET_CHAT, header, body)) return false;
    text = DecodeUtf16Le(body.data() + CharFormat::kBytes, header.lengthField);
    return true;
}

// A status frame: its text, and the sender's name in its 256-byte field.
Bytes StatusFrame(const WString& status, const WString& name) {
    Bytes payload = test::Utf16LeBytes(status);
    Bytes field = test::Utf16LeBytes(name);
    field.resize(256, 0);
    payload.insert(payload.end(), field.begin(), field.end());
    return test::EncodeFrame(NET_STATUS, 0, static_cast<std::uint32_t>(status.size() * 2), payload);
}

Bytes AcceptFrame(std::int32_t id, std::int64_t size, std::int64_t offset) {
    FileRecord record;
    record.name = u"x";
    record.taskId = id;
    record.fileSize = size;
    record.offset = offset;
    auto bytes = record.Encode();
    return test::EncodeFrame(NET_FILE_ACCEPT, 0, 0, Bytes(bytes.begin(), bytes.end()));
}

Bytes Extension(const ExtensionFrame& frame) {
    return Bytes(frame.begin(), frame.end());
}

// A manager waiting as server, and a raw peer connected to it; nothing is announced.
struct ServerWithFakePeer {
    ServerWithFakePeer() : manager(&values) {
        manager.ownerWindow = &window;
        std::uint16_t port = test::FreeLoopbackPort();
        std::thread waiter([&] { manager.StartServer(port); });
        connected = peer.Connect(port);
        waiter.join();
    }
    // Every frame sent before it has been handled once the status line reads `mark`.
    bool InStep(const WString& mark) {
        peer.Send(StatusFrame(mark, u"p"));
        return window.WaitFor([&] { return window.StatusText() == mark; });
    }
    ProgramValues values;
    test::WindowRecorder window;
    TaskManager manager;
    FakePeer peer;
    bool connected = false;
};

// Accepts for ids never offered and accepts of a wrong size are the peer's doing: lines in
// the log, one of each kind a link, never a box, and the link keeps carrying chat.
TEST(PeerFaults, BadAcceptsGiveNoBoxAndABoundedLog) {
    test::MessageRecorder boxes;
    ServerWithFakePeer side;
    ASSERT_TRUE(side.connected);
    test::TempFolder folder;
    test::WriteFile(folder.Path() / "f.bin", test::RandomBytes(3000, 1));
    side.manager.SendFile(FromFsPath(folder.Path() / "f.bin"));
    FrameHeader header;
    Bytes offer;
    ASSERT_TRUE(ReadUntil(side.peer, NET_FILE_OFFER, header, offer));
    std::int32_t id = FileRecord::Decode(offer.data()).taskId;
    Bytes burst;
    auto add = [&](const Bytes& frame) { burst.insert(burst.end(), frame.begin(), frame.end()); };
    // The offered file with another size, at its end: nothing to send, only the size is wrong.
    for (int i = 0; i < 5; ++i) add(AcceptFrame(id, 5000, 3000));
    for (int i = 0; i < 10000; ++i) add(AcceptFrame(id + 1 + i, 100, 0));
    side.peer.Send(burst);
    ASSERT_TRUE(side.InStep(u"after"));

    side.manager.QueueChatLine(u"まだ届きます", u"me");
    WString line;
    ASSERT_TRUE(ReadChat(side.peer, line));
    EXPECT_NE(line.find(u"まだ届きます"), WString::npos);
    EXPECT_TRUE(boxes.Boxes().empty());
    WString log = side.window.LogText();
    EXPECT_EQ(Count(log, u"== EOF"), 1u);
    EXPECT_EQ(Count(log, u"ヘッダが壊れています 3000 != 5000"), 1u);
}

// A peer's name cannot spell the mark of an encrypted link into the title, however it nests
// parts of it around one.
TEST(PeerFaults, NestedMarksNeverReachTheTitle) {
    ServerWithFakePeer side;
    ASSERT_TRUE(side.connected);
    const WString mark = u"[暗号化された接続]";
    const std::pair<WString, WString> names[] = {
        {u"Alice [暗号" + mark + u"化された接続]", u"Alice "},
        {u"[[" + mark + u"暗号化された接続]暗号化された接続]", u""},
        {u"[暗号化[暗号" + mark + u"化された接続]された接続]x", u"x"},
        {u"[暗号化された接続" + mark + u"]" + mark, u""},
        {u"a[暗号化された接続]b" + mark + u"c", u"abc"},
    };
    std::size_t shown = 0;
    for (const auto& [name, kept] : names) {
        SCOPED_TRACE(test::Utf8(name));
        side.peer.Send(StatusFrame(u"s", name));
        ++shown;  // a status message's last call is its event
        ASSERT_TRUE(side.window.WaitFor(
            [&] { return side.window.EventCount(LinkEvent::StatusChanged) == shown; }));
        EXPECT_EQ(side.window.Title(), WString(kProgramTitle) + u" - " + kept);
    }
}

// A raw peer linked to a manager, both announcing every capability; the manager's own
// announcement has been read.
struct AnnouncedPeer : test::AnnouncingRawPeer {
    AnnouncedPeer() {
        values.SetReceiveFolder(inbox.WithSeparator());
        TaskManagerTestSeam::SetKeepAliveInterval(manager, 1h);
        Bytes bytes;
        ready = linked && peer.Read(bytes, FrameHeader::kBytes) && DecodeCapabilities(bytes.data());
    }
    bool InStep(const WString& mark) {
        peer.Send(StatusFrame(mark, u"p"));
        return window.WaitFor([&] { return window.StatusText() == mark; });
    }
    bool RowReads(const WString& text) {
        return WaitUntil([&] {
            TaskManagerTestSeam::RefreshTransfers(manager);
            return window.Transfers().Cell(0, kColumnTransferred) == text;
        });
    }
    test::TempFolder inbox;
    test::TempFolder outbox;
    bool ready = false;
};

// A folder text past its limit is read off and dropped however long it claims to be: none of
// it is gathered in memory, and the frames behind it are read in step.
TEST(PeerFaults, AnOverlongFolderTextIsReadOffNotKept) {
    AnnouncedPeer side;
    ASSERT_TRUE(side.ready);
    constexpr std::uint32_t kClaimed = 3 * 1024 * 1024;
    side.peer.SendFrame(Header(kFolderEntryCode, 0, kClaimed), Bytes(kClaimed, 'x'));
    ASSERT_TRUE(side.InStep(u"after"));
}

// A digest before the file's last byte fails the file at once, as a wrong one does the second
// time: the partial goes, the receipt says failed, and the rest of the data lands nowhere.
TEST(PeerFaults, AnEarlyDigestFailsTheFile) {
    AnnouncedPeer side;
    ASSERT_TRUE(side.ready);
    test::SendOffer(side.peer, u"early.bin", 3, 8192);
    FrameHeader header;
    Bytes body;
    ASSERT_TRUE(ReadUntil(side.peer, NET_FILE_ACCEPT, header, body));
    auto data = test::RandomBytes(8192, 2);
    side.peer.SendFrame(Header(NET_FILE_DATA, 3, 2048), Bytes(data.begin(), data.begin() + 2048));
    side.peer.Send(Extension(EncodeDigest({3, {}})));
    ASSERT_TRUE(ReadUntil(side.peer, kReceiptCode, header, body));
    EXPECT_EQ(header.taskField, 3u);
    EXPECT_EQ(header.lengthField, static_cast<std::uint32_t>(ReceiptResult::Failed));
    EXPECT_TRUE(side.RowReads(kRowUnverified));
    side.peer.SendFrame(Header(NET_FILE_DATA, 3, 6144), Bytes(data.begin() + 2048, data.end()));
    ASSERT_TRUE(side.InStep(u"after"));
    EXPECT_TRUE(std::filesystem::is_empty(side.inbox.Path()));
    EXPECT_NE(side.window.LogText().find(u"受信を中止しました"), WString::npos);
}

// A receiver may ask for a file once more; asking a second time ends the send as unverified,
// and the peer hears a cancel instead of the file a third time.
TEST(PeerFaults, ASecondSendAgainFailsTheSend) {
    AnnouncedPeer side;
    ASSERT_TRUE(side.ready);
    auto path = side.outbox.Path() / "f.bin";
    test::WriteFile(path, test::RandomBytes(5000, 3));
    side.manager.SendFile(FromFsPath(path),
                          side.window.Transfers().AddTransferRow(FromFsPath(path)));
    FrameHeader header;
    Bytes record;
    ASSERT_TRUE(ReadUntil(side.peer, NET_FILE_OFFER, header, record));
    std::int32_t id = FileRecord::Decode(record.data()).taskId;
    side.peer.SendFrame(Header(NET_FILE_ACCEPT), record);
    Bytes body;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(ReadUntil(side.peer, kDigestCode, header, body)) << round;
        side.peer.Send(Extension(EncodeReceipt({id, ReceiptResult::SendAgain})));
    }
    do {
        ASSERT_TRUE(side.peer.ReadHeader(header));
        EXPECT_NE(header.code, NET_FILE_DATA) << "sent a third time";
        body.clear();
        if (PayloadBytes(header) > 0) {
            ASSERT_TRUE(side.peer.Read(body, PayloadBytes(header)));
        }
    } while (header.code == NET_KEEPALIVE || header.code == NET_FILE_DATA);
    EXPECT_EQ(header.code, NET_FILE_CANCEL);
    EXPECT_EQ(header.lengthField, static_cast<std::uint32_t>(id));
    EXPECT_TRUE(side.RowReads(kRowUnverified));
    WString log = side.window.LogText();
    EXPECT_EQ(Count(log, u"最初から送り直します"), 1u);
    EXPECT_EQ(Count(log, u"送信を中止しました"), 1u);
}

// Reads frames until a folder's offer comes; false when another frame or none comes.
bool ReadsAFolderOffer(FakePeer& peer) {
    FrameHeader header;
    do {
        if (!peer.ReadHeader(header)) return false;
    } while (header.code == NET_KEEPALIVE);
    return header.code == kFolderOfferCode;
}

// Only a link's first announcement counts: a later one that clears every bit changes nothing
// (one line in the log for any number), and a folder still goes.
TEST(PeerFaults, ALaterAnnouncementIsIgnored) {
    AnnouncedPeer side;
    ASSERT_TRUE(side.ready);
    for (int i = 0; i < 3; ++i) side.peer.Send(Extension(EncodeCapabilities(0)));
    ASSERT_TRUE(side.InStep(u"after"));
    EXPECT_EQ(Count(side.window.LogText(), u"機能の通知をもう一度"), 1u);
    std::filesystem::create_directory(side.outbox.Path() / "pack");
    test::WriteFile(side.outbox.Path() / "pack" / "a.txt", test::RandomBytes(10, 4));
    side.manager.SendFile(FromFsPath(side.outbox.Path() / "pack"));
    EXPECT_TRUE(ReadsAFolderOffer(side.peer));
}

// The wait for the peer's announcement counts from the connection: a server that waited
// long for its client still waits for the announcement of a folder sent at once.
TEST(PeerFaults, AServersWaitForItsPeerLeavesTheAnnouncementWaitWhole) {
    ProgramValues values;
    test::WindowRecorder window;
    TaskManager manager(&values);
    manager.ownerWindow = &window;
    manager.SetCapabilities(kKnownCapabilities);
    TaskManagerTestSeam::SetKeepAliveInterval(manager, 1h);
    FakePeer peer;
    std::uint16_t port = test::FreeLoopbackPort();
    std::thread waiter([&] { manager.StartServer(port); });
    // Longer than the announcement wait, which must not have begun meanwhile.
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(peer.Connect(port));
    waiter.join();
    Bytes bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes));
    test::TempFolder outbox;
    std::filesystem::create_directory(outbox.Path() / "pack");
    test::WriteFile(outbox.Path() / "pack" / "a.txt", test::RandomBytes(10, 5));
    // The pump runs them in order: once the chat line is out, the folder is being offered,
    // and only then does the peer announce itself.
    manager.QueueChatLine(u"先に", u"me");
    manager.SendFile(FromFsPath(outbox.Path() / "pack"));
    WString line;
    ASSERT_TRUE(ReadChat(peer, line));
    peer.Send(Extension(EncodeCapabilities(kKnownCapabilities)));
    EXPECT_TRUE(ReadsAFolderOffer(peer));
    EXPECT_EQ(window.LogText().find(u"フォルダを受け取れない"), WString::npos);
}

// A rate beyond the speed column's 32 bits reads as the largest figure; none below 1 byte.
TEST(PeerFaults, RatesAreClampedToTheirColumn) {
    constexpr std::uint32_t kMost = std::numeric_limits<std::uint32_t>::max();
    // Read at run time: a constant out of range would be folded by the compiler, which may
    // saturate it where the cast at run time does not.
    auto figure = [](double rate) {
        volatile double at = rate;
        return RateFigure(at);
    };
    EXPECT_EQ(figure(3e9), 3000000000u);
    EXPECT_EQ(figure(1e13), kMost);
    EXPECT_EQ(figure(std::ldexp(1.0, 32)), kMost);
    EXPECT_EQ(figure(-4e9), 1u);
    EXPECT_EQ(figure(std::numeric_limits<double>::quiet_NaN()), 1u);
    RateSampler sampler;
    sampler.Start(0);
    sampler.Sample(std::int64_t{6} << 30, 1001);  // 6 GiB in a period
    EXPECT_EQ(sampler.Rate(), kMost);
    sampler.Sample(std::int64_t{1} << 30, 2002);  // fewer than before: nothing moved
    EXPECT_EQ(sampler.Rate(), 0u);
}

}  // namespace
}  // namespace mirka
