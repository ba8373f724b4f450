#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "gui/login_window.h"
#include "login_fixture.h"
#include "support/loopback.h"
#include "support/task_manager_seam.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

// The login window reads and writes "conf.txt" in the current folder.
class LoginWindowTest : public test::LoginFixture {};

TEST_F(LoginWindowTest, FirstStartShowsTheBuiltInValues) {
    LoginWindow window(link, profiles, reach);
    EXPECT_EQ(window.serverPort->text(), QStringLiteral("1225"));
    EXPECT_EQ(window.profileBox->currentText(), QStringLiteral("default"));
    EXPECT_EQ(window.ipField->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(window.portField->text(), QStringLiteral("1225"));
    EXPECT_TRUE(window.clientMode->isChecked());
    EXPECT_FALSE(window.noUpnp->isChecked());
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "conf.txt"));
}

TEST_F(LoginWindowTest, EscDoesNotEndTheWindow) {
    // A QDialog would take Esc for its cancel and close; this window ends by its own buttons.
    LoginWindow window(link, profiles, reach);
    window.show();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &press);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);  // neither accepted nor rejected
}

TEST_F(LoginWindowTest, ChoosingAProfileFillsItsFields) {
    std::ofstream(folder.Path() / "conf.txt", std::ios::binary)
        << "[profile000]\r\nip=10.1.1.1\r\nname=home\r\nport=2000\r\n"
        << "[profile001]\r\nip=example.invalid\r\nname=work\r\nport=3000\r\n";
    LoginWindow window(link, profiles, reach);
    EXPECT_EQ(window.profileBox->count(), 2);
    EXPECT_EQ(window.ipField->text(), QStringLiteral("10.1.1.1"));
    window.profileBox->setCurrentIndex(1);
    emit window.profileBox->activated(1);
    EXPECT_EQ(window.ipField->text(), QStringLiteral("example.invalid"));
    EXPECT_EQ(window.portField->text(), QStringLiteral("3000"));
}

TEST_F(LoginWindowTest, FailedClientStartSavesTheProfileAndStaysOpen) {
    test::MessageRecorder boxes;
    LoginWindow window(link, profiles, reach);
    window.noUpnp->setChecked(true);  // no gateway is asked
    std::uint16_t port = test::FreeLoopbackPort();
    window.portField->setText(QString::number(port));
    window.profileBox->setEditText(QStringLiteral("office"));
    window.StartLink();
    EXPECT_TRUE(window.startButton->isEnabled());
    // It no longer says that it is connecting.
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.statusLine->text().isEmpty());
    ASSERT_EQ(boxes.Boxes().size(), 1u);  // the connection failure, in Japanese only
    EXPECT_NE(boxes.Boxes()[0].text.find(u"に接続できませんでした"), WString::npos);
    std::string conf = Conf();
    EXPECT_NE(
        conf.find("[profile000]\r\nip=127.0.0.1\r\nname=office\r\nport=" + std::to_string(port)),
        std::string::npos)
        << conf;
    EXPECT_NE(conf.find("[server]\r\nport=1225\r\n"), std::string::npos);
}

// The longest IPv6 text, a zone and brackets reach the link whole and come back from
// "conf.txt" as typed. The address is 127.100.200.201 (on loopback) written as IPv6.
TEST_F(LoginWindowTest, LongestZonedIPv6LiteralReachesTheLinkAndComesBackWhole) {
    const QString literal =
        QStringLiteral("[0000:0000:0000:0000:0000:ffff:127.100.200.201%enx0123456789ab]");
    test::MessageRecorder boxes;
    {
        LoginWindow window(link, profiles, reach);
        window.noUpnp->setChecked(true);
        std::uint16_t port = test::FreeLoopbackPort();
        window.portField->setText(QString::number(port));
        window.ipField->setText(literal);
        window.StartLink();
        auto shown = boxes.Boxes();
        ASSERT_EQ(shown.size(), 1u);  // nobody listens: the connection failure names the host
        EXPECT_TRUE(shown[0].text.starts_with(literal.toStdU16String() + u":" +
                                              QString::number(port).toStdU16String() + u" "))
            << test::Utf8(shown[0].text);
    }
    EXPECT_NE(Conf().find("ip=" + literal.toStdString() + "\r\n"), std::string::npos) << Conf();
    ProfileList reloaded;
    LoginWindow again(link, reloaded, reach);
    EXPECT_EQ(again.ipField->text(), literal);
}

// The button copies the one address the core picks from what the last start found.
TEST_F(LoginWindowTest, CopyButtonPutsThePeersAddressOnTheClipboard) {
    LoginWindow window(link, profiles, reach);
    reach.ownAddressText = "192.168.1.9";
    reach.ownIPv6Text = "2001:db8::5";
    window.copyButton->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("2001:db8::5"));
    reach.ownAddressText = "203.0.113.7";
    window.copyButton->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("203.0.113.7"));
}

TEST_F(LoginWindowTest, ServerStartEndsWithOneWhenThePeerConnects) {
    LoginWindow window(link, profiles, reach);
    window.noUpnp->setChecked(true);
    window.serverMode->setChecked(true);
    std::uint16_t port = test::FreeLoopbackPort();
    window.serverPort->setText(QString::number(port));
    test::FakePeer peer;
    std::thread connector([&] { peer.Connect(port); });
    window.StartLink();
    connector.join();
    EXPECT_EQ(window.result(), 1);
    EXPECT_EQ(link.LinkState(), LINK_SERVER);
    EXPECT_FALSE(reach.ownAddressText.empty());
    EXPECT_NE(Conf().find("[server]\r\nport=" + std::to_string(port)), std::string::npos);
    // An original peer that said nothing first was waited for, not written to: the first
    // frame it reads is the first line typed.
    link.QueueChatLine(u"はい", u"server");
    FrameHeader first;
    ASSERT_TRUE(peer.ReadHeader(first));
    EXPECT_EQ(first.code, NET_CHAT);
}

TEST_F(LoginWindowTest, PassphraseIsMaskedUsedAndNeverSaved) {
    LoginWindow window(link, profiles, reach);
    EXPECT_EQ(window.passphraseField->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(window.passphraseField->text().isEmpty());
    window.noUpnp->setChecked(true);
    window.serverMode->setChecked(true);
    std::uint16_t port = test::FreeLoopbackPort();
    window.serverPort->setText(QString::number(port));
    window.passphraseField->setText(QStringLiteral("ひらけごま"));
    TaskManager peer;
    peer.SetPassphrase(u"ひらけごま");
    bool connected = false;
    std::thread connector([&] {
        for (int i = 0; i < 200 && !connected; ++i) {
            test::MessageRecorder quiet;
            connected = peer.ConnectToServer("127.0.0.1", port);
            if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    window.StartLink();
    connector.join();
    EXPECT_EQ(window.result(), 1);
    EXPECT_TRUE(link.LinkIsPrivate());
    EXPECT_TRUE(window.passphraseField->text().isEmpty());  // the link holds it now
    // The reconnect's login window offers it again; no file holds it.
    LoginWindow again(link, profiles, reach);
    EXPECT_EQ(again.passphraseField->text(), QStringLiteral("ひらけごま"));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path())) {
        std::string text = test::ReadFileText(entry.path());
        EXPECT_EQ(text.find("ひらけごま"), std::string::npos) << entry.path();
        EXPECT_EQ(text.find("\x82\xd0\x82\xe7"), std::string::npos) << entry.path();  // Shift-JIS
    }
}

// Tries `peer` until the server turned it away in the handshake.
void ConnectUntilRefused(TaskManager& peer, std::uint16_t port) {
    for (int i = 0; i < 500 && peer.LastRefusal().empty(); ++i) {
        if (!peer.ConnectToServer("127.0.0.1", port))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ConnectUntilLinked(TaskManager& peer, std::uint16_t port) {
    for (int i = 0; i < 500; ++i) {
        if (peer.ConnectToServer("127.0.0.1", port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool HasBox(const test::MessageRecorder& boxes, const char16_t* text) {
    for (const test::RecordedBox& box : boxes.Boxes())
        if (box.text == text) return true;
    return false;
}

TEST_F(LoginWindowTest, ARefusedPeerLeavesTheServerWaitingWithALineSayingWhomAndWhy) {
    test::MessageRecorder boxes;
    TaskManagerTestSeam::SetCloseLinger(link, std::chrono::milliseconds(200));
    auto serverWindow = [&](const char16_t* passphrase) {
        auto window = std::make_unique<LoginWindow>(link, profiles, reach);
        window->noUpnp->setChecked(true);
        window->serverMode->setChecked(true);
        window->passphraseField->setText(QString::fromStdU16String(passphrase));
        return window;
    };
    auto refusedLine = [](LoginWindow& window, const char16_t* why) {
        QCoreApplication::processEvents();
        return window.statusLine->text().contains(QString::fromStdU16String(u"127.0.0.1 (") +
                                                  QString::fromStdU16String(why) +
                                                  QString::fromStdU16String(u") を断りました"));
    };
    {
        // The first peer knows another passphrase and is turned away in the handshake; the
        // server still waits, and takes the next peer.
        auto window = serverWindow(u"ひらけごま");
        std::uint16_t port = test::FreeLoopbackPort();
        window->serverPort->setText(QString::number(port));
        TaskManager wrong;
        wrong.SetPassphrase(u"ちがう");
        TaskManager right;
        right.SetPassphrase(u"ひらけごま");
        bool connected = false;
        std::thread connector([&] {
            ConnectUntilRefused(wrong, port);
            connected = ConnectUntilLinked(right, port);
        });
        window->StartLink();
        connector.join();
        EXPECT_TRUE(connected);
        EXPECT_EQ(window->result(), 1);
        EXPECT_TRUE(link.LinkIsPrivate());
        EXPECT_FALSE(wrong.LastRefusal().empty());
        // The last line the status showed names the refused peer and the reason.
        EXPECT_TRUE(refusedLine(*window, u"合言葉が一致しません"))
            << window->statusLine->text().toStdString();
    }
    {
        // A server without a passphrase turns away a peer that asks for one, before its
        // window closes as if linked; a peer without one is taken after it.
        auto window = serverWindow(u"");
        std::uint16_t port = test::FreeLoopbackPort();
        window->serverPort->setText(QString::number(port));
        TaskManager asking;
        asking.SetPassphrase(u"ひらけごま");
        TaskManager plain;
        bool connected = false;
        std::thread connector([&] {
            ConnectUntilRefused(asking, port);
            connected = ConnectUntilLinked(plain, port);
        });
        window->StartLink();
        connector.join();
        EXPECT_TRUE(connected);
        EXPECT_EQ(window->result(), 1);
        EXPECT_EQ(link.LinkState(), LINK_SERVER);
        EXPECT_FALSE(link.LinkIsPrivate());
        EXPECT_NE(asking.LastRefusal().find(u"相手は合言葉を使っていません"), WString::npos);
        EXPECT_TRUE(refusedLine(*window, u"相手は合言葉を求めています"))
            << window->statusLine->text().toStdString();
        EXPECT_TRUE(boxes.WaitFor([&] { return HasBox(boxes, u"相手は合言葉を求めています"); }));
    }
    {
        // The same for a client without a passphrase: its window stays open to try again.
        TaskManager server;
        server.SetPassphrase(u"ひらけごま");
        std::uint16_t port = test::FreeLoopbackPort();
        std::thread waiter([&] { server.StartServer(port); });
        LoginWindow window(link, profiles, reach);
        window.noUpnp->setChecked(true);
        window.portField->setText(QString::number(port));
        for (int i = 0; i < 500 && link.LastRefusal().empty(); ++i) {
            window.StartLink();
            if (link.LastRefusal().empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        waiter.join();
        EXPECT_NE(window.result(), 1);
        EXPECT_TRUE(window.startButton->isEnabled());
        EXPECT_NE(link.LastRefusal().find(u"相手は合言葉を求めています"), WString::npos);
        EXPECT_NE(link.LinkState(), LINK_CLIENT);
    }
}

TEST_F(LoginWindowTest, ThePassphraseExplainsItselfTakesTheInputMethodAndTheChoiceIsKept) {
    LoginChoice choice;
    {
        LoginWindow window(link, profiles, reach);
        window.KeepChoiceIn(&choice);
        EXPECT_TRUE(window.clientMode->isChecked());  // the first start of a run
        QString hint = window.passphraseField->toolTip();
        for (const char16_t* part : {u"省略できます", u"相手と同じ", u"暗号化"})
            EXPECT_TRUE(hint.contains(QString::fromStdU16String(part))) << hint.toStdString();
        EXPECT_FALSE(window.passphraseField->placeholderText().isEmpty());
        // A composed kana string arrives through the input method.
        EXPECT_TRUE(window.passphraseField->testAttribute(Qt::WA_InputMethodEnabled));
        QInputMethodEvent composing(QStringLiteral("ひらけ"), {});
        QCoreApplication::sendEvent(window.passphraseField, &composing);
        QInputMethodEvent committed;
        committed.setCommitString(QStringLiteral("ひらけごま"));
        QCoreApplication::sendEvent(window.passphraseField, &committed);
        EXPECT_EQ(window.passphraseField->text(), QStringLiteral("ひらけごま"));
        EXPECT_EQ(window.passphraseField->echoMode(), QLineEdit::Password);

        // A server start without UPnP is the choice the next window shows.
        window.passphraseField->clear();
        window.serverMode->setChecked(true);
        window.noUpnp->setChecked(true);
        std::uint16_t port = test::FreeLoopbackPort();
        window.serverPort->setText(QString::number(port));
        test::FakePeer peer;
        std::thread connector([&] {
            for (int i = 0; i < 500 && !peer.Connect(port); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        window.StartLink();
        connector.join();
        EXPECT_EQ(window.result(), 1);
    }
    EXPECT_TRUE(choice.made);
    LoginWindow again(link, profiles, reach);
    again.KeepChoiceIn(&choice);
    EXPECT_TRUE(again.serverMode->isChecked());
    EXPECT_TRUE(again.noUpnp->isChecked());
}

}  // namespace
}  // namespace mirka
