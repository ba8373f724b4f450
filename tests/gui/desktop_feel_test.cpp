#include <fstream>

#include <gtest/gtest.h>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include "gui/font_dialog.h"
#include "gui/input_box.h"
#include "gui/input_dialog.h"
#include "gui/log_view.h"
#include "gui/login_window.h"
#include "gui/send_speed_dialog.h"
#include "gui/version_box.h"
#include "gui_wait.h"
#include "login_fixture.h"
#include "sample_windows.h"
#include "support/loopback.h"
#include "support/recorders.h"
#include "support/temp_folder.h"
#include "text_fits.h"

namespace mirka {
namespace {

class ProfileBoxTest : public test::LoginFixture {
protected:
    void SetUp() override {
        LoginFixture::SetUp();
        std::ofstream(folder.Path() / "conf.txt", std::ios::binary)
            << "[profile000]\r\nip=10.0.0.2\r\nname=home2\r\nport=2002\r\n"
            << "[profile001]\r\nip=10.0.0.3\r\nname=Office\r\nport=2003\r\n";
    }
};

void TypeName(LoginWindow& window, const QString& name) {
    QLineEdit* edit = window.profileBox->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);  // ends the typing, as leaving the box does
}

// A typed name is taken as typed: a prefix of another name or the same letters in another
// case add a profile of their own, and typing never fills the address fields.
TEST_F(ProfileBoxTest, TypedNamesAreExactAndChooseNothing) {
    test::MessageRecorder boxes;
    LoginWindow window(link, profiles, reach);
    window.show();
    window.noUpnp->setChecked(true);
    window.portField->setText(QString::number(test::FreeLoopbackPort()));
    window.ipField->setText(QStringLiteral("127.0.0.1"));

    TypeName(window, QStringLiteral("home"));
    EXPECT_EQ(window.profileBox->currentText(), QStringLiteral("home"));
    window.StartLink();  // fails to connect, saves the profiles
    TypeName(window, QStringLiteral("office"));
    EXPECT_EQ(window.profileBox->currentText(), QStringLiteral("office"));
    EXPECT_EQ(window.ipField->text(), QStringLiteral("127.0.0.1"));
    TypeName(window, QStringLiteral("Office"));  // an existing name, typed: still no choice
    EXPECT_EQ(window.ipField->text(), QStringLiteral("127.0.0.1"));
    TypeName(window, QStringLiteral("office"));
    window.StartLink();

    std::string conf = Conf();
    EXPECT_NE(conf.find("[profile000]\r\nip=10.0.0.2\r\nname=home2\r\nport=2002\r\n"),
              std::string::npos)
        << conf;
    EXPECT_NE(conf.find("[profile001]\r\nip=10.0.0.3\r\nname=Office\r\nport=2003\r\n"),
              std::string::npos)
        << conf;
    EXPECT_NE(conf.find("[profile002]\r\nip=127.0.0.1\r\nname=home\r\n"), std::string::npos)
        << conf;
    EXPECT_NE(conf.find("[profile003]\r\nip=127.0.0.1\r\nname=office\r\n"), std::string::npos)
        << conf;

    // A pick from the list still fills the fields.
    window.profileBox->setCurrentIndex(1);
    emit window.profileBox->activated(1);
    EXPECT_EQ(window.ipField->text(), QStringLiteral("10.0.0.3"));
}

void SendKey(QWidget* to, QEvent::Type type, Qt::Key key, Qt::KeyboardModifiers modifiers,
             quint32 keysym = 0) {
    QKeyEvent event(type, key, modifiers, keysym == kLeftControlKeysym ? 37 : 0, keysym, 0);
    QCoreApplication::sendEvent(to, &event);
}

// Enter follows the left Ctrl key's real state, wherever it was pressed or released.
TEST(LeftControl, ReleasedOutsideTheBoxDoesNotStick) {
    test::SampleTalkWindow talk;
    talk.window->show();
    InputBox* box = talk.window->Input();
    QWidget* log = talk.window->findChild<LogView*>();
    int sends = 0;
    box->onSend = [&] { ++sends; };
    auto enter = [&](Qt::KeyboardModifiers modifiers) {
        box->setPlainText(QStringLiteral("a"));
        box->moveCursor(QTextCursor::End);
        SendKey(box, QEvent::KeyPress, Qt::Key_Return, modifiers);
        SendKey(box, QEvent::KeyRelease, Qt::Key_Return, modifiers);
    };

    // Pressed in the box, released over the log: Enter sends.
    SendKey(box, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, kLeftControlKeysym);
    SendKey(log, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier, kLeftControlKeysym);
    enter(Qt::NoModifier);
    EXPECT_EQ(sends, 1);

    // Pressed before the box had the keyboard: Ctrl+Enter breaks the line.
    SendKey(log, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, kLeftControlKeysym);
    enter(Qt::ControlModifier);
    EXPECT_EQ(sends, 1);
    EXPECT_EQ(box->Text(), u"a\r\n");

    // Released where no window of ours saw it: Enter carries no Ctrl, so it sends.
    enter(Qt::NoModifier);
    EXPECT_EQ(sends, 2);

    // The window lost the keyboard while the key was down: the key is forgotten.
    SendKey(box, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, kLeftControlKeysym);
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(talk.window.get(), &deactivate);
    enter(Qt::ControlModifier);  // the right Ctrl key, say
    EXPECT_EQ(sends, 3);
}

// A file dropped on the input box is offered to the peer; the box keeps its text.
TEST(InputBoxDrop, FileGoesToTheTransferNotIntoTheText) {
    test::LinkedPair pair;
    ASSERT_TRUE(pair.Link());
    TalkWindow client(*pair.client, pair.clientValues, "10.0.0.2", TalkWindow::Hooks{});
    TalkWindow server(*pair.server, pair.serverValues, "10.0.0.1", TalkWindow::Hooks{});
    test::TempFolder files;
    test::TempFolder inbox;
    pair.serverValues.SetReceiveFolder(inbox.WithSeparator());
    std::ofstream(files.Path() / "資料.txt") << "data";
    client.show();
    InputBox* box = client.Input();
    box->setPlainText(QStringLiteral("下書き"));

    QMimeData mime;
    mime.setUrls(
        {QUrl::fromLocalFile(QString::fromStdU16String((files.Path() / "資料.txt").u16string()))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box->viewport(), &drop);

    EXPECT_EQ(box->toPlainText(), QStringLiteral("下書き"));
    ASSERT_EQ(client.Transfers().Count(), 1);
    EXPECT_EQ(client.Transfers().Cell(0, kColumnName), u"資料.txt");
    ASSERT_TRUE(test::WaitWithEvents([&] { return server.Transfers().Count() == 1; }));
    EXPECT_TRUE(server.Transfers().Cell(0, kColumnName).starts_with(u"資料.txt"));
}

// A resize that rewraps the log does not stop it from following new lines; a log the user
// scrolled up stays where it is.
TEST(LogFollow, NewLinesStayInViewAfterAResize) {
    test::SampleTalkWindow talk;
    talk.window->show();
    QScrollBar* bar = talk.window->findChild<LogView*>()->verticalScrollBar();
    auto append = [&](int count) {
        for (int i = 0; i < count; ++i)
            talk.window->AppendLog(u"System Message: \r\n" + WString(40, u'長') + u" 行\r\n");
        QTest::qWait(50);
    };
    append(40);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    talk.window->resize(talk.window->width() / 2, talk.window->height());
    QTest::qWait(50);
    append(3);
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(0);
    append(3);
    EXPECT_EQ(bar->value(), 0);
}

void ExpectAllFit(QWidget* window, const char* what) {
    QApplication::processEvents();
    for (const std::string& cut : test::CutTexts(window)) ADD_FAILURE() << what << ": " << cut;
}

// Every label, button, heading and cell shows its whole text. ctest runs this again at
// 150 % (QT_SCALE_FACTOR) and with a 144-DPI font setting.
TEST(TextFits, EveryWindowAndDialog) {
    test::TempFolder work;
    auto saved = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    {
        TaskManager link;
        ProfileList profiles;
        OwnReach reach;
        LoginWindow login(link, profiles, reach);
        login.show();
        ExpectAllFit(&login, "login");
    }
    test::SampleTalkWindow talk;
    talk.window->show();
    ExpectAllFit(talk.window.get(), "talk");
    talk.window->ShowPage(TalkWindow::Page::File);
    ExpectAllFit(talk.window.get(), "talk, file page");
    // The encryption mark at the window's foot, beside nothing else.
    test::SealedTalkWindow sealed;
    EXPECT_TRUE(sealed.linked);
    sealed.window->show();
    ExpectAllFit(sealed.window.get(), "talk, encrypted link");
    auto* mark = sealed.window->findChild<QWidget*>(QStringLiteral("privacyMark"));
    EXPECT_TRUE(mark && mark->isVisible());
    if (mark)
        for (const std::string& covered : test::Covered(mark)) ADD_FAILURE() << covered;

    QWidget* owner = talk.window.get();
    auto check = [](const char* what) {
        return [what](QWidget* dialog) { ExpectAllFit(dialog, what); };
    };
    test::WithModalDialog([&] { ChooseSendPace(owner, SendPace{}); }, check("send speed"));
    test::WithModalDialog(
        [&] {
            WString name = u"名無しさんだよもん";
            ShowInputDialog(owner, u"入力", u"使用する名前を入力してください", name, 128);
        },
        check("name"));
    test::WithModalDialog(
        [&] {
            WString status = u"オンライン";
            ShowInputDialog(owner, u"入力", u"相手に送信する自分の状態を入力してください", status,
                            260);
        },
        check("status"));
    test::WithModalDialog([&] { ShowVersionBox(owner); }, check("version"));
    test::WithModalDialog([&] { ChooseChatFont(owner, talk.values, work.Path() / "Font.ini"); },
                          check("font"));
    std::filesystem::current_path(saved);
}

}  // namespace
}  // namespace mirka
