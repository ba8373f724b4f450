#include <thread>

#include <gtest/gtest.h>

#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/text_matchers.h"
#include "support/wait.h"

namespace mirka {
namespace {

using test::FakePeer;
using test::LinkedPair;
using test::MessageRecorder;
using test::TextEndsWith;
using test::TextStartsWith;
using test::WaitUntil;

// A TaskManager waiting as server on a free port, with a raw peer connected to it.
struct ServerWithFakePeer {
    ServerWithFakePeer() : manager(&values) {
        manager.ownerWindow = &window;
        port = test::FreeLoopbackPort();
        waiter = std::thread([this] { manager.StartServer(port); });
        connected = peer.Connect(port);
        waiter.join();
    }
    ProgramValues values;
    test::WindowRecorder window;
    TaskManager manager;
    FakePeer peer;
    std::uint16_t port = 0;
    std::thread waiter;
    bool connected = false;
};

FrameHeader Header(std::uint16_t code, std::uint32_t length = 0) {
    FrameHeader header;
    header.code = code;
    header.lengthField = length;
    return header;
}

// A TaskManager connected as client to a raw peer, with the timers the test sets.
struct ClientWithFakePeer {
    ClientWithFakePeer(std::chrono::milliseconds keepAlive, std::chrono::milliseconds silence) {
        std::uint16_t port = peer.Listen();
        manager.ownerWindow = &window;
        TaskManagerTestSeam::SetKeepAliveInterval(manager, keepAlive);
        TaskManagerTestSeam::SetSilenceLimit(manager, silence);
        std::thread accepter([&] { accepted = peer.Accept(); });
        connected = manager.ConnectToServer("127.0.0.1", port);
        accepter.join();
    }
    FakePeer peer;
    test::WindowRecorder window;
    TaskManager manager;
    bool accepted = false;
    bool connected = false;
};

TEST(WindowPort, EachLinkEventHasTheWindowsAnswer) {
    // What the user hears and sees for each event, written out here rather than derived.
    auto chat = ReactionTo(LinkEvent::ChatArrived);
    EXPECT_EQ(WString(chat.wave), u"send.wav");
    EXPECT_TRUE(chat.flash);
    auto status = ReactionTo(LinkEvent::StatusChanged);
    EXPECT_EQ(WString(status.wave), u"stat_chg.wav");
    EXPECT_FALSE(status.flash);
    auto arrived = ReactionTo(LinkEvent::TransferFinished);
    EXPECT_EQ(WString(arrived.wave), u"file_receive.wav");
    EXPECT_TRUE(arrived.flash);
    auto sent = ReactionTo(LinkEvent::ChatSent);
    EXPECT_EQ(sent.wave, nullptr);
    EXPECT_TRUE(sent.clearInput);
    EXPECT_FALSE(chat.clearInput || status.clearInput || arrived.clearInput);
}

TEST(LinkFrames, ClientWritesExactHeadersAndKeepAlives) {
    FakePeer peer;
    std::uint16_t port = peer.Listen();
    TaskManager manager;
    TaskManagerTestSeam::SetKeepAliveInterval(manager, std::chrono::milliseconds(100));
    std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
    ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
    accepter.join();
    EXPECT_EQ(manager.LinkState(), LINK_CLIENT);
    EXPECT_EQ(manager.PeerAddressText(), "127.0.0.1");

    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes, 3000));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(48, 0));  // a keep-alive is a bare zero header
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes, 3000));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(48, 0));

    manager.QueueChatLine(u"abc", u"x");
    FrameHeader header;
    do {
        ASSERT_TRUE(peer.ReadHeader(header));
    } while (header.code == NET_KEEPALIVE);
    EXPECT_EQ(header.code, NET_CHAT);
    EXPECT_EQ(header.taskField, 0u);
    std::vector<std::uint8_t> style, text;
    ASSERT_TRUE(peer.Read(style, CharFormat::kBytes));
    EXPECT_EQ(CharFormat::Decode(style.data()), ProgramValues().ChatFont());
    ASSERT_TRUE(peer.Read(text, header.lengthField));
    WString line = DecodeUtf16Le(text.data(), text.size());
    EXPECT_EQ(line.size() * 2, header.lengthField);
    EXPECT_THAT(line, TextStartsWith(u"x の発言 ("));
    EXPECT_THAT(line, TextEndsWith(u"): \r\nabc\r\n"));
    EXPECT_EQ(line.size(), WString(u"x の発言 (09:05:07): \r\nabc\r\n").size());
}

// The interval as shipped, which a peer of the original program expects; the other tests
// shorten it.
TEST(LinkFrames, IdleLinkSendsAKeepAliveEveryTwentySeconds) {
    FakePeer peer;
    std::uint16_t port = peer.Listen();
    TaskManager manager;
    std::thread accepter([&] { EXPECT_TRUE(peer.Accept()); });
    ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
    accepter.join();
    auto start = std::chrono::steady_clock::now();
    FrameHeader header;
    EXPECT_FALSE(peer.ReadHeader(header, 18500));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes, 5000));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(48, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(22500));
}

TEST(LinkFrames, PeerCloseMarksTheLinkClosedWithoutABox) {
    MessageRecorder boxes;
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return link.manager.LinkState() == LINK_CLOSED; }));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(link.window.LogText(), u"");
}

TEST(LinkFrames, PayloadCutShortClosesTheLinkWhenThePeerGoes) {
    ServerWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.peer.SendFrame(Header(NET_STATUS, 40), std::vector<std::uint8_t>(10, 'a'));
    link.peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return link.manager.LinkState() == LINK_CLOSED; }));
    EXPECT_TRUE(link.window.StatusText().empty());
}

// A peer that sends nothing for the silence limit, or stops half-way through a frame, is gone:
// the link ends with one line saying so. Keep-alives alone keep a link standing.
TEST(LinkFrames, APeerThatFallsSilentEndsTheLink) {
    using namespace std::chrono_literals;
    enum class Peer { SendsNothing, StopsMidFrame, SendsKeepAlives };
    for (Peer kind : {Peer::SendsNothing, Peer::StopsMidFrame, Peer::SendsKeepAlives}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ClientWithFakePeer side(1h, 1s);
        ASSERT_TRUE(side.connected && side.accepted);
        FakePeer& peer = side.peer;
        test::WindowRecorder& window = side.window;
        TaskManager& manager = side.manager;
        if (kind == Peer::StopsMidFrame)
            peer.SendFrame(Header(NET_CHAT, 40), std::vector<std::uint8_t>(10, 'x'));
        if (kind == Peer::SendsKeepAlives) {
            for (int sent = 0; sent < 25; ++sent) {
                peer.SendFrame(Header(NET_KEEPALIVE));
                std::this_thread::sleep_for(100ms);
            }
            EXPECT_EQ(manager.LinkState(), LINK_CLIENT);
        }
        ASSERT_TRUE(WaitUntil([&] { return manager.LinkState() == LINK_CLOSED; }));
        ASSERT_TRUE(
            window.WaitFor([&] { return window.LogText().find(u"途絶えた") != WString::npos; }));
        WString log = window.LogText();
        EXPECT_EQ(log.find(u"途絶えた"), log.rfind(u"途絶えた"));
    }
}

// A peer that stops half-way through a frame holds nothing up: this side's keep-alives go on
// meanwhile, and the frame is handled whole once its rest comes.
TEST(LinkFrames, APeerStalledMidFrameDoesNotHoldTheLink) {
    using namespace std::chrono_literals;
    ClientWithFakePeer side(100ms, 60s);
    ASSERT_TRUE(side.connected && side.accepted);
    FakePeer& peer = side.peer;
    test::WindowRecorder& window = side.window;

    auto style = ProgramValues().ChatFont().Encode();
    std::vector<std::uint8_t> payload(style.begin(), style.end());
    std::vector<std::uint8_t> text =
        test::Utf16LeBytes(u"peer の発言 (09:05:07): \r\n半分ずつ届いた行\r\n");
    payload.insert(payload.end(), text.begin(), text.end());
    std::size_t half = payload.size() / 2;
    auto header = Header(NET_CHAT, static_cast<std::uint32_t>(text.size())).Encode();
    std::vector<std::uint8_t> first(header.begin(), header.end());
    first.insert(first.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(half));
    peer.Send(first);
    for (int keepAlives = 0; keepAlives < 3; ++keepAlives) {
        FrameHeader read;
        ASSERT_TRUE(peer.ReadHeader(read, 3000));
        EXPECT_EQ(read.code, NET_KEEPALIVE);
    }
    EXPECT_EQ(window.LogText(), u"");
    peer.Send({payload.begin() + static_cast<std::ptrdiff_t>(half), payload.end()});
    ASSERT_TRUE(window.WaitFor([&] { return !window.LogText().empty(); }));
    EXPECT_THAT(window.LogText(), TextEndsWith(u"\r\n半分ずつ届いた行\r\n"));
    EXPECT_EQ(side.manager.LinkState(), LINK_CLIENT);
}

}  // namespace
}  // namespace mirka
