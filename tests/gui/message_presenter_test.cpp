#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "gui/qt_message_presenter.h"
#include "gui_wait.h"

namespace mirka {
namespace {

QMessageBox* OpenBox(const QString& text) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible() && box->text() == text) return box;
    }
    return nullptr;
}

// A posted box never holds up its caller: a worker goes on at once, the window thread too,
// and the box stays open until the user answers it. Once the window thread stops serving,
// a posted box shows nowhere.
TEST(QtMessagePresenter, PostedBoxesNeverWait) {
    QtMessagePresenter presenter;
    const QString text = QStringLiteral("相手は合言葉を求めています");
    // Answers any box with the text, so that a Post that did wait cannot hang the test.
    int answered = 0;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (QMessageBox* box = OpenBox(text)) {
            box->button(QMessageBox::Ok)->click();
            ++answered;
        }
    });
    answerer.start(10);

    std::atomic<bool> returned{false};
    std::thread worker([&] {
        presenter.Post(kMbOk | kMbIconWarning, u"エラー", text.toStdU16String());
        returned = true;
    });
    // This thread handles no event meanwhile: nobody could answer a box the worker waited on.
    for (int i = 0; i < 5000 && !returned; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(returned.load());
    ASSERT_TRUE(test::WaitWithEvents([&] { return answered == 1; }));
    worker.join();

    // On the window thread, Post returns before the box is answered (no timer runs here).
    presenter.Post(kMbOk, u"エラー", text.toStdU16String());
    QCoreApplication::sendPostedEvents();
    QMessageBox* box = OpenBox(text);
    ASSERT_NE(box, nullptr);  // shown, not yet answered
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("エラー"));
    box->button(QMessageBox::Ok)->click();

    presenter.StopServingWorkers();
    std::thread late([&] { presenter.Post(kMbOk, u"エラー", text.toStdU16String()); });
    late.join();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(OpenBox(text), nullptr);
}

int OpenBoxes(const QString& text) {
    int n = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible() && box->text() == text) ++n;
    }
    return n;
}

// However often the same box is posted (a fault repeated by the peer), one is open at a time;
// a box of another text still shows beside it, and once answered the same box may come again.
TEST(QtMessagePresenter, TheSameBoxIsNeverStacked) {
    QtMessagePresenter presenter;
    const QString text = QStringLiteral("同じ誤り");
    const QString other = QStringLiteral("別の誤り");
    std::thread worker([&] {
        for (int i = 0; i < 500; ++i) presenter.Post(kMbOk, u"Show Message", text.toStdU16String());
    });
    for (int i = 0; i < 500; ++i) presenter.Post(kMbOk, u"Show Message", text.toStdU16String());
    worker.join();
    presenter.Post(kMbOk, u"Show Message", other.toStdU16String());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(OpenBoxes(text), 1);
    EXPECT_EQ(OpenBoxes(other), 1);
    OpenBox(text)->button(QMessageBox::Ok)->click();
    QCoreApplication::sendPostedEvents();
    presenter.Post(kMbOk, u"Show Message", text.toStdU16String());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(OpenBoxes(text), 1);
}

}  // namespace
}  // namespace mirka
