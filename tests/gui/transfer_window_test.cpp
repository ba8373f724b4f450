// The FILE page as the user meets it: rows that say what they are, the ways to send without
// dragging, and the questions before a running transfer is deleted or the program quits.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "gui/talk_window.h"
#include "gui/transfer_list_view.h"
#include "gui_wait.h"
#include "link/wire/delivery_frames.h"
#include "link/wire/file_record.h"
#include "sample_windows.h"
#include "support/frames.h"
#include "support/loopback.h"
#include "support/recorders.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

using test::WaitWithEvents;

struct LinkedWindows {
    explicit LinkedWindows(std::uint32_t capabilities = kKnownCapabilities) {
        pair.server->SetCapabilities(capabilities);
        pair.client->SetCapabilities(capabilities);
        pair.serverValues.SetReceiveFolder(inbox.WithSeparator());
        linked = pair.Link();
        TalkWindow::Hooks hooks;
        hooks.openPath = [this](const QString& path) { opened << path; };
        server = std::make_unique<TalkWindow>(*pair.server, pair.serverValues, "10.0.0.1", hooks);
        client = std::make_unique<TalkWindow>(*pair.client, pair.clientValues, "10.0.0.2", hooks);
        server->show();
        client->show();
    }
    ~LinkedWindows() {
        server.reset();
        client.reset();
    }
    test::LinkedPair pair;
    test::TempFolder inbox;
    test::TempFolder outbox;
    QStringList opened;
    bool linked = false;
    std::unique_ptr<TalkWindow> server;
    std::unique_ptr<TalkWindow> client;
};

TransferListView* ListOf(TalkWindow& window) {
    return window.findChild<TransferListView*>();
}

// The texts the list shows in a column, row by row.
QString Shown(TalkWindow& window, int row, int column) {
    ListOf(window)->Sync();
    QTreeWidgetItem* item = ListOf(window)->topLevelItem(row);
    return item ? item->text(column) : QString();
}

QStringList MenuOf(TalkWindow& window, int row) {
    QMenu menu;
    ListOf(window)->FillPopup(menu, row);
    QStringList texts;
    for (QAction* action : menu.actions())
        if (!action->isSeparator()) texts << action->text();
    return texts;
}

QString Q(const char16_t* text) {
    return QString::fromStdU16String(text);
}

std::filesystem::path WriteBytes(const std::filesystem::path& path, std::size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
}

TEST(TransferWindow, RowsSayWhatTheyAreThroughPauseCancelAndVerifiedCompletion) {
    LinkedWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& client = *windows.client;
    TalkWindow& server = *windows.server;
    // A slow send that the user pauses, resumes and cancels.
    windows.pair.client->sendWait = 10;
    auto big = WriteBytes(windows.outbox.Path() / "動画.bin", 4 << 20);
    client.SendFiles({QString::fromStdString(big.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 転送中"); }));
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 0, kShownState) == Q(u"受信 転送中"); }));
    // The receiver never shows the temporary name, in the name, extension or path.
    EXPECT_EQ(Shown(server, 0, kShownName), Q(u"動画.bin"));
    EXPECT_EQ(Shown(server, 0, kShownExtension), QStringLiteral(".bin"));
    EXPECT_FALSE(Shown(server, 0, kShownPath).endsWith(QStringLiteral(".tmp")));
    EXPECT_EQ(Shown(client, 0, kShownSize), QStringLiteral("4.2 MB"));
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownSpeed).endsWith("/s"); }));
    EXPECT_EQ(MenuOf(client, 0),
              QStringList({Q(u"中断 (&P)"), Q(u"削除 (&D)"), Q(u"キャンセル (&C)")}));

    client.OnTransferCommand(TransferListView::kPause, 0);
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 中断中"); }));
    EXPECT_EQ(Shown(client, 0, kShownSpeed), QString());
    EXPECT_EQ(Shown(client, 0, kShownRemaining), QString());
    EXPECT_EQ(MenuOf(client, 0),
              QStringList({Q(u"再開 (&R)"), Q(u"削除 (&D)"), Q(u"キャンセル (&C)")}));
    client.OnTransferCommand(TransferListView::kResend, 0);
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 転送中"); }));

    // A receiver's own pause shows on its row too.
    server.OnTransferCommand(TransferListView::kPause, 0);
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 0, kShownState) == Q(u"受信 中断中"); }));

    client.OnTransferCommand(TransferListView::kCancel, 0);
    ASSERT_TRUE(
        WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 キャンセル"); }));
    ASSERT_TRUE(
        WaitWithEvents([&] { return Shown(server, 0, kShownState) == Q(u"受信 キャンセル"); }));
    EXPECT_EQ(Shown(client, 0, kShownSpeed), QString());
    EXPECT_EQ(Shown(server, 0, kShownRemaining), QString());
    EXPECT_EQ(MenuOf(client, 0), QStringList({Q(u"一覧から消す (&L)")}));

    // A small file, proven on arrival.
    windows.pair.client->sendWait = 0;
    auto memo = WriteBytes(windows.outbox.Path() / "メモ.txt", 73);
    client.SendFiles({QString::fromStdString(memo.string())});
    ASSERT_TRUE(WaitWithEvents(
        [&] { return Shown(client, 1, kShownState) == Q(u"送信 完了（確認済み）"); }));
    ASSERT_TRUE(WaitWithEvents(
        [&] { return Shown(server, 1, kShownState) == Q(u"受信 完了（確認済み）"); }));
    EXPECT_EQ(Shown(server, 1, kShownName), Q(u"メモ.txt"));
    EXPECT_EQ(Shown(server, 1, kShownSize), QStringLiteral("73 B"));
    EXPECT_EQ(Shown(server, 1, kShownTransferred), QStringLiteral("73 B"));
    EXPECT_EQ(Shown(server, 1, kShownSpeed), QString());
    EXPECT_EQ(MenuOf(server, 1), QStringList({Q(u"フォルダを開く (&O)"), Q(u"一覧から消す (&L)")}));
    server.OnTransferCommand(TransferListView::kOpenFolder, 1);
    ASSERT_EQ(windows.opened.size(), 1);
    EXPECT_EQ(QDir(windows.opened.front()).canonicalPath(),
              QDir(QString::fromStdString(windows.inbox.Path().string())).canonicalPath());
    // Finished rows leave the list; later facts still reach the rows after them.
    server.OnTransferCommand(TransferListView::kRemove, 1);
    ListOf(server)->Sync();
    EXPECT_TRUE(ListOf(server)->topLevelItem(1)->isHidden());
    EXPECT_FALSE(ListOf(server)->topLevelItem(0)->isHidden());
}

TEST(TransferWindow, APeerThatCannotVerifyFinishesAsDone) {
    LinkedWindows windows(0);
    ASSERT_TRUE(windows.linked);
    auto memo = WriteBytes(windows.outbox.Path() / "note.txt", 1500);
    windows.client->SendFiles({QString::fromStdString(memo.string())});
    ASSERT_TRUE(
        WaitWithEvents([&] { return Shown(*windows.server, 0, kShownState) == Q(u"受信 完了"); }));
    EXPECT_EQ(Shown(*windows.server, 0, kShownSize), QStringLiteral("1.5 KB"));
}

// Runs `action` on the modal dialog that `open` shows; the action ends the dialog.
void OnModalDialog(const std::function<void()>& open,
                   const std::function<void(QWidget* dialog)>& action) {
    QTimer::singleShot(100, [action] {
        if (QWidget* dialog = QApplication::activeModalWidget()) action(dialog);
    });
    open();
}

TEST(TransferWindow, SendsByTheFileAndFolderDialogsAndOpensTheReceiveFolder) {
    LinkedWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& client = *windows.client;
    client.ShowPage(TalkWindow::Page::File);
    auto one = WriteBytes(windows.outbox.Path() / "一.txt", 10);
    auto two = WriteBytes(windows.outbox.Path() / "二.txt", 20);
    // The FILE page's button opens the file dialog; two files chosen at once.
    auto* button = client.findChild<QPushButton*>(QString(), Qt::FindChildrenRecursively);
    for (QPushButton* candidate : client.findChildren<QPushButton*>())
        if (candidate->text() == Q(u"ファイルを送る…")) button = candidate;
    ASSERT_TRUE(button->isVisible());
    OnModalDialog(
        [&] { button->click(); },
        [&](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            ASSERT_TRUE(files);
            EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
            files->setDirectory(QString::fromStdString(windows.outbox.Path()));
            files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("\"%1\" \"%2\"").arg(Q(u"一.txt"), Q(u"二.txt")));
            static_cast<QDialog*>(files)->accept();
        });
    ASSERT_EQ(client.Transfers().Count(), 2);
    ASSERT_TRUE(WaitWithEvents([&] { return windows.server->Transfers().Count() == 2; }));

    // The menu's folder item sends the chosen folder whole.
    std::filesystem::create_directory(windows.outbox.Path() / "写真");
    WriteBytes(windows.outbox.Path() / "写真" / "a.jpg", 5);
    QAction* sendFolder = client.Action(40073);
    ASSERT_TRUE(sendFolder);
    EXPECT_EQ(sendFolder->text(), Q(u"フォルダを送る… (&D)"));
    EXPECT_EQ(client.Action(40072)->text(), Q(u"ファイルを送る… (&O)"));
    OnModalDialog([&] { sendFolder->trigger(); },
                  [&](QWidget* dialog) {
                      auto* folders = qobject_cast<QFileDialog*>(dialog);
                      ASSERT_TRUE(folders);
                      folders->setDirectory(
                          QString::fromStdString((windows.outbox.Path() / "写真").string()));
                      folders->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->clear();
                      static_cast<QDialog*>(folders)->accept();
                  });
    ASSERT_EQ(client.Transfers().Count(), 3);
    ASSERT_TRUE(WaitWithEvents([&] {
        return Shown(*windows.server, 2, kShownName).startsWith(Q(u"写真"));
    })) << Shown(*windows.server, 2, kShownName).toStdString();

    windows.server->Action(40074)->trigger();
    ASSERT_EQ(windows.opened.size(), 1);
    EXPECT_EQ(QDir(windows.opened.front()).canonicalPath(),
              QDir(QString::fromStdString(windows.inbox.Path().string())).canonicalPath());
}

// Answers the next question box with `button`, and tells what it asked.
void Answer(const std::function<void()>& ask, QMessageBox::StandardButton button, QString* asked) {
    test::WithModalDialog(ask, [&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (!box) return;
        *asked = box->text();
        box->button(button)->click();
    });
}

TEST(TransferWindow, DeletingARunningTransferAndQuittingUnderOneAskFirst) {
    LinkedWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& client = *windows.client;
    windows.pair.client->sendWait = 10;
    auto big = WriteBytes(windows.outbox.Path() / "big.bin", 4 << 20);
    client.SendFiles({QString::fromStdString(big.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 転送中"); }));

    QString asked;
    Answer([&] { client.OnTransferCommand(TransferListView::kDelete, 0); }, QMessageBox::No,
           &asked);
    EXPECT_TRUE(asked.contains(Q(u"削除しますか"))) << asked.toStdString();
    EXPECT_TRUE(asked.contains(Q(u"再開"))) << asked.toStdString();
    EXPECT_EQ(Shown(client, 0, kShownState), Q(u"送信 転送中"));

    asked.clear();
    Answer([&] { client.close(); }, QMessageBox::No, &asked);
    EXPECT_TRUE(asked.contains(Q(u"終了しますか"))) << asked.toStdString();
    EXPECT_TRUE(asked.contains(Q(u"続きから再開"))) << asked.toStdString();
    EXPECT_TRUE(client.isVisible());

    Answer([&] { client.OnTransferCommand(TransferListView::kDelete, 0); }, QMessageBox::Yes,
           &asked);
    ASSERT_TRUE(WaitWithEvents(
        [&] { return Shown(client, 0, kShownState) == Q(u"送信 キャンセル（削除しました）"); }));
    // Nothing under way any more: quitting asks nothing.
    asked.clear();
    Answer([&] { client.close(); }, QMessageBox::No, &asked);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(client.isVisible());
}

std::size_t Count(const WString& text, WStringView part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool Logged(TalkWindow& window, WStringView part, std::size_t times = 1) {
    return WaitWithEvents([&] { return Count(window.Log().PlainText(), part) == times; });
}

TEST(TransferWindow, PauseResumeCancelAndDeleteAreLoggedOnBothSides) {
    LinkedWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& client = *windows.client;
    TalkWindow& server = *windows.server;
    windows.pair.client->sendWait = 10;
    auto big = WriteBytes(windows.outbox.Path() / "動画.bin", 4 << 20);
    client.SendFiles({QString::fromStdString(big.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 0, kShownState) == Q(u"受信 転送中"); }));

    // The sender's own pause and resume: its log only (nothing of it goes on the wire).
    client.OnTransferCommand(TransferListView::kPause, 0);
    EXPECT_TRUE(Logged(client, u"ファイルの転送を中断しました\r\nファイル名 > 動画.bin"));
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 中断中"); }));
    client.OnTransferCommand(TransferListView::kResend, 0);
    EXPECT_TRUE(Logged(client, u"ファイルの転送を再開しました"));
    // 再開 on a row that runs changes nothing, and says nothing.
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(client, 0, kShownState) == Q(u"送信 転送中"); }));
    client.OnTransferCommand(TransferListView::kResend, 0);
    EXPECT_EQ(Count(client.Log().PlainText(), u"ファイルの転送を再開しました"), 1u);

    // The receiver's pause and resume are told to the sender by its frames.
    server.OnTransferCommand(TransferListView::kPause, 0);
    EXPECT_TRUE(Logged(server, u"ファイルの転送を中断しました"));
    EXPECT_TRUE(Logged(client, u"相手がファイルの転送を中断しました\r\nファイル名 > 動画.bin"));
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 0, kShownState) == Q(u"受信 中断中"); }));
    server.OnTransferCommand(TransferListView::kResend, 0);
    EXPECT_TRUE(Logged(server, u"ファイルの転送を再開しました"));
    EXPECT_TRUE(Logged(client, u"相手がファイルの転送を再開しました"));

    // The receiver deletes: the sender hears a cancel, and its row says who.
    test::WithModalDialog([&] { server.OnTransferCommand(TransferListView::kDelete, 0); },
                          [](QWidget* dialog) {
                              if (auto* box = qobject_cast<QMessageBox*>(dialog))
                                  box->button(QMessageBox::Yes)->click();
                          });
    EXPECT_TRUE(Logged(server, u"ファイルの転送を削除しました\r\nファイル名 > 動画.bin"));
    EXPECT_TRUE(Logged(client, u"相手がファイルの転送をキャンセルしました"));
    ASSERT_TRUE(WaitWithEvents([&] {
        return Shown(client, 0, kShownState) == Q(u"送信 キャンセル（相手がキャンセルしました）");
    })) << Shown(client, 0, kShownState).toStdString();

    // The sender cancels the next one, then deletes the one after.
    client.SendFiles({QString::fromStdString(big.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 1, kShownState) == Q(u"受信 転送中"); }));
    client.OnTransferCommand(TransferListView::kCancel, 1);
    EXPECT_TRUE(Logged(client, u"ファイルの転送をキャンセルしました", 2));
    EXPECT_TRUE(Logged(server, u"相手がファイルの転送をキャンセルしました"));
    ASSERT_TRUE(
        WaitWithEvents([&] { return Shown(server, 1, kShownState) == Q(u"受信 キャンセル"); }));
    client.SendFiles({QString::fromStdString(big.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 2, kShownState) == Q(u"受信 転送中"); }));
    test::WithModalDialog([&] { client.OnTransferCommand(TransferListView::kDelete, 2); },
                          [](QWidget* dialog) {
                              if (auto* box = qobject_cast<QMessageBox*>(dialog))
                                  box->button(QMessageBox::Yes)->click();
                          });
    EXPECT_TRUE(Logged(client, u"ファイルの転送を削除しました"));
    EXPECT_TRUE(Logged(server, u"相手がファイルの転送を削除しました"));
    ASSERT_TRUE(WaitWithEvents([&] {
        return Shown(server, 2, kShownState) == Q(u"受信 キャンセル（相手が削除しました）");
    })) << Shown(server, 2, kShownState).toStdString();
}

TEST(TransferWindow, ARefusalReachesTheSendersRowAndACompletionSaysItWasProvenAndWhere) {
    LinkedWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& client = *windows.client;
    TalkWindow& server = *windows.server;
    // Every name the receiver could give "x.bin" is taken: it turns the offer down.
    WriteBytes(windows.inbox.Path() / "x.bin", 1);
    for (int i = 0; i < 255; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "x_[%02x].bin", i);
        WriteBytes(windows.inbox.Path() / name, 1);
    }
    auto refused = WriteBytes(windows.outbox.Path() / "x.bin", 10);
    client.SendFiles({QString::fromStdString(refused.string())});
    ASSERT_TRUE(WaitWithEvents([&] {
        return Shown(client, 0, kShownState) == Q(u"送信 キャンセル（相手が受け取りを断りました）");
    })) << Shown(client, 0, kShownState).toStdString();
    EXPECT_TRUE(Logged(client, u"相手がファイルの受け取りを断りました\r\nファイル名 > x.bin"));
    EXPECT_TRUE(Logged(server, u"同じ名前のファイルが多すぎるため"));

    // The receiver has a file of that name already: the arrival takes another, and says so.
    WriteBytes(windows.inbox.Path() / "メモ.txt", 5);
    auto memo = WriteBytes(windows.outbox.Path() / "メモ.txt", 73);
    client.SendFiles({QString::fromStdString(memo.string())});
    // The refused offer left the receiver no row: this one is its first.
    ASSERT_TRUE(WaitWithEvents(
        [&] { return Shown(server, 0, kShownState) == Q(u"受信 完了（確認済み）"); }));
    EXPECT_TRUE(
        Logged(server, u"ファイルの受信が完了しました\r\nファイル名 > メモ_[00].txt\r\n確認済み"));
    EXPECT_TRUE(Logged(server,
                       u"名前を変えて保存しました\r\n送られた名前 > メモ.txt\r\n"
                       u"保存した名前 > メモ_[00].txt"));
    WString folder = windows.inbox.WithSeparator();
    EXPECT_TRUE(Logged(server, u"保存先 > " + folder)) << ToUtf8(server.Log().PlainText());
    EXPECT_TRUE(
        Logged(client, u"ファイルの送信が完了しました\r\nファイル名 > メモ.txt\r\n確認済み"));
}

TEST(TransferWindow, TheSenderTellsACancelJustAfterTheAcceptFromARefusal) {
    // A raw receiver answers at once, well inside the second between two refreshes of the
    // sender's rows: a cancel right after its accept, then a cancel without one.
    test::WindowRecorder window;
    ProgramValues values;
    TaskManager sender(&values);
    sender.ownerWindow = &window;
    test::FakePeer peer;
    std::uint16_t port = peer.Listen();
    std::thread accepter([&] { peer.Accept(); });
    ASSERT_TRUE(sender.ConnectToServer("127.0.0.1", port));
    accepter.join();
    test::TempFolder outbox;
    // Larger than the socket takes before the cancel arrives.
    auto big = outbox.Path() / "big.bin";
    std::ofstream(big, std::ios::binary).close();
    std::filesystem::resize_file(big, 64 << 20);
    auto answer = [&](bool accept) {
        int row = window.Transfers().AddTransferRow(FromFsPath(big));
        sender.SendFile(FromFsPath(big), row);
        FrameHeader header;
        std::vector<std::uint8_t> record;
        // What the first send got out before its cancel came goes unread.
        for (;;) {
            ASSERT_TRUE(peer.ReadHeader(header));
            if (header.code == NET_FILE_OFFER) break;
            if (header.code == NET_FILE_DATA) {
                ASSERT_TRUE(peer.Read(record, header.lengthField));
            }
        }
        ASSERT_TRUE(peer.Read(record, FileRecord::kBytes));
        std::vector<std::uint8_t> frames;
        auto add = [&frames](const std::vector<std::uint8_t>& frame) {
            frames.insert(frames.end(), frame.begin(), frame.end());
        };
        std::uint32_t id = static_cast<std::uint32_t>(FileRecord::Decode(record.data()).taskId);
        if (accept) add(test::EncodeFrame(NET_FILE_ACCEPT, 0, 0, record));
        add(test::EncodeFrame(NET_FILE_CANCEL, 0, id, {}));
        peer.Send(frames);
    };
    auto state = [&](int row) {
        std::optional<TransferRow> shown = window.Transfers().Row(row);
        return shown ? ShownCells(*shown)[kShownState] : WString();
    };
    answer(true);
    EXPECT_TRUE(window.WaitFor([&] {
        return state(0) == u"送信 キャンセル（相手がキャンセルしました）";
    })) << ToUtf8(state(0));
    answer(false);
    EXPECT_TRUE(window.WaitFor([&] {
        return state(1) == u"送信 キャンセル（相手が受け取りを断りました）";
    })) << ToUtf8(state(1));
}

TEST(TransferWindow, AFinishedRowDragsOutAsItsFile) {
    LinkedWindows windows;
    ASSERT_TRUE(windows.linked);
    TalkWindow& server = *windows.server;
    windows.pair.client->sendWait = 10;
    auto big = WriteBytes(windows.outbox.Path() / "big.bin", 4 << 20);
    auto memo = WriteBytes(windows.outbox.Path() / "memo.txt", 50);
    windows.client->SendFiles({QString::fromStdString(big.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 0, kShownState) == Q(u"受信 転送中"); }));
    windows.pair.client->sendWait = 0;
    windows.client->SendFiles({QString::fromStdString(memo.string())});
    ASSERT_TRUE(WaitWithEvents([&] { return Shown(server, 1, kShownState).contains(Q(u"完了")); }));
    // Only the finished row gives a file; the running one drags nothing.
    QList<QUrl> urls = ListOf(server)->DragUrls({0, 1});
    ASSERT_EQ(urls.size(), 1);
    EXPECT_TRUE(urls.front().isLocalFile());
    EXPECT_EQ(QFileInfo(urls.front().toLocalFile()).canonicalFilePath(),
              QFileInfo(QString::fromStdString((windows.inbox.Path() / "memo.txt").string()))
                  .canonicalFilePath());
    EXPECT_TRUE(ListOf(server)->DragUrls({0}).isEmpty());
    EXPECT_TRUE(ListOf(server)->dragEnabled());
    windows.client->OnTransferCommand(TransferListView::kCancel, 0);
}

}  // namespace
}  // namespace mirka
