#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "gui/input_box.h"
#include "gui/log_view.h"
#include "sample_windows.h"

namespace mirka {
namespace {

// The edit commands reach their own frame and follow the enabling rules: an action wired
// to the wrong slot (cut to copy, the log's copy to the input box) shows here.
TEST(TalkWindowMenu, EditCommandsWorkOnTheirFrames) {
    test::SampleTalkWindow sample;
    TalkWindow& window = *sample.window;
    InputBox* box = window.Input();
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    auto enabled = [&](int id) {
        window.UpdateMenuStates();
        return window.Action(id)->isEnabled();
    };
    EXPECT_FALSE(enabled(40041));
    EXPECT_FALSE(enabled(40042));
    EXPECT_FALSE(enabled(40040));
    EXPECT_FALSE(enabled(40039));
    EXPECT_FALSE(enabled(40046));  // the link is not closed
    EXPECT_TRUE(enabled(40048));

    QTest::keyClicks(box, QStringLiteral("hello"));
    box->selectAll();
    EXPECT_TRUE(enabled(40041));
    EXPECT_TRUE(enabled(40040));
    window.Action(40042)->trigger();
    EXPECT_EQ(clipboard->text(), QStringLiteral("hello"));
    EXPECT_EQ(box->toPlainText(), QStringLiteral("hello"));
    EXPECT_TRUE(enabled(40043));
    window.Action(40041)->trigger();
    EXPECT_EQ(box->toPlainText(), QString());
    window.Action(40043)->trigger();
    window.Action(40043)->trigger();
    EXPECT_EQ(box->toPlainText(), QStringLiteral("hellohello"));
    window.Action(40040)->trigger();
    EXPECT_EQ(box->toPlainText(), QStringLiteral("hello"));
    EXPECT_FALSE(enabled(40040));
    window.Action(40044)->trigger();
    EXPECT_EQ(box->toPlainText(), QString());

    QCoreApplication::processEvents();
    auto* log = window.findChild<LogView*>();
    log->selectAll();
    EXPECT_TRUE(enabled(40039));
    window.Action(40039)->trigger();
    EXPECT_TRUE(clipboard->text().contains(QStringLiteral("資料を送ります")));
    window.Action(40050)->trigger();
    EXPECT_EQ(window.Log().PlainText(), u"");
}

}  // namespace
}  // namespace mirka
