// The talk window shows the link as it is: its end in one line on both sides, the peer gone
// from the title and the status line, a line typed while unlinked kept; one's own lines
// stand apart, and a user who never named themself is told where to.
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "app/notify_setting.h"
#include "common/log_message.h"
#include "gui/input_box.h"
#include "gui/talk_window.h"
#include "gui_wait.h"
#include "secure/handshake.h"
#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

using test::WaitWithEvents;

std::size_t Count(const WString& text, WStringView part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool ShowsText(QWidget& window, const QString& text) {
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->text().contains(text)) return true;
    return false;
}

TEST(LinkStateWindow, TheEndIsToldOnBothSidesAndTheUnsentLineStays) {
    test::LinkedPair pair;
    ASSERT_TRUE(pair.Link());
    TalkWindow server(*pair.server, pair.serverValues, "10.0.0.1", TalkWindow::Hooks{});
    TalkWindow client(*pair.client, pair.clientValues, "10.0.0.2", TalkWindow::Hooks{});
    server.show();
    client.show();
    pair.server->QueueStatusMessage(u"離席中");
    ASSERT_TRUE(WaitWithEvents([&] { return client.windowTitle().contains("server"); }));
    ASSERT_TRUE(WaitWithEvents([&] { return ShowsText(client, QStringLiteral("離席中")); }));

    TaskManagerTestSeam::SetDisconnectPause(*pair.client, std::chrono::milliseconds(10));
    client.Action(40048)->trigger();
    ASSERT_TRUE(
        WaitWithEvents([&] { return Count(client.Log().PlainText(), u"切断しました") == 1; }));
    ASSERT_TRUE(WaitWithEvents([&] { return server.windowTitle() == "ミルカ Ver.T100a"; }));
    EXPECT_EQ(client.windowTitle(), QStringLiteral("ミルカ Ver.T100a"));
    EXPECT_FALSE(ShowsText(client, QStringLiteral("離席中")));
    WString serverLog = server.Log().PlainText();
    EXPECT_EQ(Count(serverLog, u"切断要求命令を受信したため、切断しました"), 1u);
    EXPECT_EQ(Count(serverLog, u"接続が切れました"), 0u);  // one line, not two

    // A line typed now is not sent: it stays, and one line says so.
    client.Input()->setPlainText(QStringLiteral("まだいますか"));
    client.SendAction();
    QCoreApplication::processEvents();
    EXPECT_EQ(client.Input()->toPlainText(), QStringLiteral("まだいますか"));
    EXPECT_EQ(Count(client.Log().PlainText(), u"送信しませんでした"), 1u);
    EXPECT_EQ(Count(client.Log().PlainText(), u"まだいますか"), 0u);
}

TEST(LinkStateWindow, AHelloAfterTheStartEndsTheLinkWithOneLineSayingWhy) {
    // A peer's hello later than the start waited for: the link stands in the talk window.
    test::MessageRecorder boxes;
    TaskManager link;
    test::FakePeer peer;
    std::uint16_t port = peer.Listen();
    std::thread accepter([&] { peer.Accept(); });
    ASSERT_TRUE(link.ConnectToServer("127.0.0.1", port));
    accepter.join();
    ProgramValues values;
    TalkWindow window(link, values, "10.0.0.1", TalkWindow::Hooks{});
    secure::Frame hello = secure::MakeHandshakeFrame(secure::HandshakeKind::Hello);
    peer.Send({hello.begin(), hello.end()});
    ASSERT_TRUE(WaitWithEvents(
        [&] { return Count(window.Log().PlainText(), u"相手は合言葉を求めている") == 1; }));
    ASSERT_TRUE(WaitWithEvents([&] { return link.LinkState() == LINK_CLOSED; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(Count(window.Log().PlainText(), u"接続が切れました"), 0u);  // one line, not two
    // The peer hears that this side has none.
    std::vector<std::uint8_t> answer;
    ASSERT_TRUE(peer.Read(answer, secure::kFrameBytes));
    secure::Frame none = secure::MakeHandshakeFrame(secure::HandshakeKind::NoPassphrase);
    EXPECT_EQ(answer, std::vector<std::uint8_t>(none.begin(), none.end()));
}

TEST(LinkStateWindow, OwnLinesStandApartAndTheBuiltInNameIsExplained) {
    test::LinkedPair pair;
    pair.serverValues.SetUserName(ProgramValues().UserName());
    ASSERT_TRUE(pair.Link());
    TalkWindow server(*pair.server, pair.serverValues, "10.0.0.1", TalkWindow::Hooks{});
    TalkWindow client(*pair.client, pair.clientValues, "10.0.0.2", TalkWindow::Hooks{});
    EXPECT_EQ(Count(server.Log().PlainText(), u"「名前を変更する」"), 1u);
    EXPECT_EQ(Count(client.Log().PlainText(), u"「名前を変更する」"), 0u);  // named

    client.Input()->setPlainText(QStringLiteral("こんにちは"));
    client.SendAction();
    ASSERT_TRUE(
        WaitWithEvents([&] { return Count(server.Log().PlainText(), u"こんにちは") == 1; }));
    ASSERT_TRUE(
        WaitWithEvents([&] { return Count(client.Log().PlainText(), u"こんにちは") == 1; }));
    auto heading = [](TalkWindow& window) {
        auto runs = window.Log().Runs();
        for (auto it = runs.rbegin(); it != runs.rend(); ++it)
            if (it->text.find(u"の発言") != WString::npos) return *it;
        return LogRun{};
    };
    auto body = [](TalkWindow& window) { return window.Log().Runs().back(); };
    EXPECT_EQ(heading(client).style.color, kOwnHeadingColor);
    EXPECT_NE(heading(server).style.color, kOwnHeadingColor);
    // The body keeps the style its sender chose, on both sides.
    EXPECT_EQ(body(client).style, body(server).style);
}

TEST(LinkStateWindow, LinesPostedBeforeTheWindowIsThereReachItsLog) {
    test::LinkedPair pair;
    pair.server->ownerWindow = nullptr;  // as in the program: no window until the talk window
    ASSERT_TRUE(pair.Link());
    // The core speaks before the talk window exists (the login window closing): the line
    // and a line from the peer wait for the window.
    if (auto early = pair.server->ownerWindow.Borrow())
        early->AppendLogMessage(BuildLogMessage(nullptr, u"SystemMessage: \r\n早い知らせ\r\n"));
    else
        ADD_FAILURE() << "nothing keeps the early lines";
    pair.client->QueueChatLine(u"もしもし", u"client");
    TalkWindow server(*pair.server, pair.serverValues, "10.0.0.1", TalkWindow::Hooks{});
    ASSERT_TRUE(WaitWithEvents([&] { return Count(server.Log().PlainText(), u"もしもし") == 1; }));
    WString log = server.Log().PlainText();
    EXPECT_EQ(Count(log, u"早い知らせ"), 1u);
    // After the opening message, in the order posted.
    EXPECT_LT(log.find(u"接続確立"), log.find(u"早い知らせ"));
    EXPECT_LT(log.find(u"早い知らせ"), log.find(u"もしもし"));
}

TEST(LinkStateWindow, ArrivalsAreAnnouncedWhileTheWindowIsInactiveUnlessSwitchedOff) {
    test::TempFolder folder;
    std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    {
        test::LinkedPair pair;
        pair.serverValues.SetReceiveFolder(folder.WithSeparator());
        ASSERT_TRUE(pair.Link());
        QStringList shown;
        TalkWindow::Hooks hooks;
        hooks.notify = [&](const QString& title, const QString& text) {
            shown << title + QStringLiteral(" | ") + text;
        };
        TalkWindow server(*pair.server, pair.serverValues, "10.0.0.1", hooks);
        TalkWindow client(*pair.client, pair.clientValues, "10.0.0.2", TalkWindow::Hooks{});
        EXPECT_TRUE(server.TrayText().contains(QString::fromStdU16String(u"接続しています")));
        // Another window has the focus.
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QApplication::setActiveWindow(&elsewhere);
        ASSERT_FALSE(server.isActiveWindow());
        QAction* notify = server.Action(40075);
        ASSERT_TRUE(notify);
        EXPECT_TRUE(notify->isChecked());

        pair.client->QueueChatLine(u"やあ", u"client");
        ASSERT_TRUE(WaitWithEvents([&] { return shown.size() == 1; }));
        EXPECT_TRUE(shown[0].contains(QString::fromStdU16String(u"新しい発言があります")));
        std::filesystem::path file = folder.Path() / "out.txt";
        std::ofstream(file) << "abc";
        client.SendFiles({QString::fromStdString(file.string())});
        ASSERT_TRUE(WaitWithEvents([&] { return shown.size() == 2; }));
        EXPECT_TRUE(shown[1].contains(QString::fromStdU16String(u"ファイルを受信しました")));
        // A file this side sent arrives nowhere here: the next notification is the line after.
        std::filesystem::path back = folder.Path() / "back.txt";
        std::ofstream(back) << "def";
        server.SendFiles({QString::fromStdString(back.string())});
        ASSERT_TRUE(WaitWithEvents(
            [&] { return Count(server.Log().PlainText(), u"ファイルの送信が完了しました") == 1; }));
        pair.client->QueueChatLine(u"つぎ", u"client");
        ASSERT_TRUE(WaitWithEvents([&] { return shown.size() == 3; }));
        EXPECT_TRUE(shown[2].contains(QString::fromStdU16String(u"新しい発言があります")))
            << shown[2].toStdString();
        // Nothing pops up over the window the user is reading.
        server.show();
        QApplication::setActiveWindow(&server);
        if (server.isActiveWindow()) {
            pair.client->QueueChatLine(u"見てる", u"client");
            ASSERT_TRUE(
                WaitWithEvents([&] { return Count(server.Log().PlainText(), u"見てる") == 1; }));
            QCoreApplication::processEvents();
            EXPECT_EQ(shown.size(), 3);
        } else {
            ADD_FAILURE() << "the window could not be made the active one";
        }
        QApplication::setActiveWindow(&elsewhere);

        // Switched off: nothing more, and the choice is stored.
        notify->trigger();
        EXPECT_FALSE(LoadNotifyArrivals());
        pair.client->QueueChatLine(u"まだ", u"client");
        ASSERT_TRUE(WaitWithEvents([&] { return Count(server.Log().PlainText(), u"まだ") == 1; }));
        EXPECT_EQ(shown.size(), 3);
        {
            // The next start keeps the choice.
            TaskManager idle;
            ProgramValues values;
            TalkWindow later(idle, values, "", TalkWindow::Hooks{});
            EXPECT_FALSE(later.Action(40075)->isChecked());
        }
        notify->trigger();
        EXPECT_TRUE(LoadNotifyArrivals());

        // The tray tells when the link is gone.
        TaskManagerTestSeam::SetDisconnectPause(*pair.client, std::chrono::milliseconds(10));
        client.Action(40048)->trigger();
        ASSERT_TRUE(WaitWithEvents([&] {
            return server.TrayText().contains(QString::fromStdU16String(u"接続していません"));
        }));
    }
    std::filesystem::current_path(saved);
}

}  // namespace
}  // namespace mirka
