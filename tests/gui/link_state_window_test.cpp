// The talk window shows the link as it is: its end in one line on both sides, the peer gone
// from the title and the status line, a line typed while unlinked kept; one's own lines
// stand apart, and a user who never named themself is told where to.
#include <gtest/gtest.h>
#include <QLabel>

#include "common/log_message.h"
#include "gui/input_box.h"
#include "gui/talk_window.h"
#include "gui_wait.h"
#include "support/loopback.h"

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

    pair.client->SetDisconnectPause(std::chrono::milliseconds(10));
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

}  // namespace
}  // namespace mirka
