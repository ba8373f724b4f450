#include <fstream>

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "gui/input_box.h"
#include "gui/log_view.h"
#include "gui/talk_window.h"
#include "gui_wait.h"
#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

using test::WaitWithEvents;

// Two talk windows, each on its own link manager, linked over loopback.
struct TwoWindows {
    TwoWindows() {
        linked = pair.Link();
        serverWindow = std::make_unique<TalkWindow>(*pair.server, pair.serverValues, "10.0.0.1",
                                                    TalkWindow::Hooks{});
        clientWindow = std::make_unique<TalkWindow>(*pair.client, pair.clientValues, "10.0.0.2",
                                                    TalkWindow::Hooks{});
        serverWindow->show();
        clientWindow->show();
    }
    ~TwoWindows() {
        serverWindow.reset();
        clientWindow.reset();
    }
    test::LinkedPair pair;
    bool linked = false;
    std::unique_ptr<TalkWindow> serverWindow;
    std::unique_ptr<TalkWindow> clientWindow;
};

void Type(InputBox* box, const QString& text) {
    box->setFocus();
    box->insertPlainText(text);  // keyClicks takes Latin-1 only
}

void PressControl(InputBox* box, quint32 keysym, bool down) {
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Control,
                    down ? Qt::ControlModifier : Qt::NoModifier,
                    keysym == kLeftControlKeysym ? 37 : 105, keysym, 0);
    QCoreApplication::sendEvent(box, &event);
}

void PressEnter(InputBox* box, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyPress(box, Qt::Key_Return, modifiers);
    QTest::keyRelease(box, Qt::Key_Return, modifiers);
}

std::size_t ChatMessages(TalkWindow& window) {
    std::size_t count = 0;
    for (const auto& run : window.Log().Runs()) count += run.text.find(u"の発言") != WString::npos;
    return count;
}

TEST(TalkWindow, OpeningMessageAndCaption) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    WString text = windows.serverWindow->Log().PlainText();
    EXPECT_EQ(text,
              u"System Message: \r\n接続確立 [my10.0.0.1 <-> connect127.0.0.1]\r\n"
              u"IPv4 で接続しています\r\n"
              u"/help と入力することで、有効なチャットコマンドが表示されます。\r\n");
    EXPECT_EQ(windows.serverWindow->windowTitle(), QStringLiteral("ミルカ Ver.T100a"));
}

TEST(TalkWindow, OpeningMessageNamesAnIPv6Link) {
    test::LinkedPair pair;
    std::uint16_t port = 0;
    ASSERT_TRUE(test::LinkManagers(*pair.server, *pair.client, &port, "::1"));
    TalkWindow window(*pair.client, pair.clientValues, "2001:db8::5", TalkWindow::Hooks{});
    EXPECT_EQ(window.Log().PlainText(),
              u"System Message: \r\n接続確立 [my2001:db8::5 <-> connect::1]\r\n"
              u"IPv6 で接続しています\r\n"
              u"/help と入力することで、有効なチャットコマンドが表示されます。\r\n");
}

TEST(TalkWindow, EncryptedLinkSaysSoInOpeningAndTitle) {
    test::LinkedPair pair;
    pair.server->SetPassphrase(u"合言葉");
    pair.client->SetPassphrase(u"合言葉");
    ASSERT_TRUE(pair.Link());
    TalkWindow window(*pair.server, pair.serverValues, "10.0.0.1", TalkWindow::Hooks{});
    EXPECT_EQ(window.Log().PlainText(),
              u"System Message: \r\n接続確立 [my10.0.0.1 <-> "
              u"connect127.0.0.1]\r\nIPv4 で接続しています\r\n暗号化された接続です\r\n"
              u"/help と入力することで、有効なチャットコマンドが表示されます。\r\n");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ミルカ Ver.T100a [暗号化された接続]"));
    // The peer's name replaces the title, and the mark stays.
    pair.client->QueueStatusMessage(u"オンライン");
    EXPECT_TRUE(
        WaitWithEvents([&] { return window.windowTitle().contains(QStringLiteral("client")); }));
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("[暗号化された接続]")));
}

TEST(TalkWindow, EnterSendsALineThatShowsInBothLogs) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    InputBox* box = windows.clientWindow->Input();
    Type(box, QStringLiteral("hello"));
    PressEnter(box);
    EXPECT_TRUE(box->toPlainText().isEmpty());
    ASSERT_TRUE(WaitWithEvents([&] { return ChatMessages(*windows.serverWindow) == 1; }));
    ASSERT_TRUE(WaitWithEvents([&] { return ChatMessages(*windows.clientWindow) == 1; }));
    auto runs = windows.serverWindow->Log().Runs();
    EXPECT_TRUE(runs[runs.size() - 2].style.bold);
    EXPECT_EQ(runs.back().text, u"hello\r\n");
    EXPECT_EQ(runs.back().style.face, windows.pair.clientValues.ChatFont().Face());
    EXPECT_EQ(runs.back().style.indentTwips, 200);

    // Empty Enter and a lone line break (left Ctrl+Enter) send nothing.
    PressEnter(box);
    PressControl(box, kLeftControlKeysym, true);
    PressEnter(box, Qt::ControlModifier);
    EXPECT_EQ(box->Text(), u"\r\n");  // left Ctrl+Enter inserted a line break
    PressControl(box, kLeftControlKeysym, false);
    PressEnter(box);
    EXPECT_TRUE(box->toPlainText().isEmpty());
    // Right Ctrl+Enter sends.
    Type(box, QStringLiteral("two"));
    PressControl(box, kRightControlKeysym, true);
    PressEnter(box, Qt::ControlModifier);
    PressControl(box, kRightControlKeysym, false);
    ASSERT_TRUE(WaitWithEvents([&] { return ChatMessages(*windows.serverWindow) == 2; }));
    QTest::qWait(100);
    EXPECT_EQ(ChatMessages(*windows.serverWindow), 2u);
}

// Only the left Ctrl key offers the clipboard's picture; right Ctrl+V is an ordinary paste.
TEST(TalkWindow, OnlyLeftControlVOffersAScreenshot) {
    InputBox box(nullptr);
    int offers = 0;
    box.onPasteScreenshot = [&] {
        ++offers;
        return true;
    };
    auto pressV = [&] {
        QKeyEvent v(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
        QCoreApplication::sendEvent(&box, &v);
    };
    PressControl(&box, kRightControlKeysym, true);
    pressV();
    PressControl(&box, kRightControlKeysym, false);
    EXPECT_EQ(offers, 0);
    PressControl(&box, kLeftControlKeysym, true);
    pressV();
    PressControl(&box, kLeftControlKeysym, false);
    EXPECT_EQ(offers, 1);
}

TEST(TalkWindow, StatusReachesThePeersTitleAndStatusLine) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    InputBox* box = windows.clientWindow->Input();
    Type(box, QStringLiteral("/status 離席中"));
    PressEnter(box);
    ASSERT_TRUE(WaitWithEvents([&] {
        return windows.serverWindow->windowTitle() == QStringLiteral("ミルカ Ver.T100a - client");
    }));
    EXPECT_EQ(windows.pair.clientValues.StatusText(), u"離席中");
}

TEST(TalkWindow, DroppedFilesAddRowsAndOffersInOrder) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    test::TempFolder folder;
    test::TempFolder inbox;
    windows.pair.serverValues.SetReceiveFolder(inbox.WithSeparator());
    QList<QUrl> urls;
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
        std::ofstream(folder.Path() / name) << name;
        urls << QUrl::fromLocalFile(QString::fromStdString((folder.Path() / name).string()));
    }
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(windows.clientWindow.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(windows.clientWindow.get(), &drop);
    auto rows = windows.clientWindow->Transfers().Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].cells[kColumnName], u"one.txt");
    EXPECT_EQ(rows[2].cells[kColumnName], u"three.txt");
    // The offers go out in the same order: the peer's rows come in that order too.
    ASSERT_TRUE(WaitWithEvents([&] { return windows.serverWindow->Transfers().Count() == 3; }));
    EXPECT_TRUE(windows.serverWindow->Transfers().Cell(1, kColumnName).starts_with(u"two.txt"));
}

TEST(TalkWindow, MenusFollowTheLinkStateAndPagesSurviveResize) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& window = *windows.clientWindow;
    window.UpdateMenuStates();
    EXPECT_FALSE(window.Action(40046)->isEnabled());
    EXPECT_TRUE(window.Action(40048)->isEnabled());
    TaskManagerTestSeam::SetDisconnectPause(*windows.pair.client, std::chrono::milliseconds(10));
    window.Action(40048)->trigger();
    ASSERT_EQ(windows.pair.client->LinkState(), LINK_CLOSED);
    window.UpdateMenuStates();
    EXPECT_TRUE(window.Action(40046)->isEnabled());
    EXPECT_FALSE(window.Action(40048)->isEnabled());

    window.ShowPage(TalkWindow::Page::File);
    window.resize(800, 600);
    QCoreApplication::processEvents();
    auto* list = window.findChild<QTreeWidget*>();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    EXPECT_FALSE(window.Input()->isVisible());
    EXPECT_EQ(list->geometry().width(), window.frameGeometry().width() - 30);
}

}  // namespace
}  // namespace mirka

namespace mirka {
namespace {

TEST(TalkWindow, CommandsTypedIntoTheWindow) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& window = *windows.clientWindow;
    InputBox* box = window.Input();
    auto command = [&](const QString& text) {
        box->clear();
        Type(box, text);
        window.SendAction();  // the send button: a command's text stays in the box
        EXPECT_EQ(box->toPlainText(), text);
    };
    command(QStringLiteral("/sound off"));
    EXPECT_FALSE(windows.pair.clientValues.SoundOn());
    command(QStringLiteral("/sound off"));
    EXPECT_FALSE(windows.pair.clientValues.SoundOn());
    command(QStringLiteral("/sendwait 70000"));
    EXPECT_EQ(windows.pair.client->sendWait.load(), 70000 & 0xFFFF);
    command(QStringLiteral("/help"));
    EXPECT_NE(window.Log().PlainText().find(u"/sendbufsize"), WString::npos);
    command(QStringLiteral("/log clear"));
    EXPECT_EQ(window.Log().PlainText(), u"");
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.findChild<LogView*>()->toPlainText().isEmpty());
}

}  // namespace
}  // namespace mirka

namespace mirka {
namespace {

TEST(TalkWindow, NameChangeReachesThePeersTitle) {
    TwoWindows windows;
    ASSERT_TRUE(windows.linked);
    QTimer::singleShot(50, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(QStringLiteral("新しい名前"));
        dialog->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    });
    windows.clientWindow->Action(40004)->trigger();
    EXPECT_EQ(windows.pair.clientValues.UserName(), u"新しい名前");
    ASSERT_TRUE(WaitWithEvents([&] {
        return windows.serverWindow->windowTitle() ==
               QStringLiteral("ミルカ Ver.T100a - 新しい名前");
    }));
}

}  // namespace
}  // namespace mirka

namespace mirka {
namespace {

QWidget* PrivacyMark(TalkWindow& window) {
    return window.findChild<QWidget*>(QStringLiteral("privacyMark"));
}

// The encryption mark shows what the link is, never what the peer says: on a sealed link
// until it closes and again after a reconnect, and never on a plain one, whatever name the
// peer gives itself.
TEST(TalkWindow, EncryptionMarkFollowsTheLinkOnly) {
    const QString suffix = QString::fromStdU16String(kPrivateTitleSuffix);
    {
        test::LinkedPair pair;
        pair.server->SetPassphrase(u"合言葉");
        pair.client->SetPassphrase(u"合言葉");
        ASSERT_TRUE(pair.Link());
        TalkWindow::Hooks hooks;
        hooks.reconnect = [&](QWidget*) {
            bool linked = pair.Link();
            if (linked) pair.client->RestartThreads();
            return linked;
        };
        TalkWindow window(*pair.server, pair.serverValues, "10.0.0.1", hooks);
        window.show();
        QWidget* mark = PrivacyMark(window);
        ASSERT_NE(mark, nullptr);
        EXPECT_TRUE(mark->isVisible());
        EXPECT_EQ(mark->toolTip().toStdU16String(),
                  u"この接続は合言葉で暗号化されています。"
                  u"相手が同じ合言葉を知っていることを確かめました。");

        TaskManagerTestSeam::SetDisconnectPause(*pair.client, std::chrono::milliseconds(10));
        pair.client->Disconnect();
        ASSERT_TRUE(WaitWithEvents([&] { return !mark->isVisible(); }));
        EXPECT_EQ(window.windowTitle(), QStringLiteral("ミルカ Ver.T100a"));

        window.Action(40046)->trigger();
        ASSERT_EQ(pair.server->LinkState(), LINK_SERVER);
        EXPECT_TRUE(mark->isVisible());
        EXPECT_EQ(window.windowTitle(), QStringLiteral("ミルカ Ver.T100a") + suffix);
    }
    {
        TwoWindows windows;
        ASSERT_TRUE(windows.linked);
        TalkWindow& window = *windows.serverWindow;
        QWidget* mark = PrivacyMark(window);
        ASSERT_NE(mark, nullptr);
        EXPECT_FALSE(mark->isVisible());
        windows.pair.clientValues.SetUserName(u"x [暗号化された接続]");
        windows.pair.client->QueueStatusMessage(u"オンライン");
        ASSERT_TRUE(
            WaitWithEvents([&] { return window.windowTitle().contains(QStringLiteral(" - x")); }));
        EXPECT_FALSE(window.windowTitle().contains(QStringLiteral("[暗号化された接続]")));
        EXPECT_FALSE(mark->isVisible());
    }
}

}  // namespace
}  // namespace mirka
