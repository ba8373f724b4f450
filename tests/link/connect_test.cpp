#include <atomic>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include "common/log_message.h"

#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"

namespace mirka {
namespace {

using test::LinkedPair;
using test::MessageRecorder;
using test::WaitUntil;

TEST(Connect, RefusedDottedAddressShowsOneBoxInJapanese) {
    MessageRecorder boxes;
    TaskManager manager;
    std::uint16_t port = test::FreeLoopbackPort();  // nobody listens there now
    EXPECT_FALSE(manager.ConnectToServer("127.0.0.1", port));
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);  // no box with the system's text first
    EXPECT_EQ(shown[0].caption, u"エラー");
    EXPECT_EQ(shown[0].type, unsigned{kMbIconError});
    EXPECT_EQ(shown[0].text,
              Format(2048,
                     u"127.0.0.1:%d に接続できませんでした。\r\nIPとポートを確認すると同時に\r\n"
                     u"相手がサーバとして待機しているかを確認してください。",
                     port));
    EXPECT_EQ(manager.LinkState(), LINK_IDLE);
}

TEST(Connect, AddressAbove255GetsTheConnectionFailureBox) {
    MessageRecorder boxes;
    TaskManager manager;
    EXPECT_TRUE(TaskManagerTestSeam::IsDottedIPv4("300.1.2.3"));
    EXPECT_FALSE(TaskManagerTestSeam::IsDottedIPv4("1.2.3"));
    EXPECT_FALSE(TaskManagerTestSeam::IsDottedIPv4("1.2.3.4 "));
    EXPECT_FALSE(manager.ConnectToServer("300.1.2.3", 1225));
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.starts_with(u"300.1.2.3:1225 に接続できませんでした。"));
}

TEST(Connect, UnresolvableNameShowsResolutionFailure) {
    MessageRecorder boxes;
    TaskManager manager;
    EXPECT_FALSE(manager.ConnectToServer("no-such-host.invalid", 1225));
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, u"エラー");
    EXPECT_EQ(shown[0].text, u"名前の解決に失敗しました");
}

TEST(Connect, HostNameIsResolvedAndConnected) {
    if (!test::SocketHandOverWorks()) GTEST_SKIP() << test::kNoSocketHandOver;
    LinkedPair pair;
    std::uint16_t port = test::FreeLoopbackPort();
    std::thread waiter([&] { pair.server->StartServer(port); });
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i) {
        MessageRecorder quiet;
        connected = pair.client->ConnectToServer("localhost", port);
        if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!connected) pair.server->CancelServerWait();
    waiter.join();
    ASSERT_TRUE(connected);
    // Where the hosts file names localhost on ::1 as well, IPv6 is tried first and wins.
    EXPECT_THAT(pair.client->PeerAddressText(), testing::AnyOf("127.0.0.1", "::1"));
}

#ifndef _WIN32
// A signal that reaches the connecting thread (the terminal end's resize, a child's end) must
// not fail the connect. The peer's accept queue is full, so the connect waits for its SYN to
// be sent again (about a second) while signals keep coming; then the queue makes room.
TEST(Connect, ASignalWhileConnectingDoesNotFailIt) {
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    sigemptyset(&quiet.sa_mask);  // no SA_RESTART: an interrupted call fails with EINTR
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGUSR2, &quiet, &before), 0);

    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor listener(io);
    boost::asio::ip::tcp::endpoint local(boost::asio::ip::make_address("127.0.0.1"), 0);
    listener.open(local.protocol());
    listener.bind(local);
    listener.listen(0);  // one connection fits in the queue
    boost::asio::ip::tcp::socket first(io);
    first.connect(listener.local_endpoint());  // the queue is full from here on

    MessageRecorder boxes;
    TaskManager manager;
    std::atomic<bool> connected{false}, returned{false};
    std::thread connecting([&] {
        connected = manager.ConnectToServer("127.0.0.1", listener.local_endpoint().port());
        returned = true;
    });
    pthread_t target = connecting.native_handle();
    for (int i = 0; i < 30 && !returned; ++i) {
        pthread_kill(target, SIGUSR2);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    boost::asio::ip::tcp::socket taken(io), link(io);
    listener.accept(taken);  // room for the manager's connection
    if (!returned) listener.accept(link);
    connecting.join();
    sigaction(SIGUSR2, &before, nullptr);
    EXPECT_TRUE(connected);
    EXPECT_TRUE(boxes.Boxes().empty());
}
#endif

TEST(Connect, PortInUseIsReportedAndTheLinkIsClosed) {
    MessageRecorder boxes;
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor holder(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), 0));
    std::uint16_t port = holder.local_endpoint().port();
    TaskManager manager;
    EXPECT_FALSE(manager.StartServer(port));  // returns instead of waiting forever
    EXPECT_EQ(manager.LinkState(), LINK_CLOSED);
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, u"エラー");
    EXPECT_FALSE(shown[0].text.empty());
}

TEST(Link, ChatAndStatusBetweenTwoManagers) {
    LinkedPair pair;
    ASSERT_TRUE(pair.Link());
    pair.client->QueueChatLine(u"abc", u"x");
    ASSERT_TRUE(
        pair.serverWindow.WaitFor([&] { return pair.serverWindow.Messages().size() == 1; }));
    // The sender clears its input box after showing its own line.
    ASSERT_TRUE(pair.clientWindow.WaitFor(
        [&] { return pair.clientWindow.EventCount(LinkEvent::ChatSent) == 1; }));
    ASSERT_EQ(pair.clientWindow.Messages().size(), 1u);
    // The same line on both sides; only the sender's own heading has its own colour.
    auto own = pair.clientWindow.Messages()[0];
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0].style.color, kOwnHeadingColor);
    own[0].style.color = pair.serverWindow.Messages()[0][0].style.color;
    EXPECT_EQ(pair.serverWindow.Messages()[0], own);
    auto body = pair.serverWindow.Messages()[0][1];
    EXPECT_EQ(body.text, u"abc\r\n");
    EXPECT_EQ(body.style.face, u"ＭＳ Ｐゴシック");
    EXPECT_EQ(body.style.height, -210);
    EXPECT_EQ(body.style.color, 0u);

    pair.server->QueueStatusMessage(u"取り込み中");
    ASSERT_TRUE(pair.clientWindow.WaitFor([&] { return !pair.clientWindow.Title().empty(); }));
    EXPECT_EQ(pair.clientWindow.StatusText(), u"取り込み中");
    EXPECT_EQ(pair.clientWindow.Title(), u"ミルカ Ver.T100a - server");
    EXPECT_TRUE(pair.serverWindow.Title().empty());  // nothing shown on the sending side
}

TEST(Link, DisconnectThenReconnectWithoutRestarting) {
    LinkedPair pair;
    // The pause only bounds the wait for the request to go out: this one is never waited.
    TaskManagerTestSeam::SetDisconnectPause(*pair.client, std::chrono::hours(1));
    ASSERT_TRUE(pair.Link());
    pair.client->Disconnect();
    EXPECT_EQ(pair.client->LinkState(), LINK_CLOSED);
    ASSERT_TRUE(WaitUntil([&] { return pair.server->LinkState() == LINK_CLOSED; }));
    EXPECT_EQ(pair.serverWindow.LogText(),
              u"SystemMessage:: \r\n切断要求命令を受信したため、切断しました\r\n");
    EXPECT_EQ(pair.clientWindow.LogText(), u"");  // the disconnecting side shows nothing

    // A line queued while closed waits for the next link.
    pair.client->QueueChatLine(u"queued", u"client");
    ASSERT_TRUE(pair.Link());
    pair.server->RestartThreads();
    pair.client->RestartThreads();
    pair.server->QueueChatLine(u"again", u"server");
    EXPECT_TRUE(pair.clientWindow.WaitFor(
        [&] { return pair.clientWindow.LogText().find(u"again") != WString::npos; }));
    EXPECT_TRUE(pair.serverWindow.WaitFor(
        [&] { return pair.serverWindow.LogText().find(u"queued") != WString::npos; }));
}

}  // namespace
}  // namespace mirka
