#include "gui/qt_message_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "common/debug_log.h"

namespace mirka {

namespace {

void Configure(QMessageBox& box, unsigned type, const WString& caption, const WString& text) {
    box.setWindowTitle(QString::fromStdU16String(caption));
    box.setText(QString::fromStdU16String(text));
    switch (type & 0xF0) {
        case kMbIconError:
            box.setIcon(QMessageBox::Critical);
            break;
        case kMbIconQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case kMbIconWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case kMbIconInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    switch (type & 0x0F) {
        case kMbOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case kMbYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
}

int ShowBox(unsigned type, const WString& caption, const WString& text) {
    QMessageBox box;
    Configure(box, type, caption, text);
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return kIdCancel;
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        default:
            return kIdOk;
    }
}

void LogInstead(const WString& caption, const WString& text) {
    DebugLog::Instance().Write("MessageBox", __LINE__, ToNarrow(caption), ToNarrow(text));
}

}  // namespace

QtMessagePresenter::QtMessagePresenter() = default;

QtMessagePresenter::~QtMessagePresenter() {
    for (const QPointer<QMessageBox>& box : posted) delete box.data();
}

int QtMessagePresenter::Present(unsigned type, const WString& caption, const WString& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return ShowBox(type, caption, text);
    if (!serving) {
        LogInstead(caption, text);
        return kIdOk;
    }
    int result = kIdOk;
    QMetaObject::invokeMethod(
        app, [&] { result = ShowBox(type, caption, text); }, Qt::BlockingQueuedConnection);
    return result;
}

void QtMessagePresenter::Post(unsigned type, const WString& caption, const WString& text) {
    if (!serving || !QCoreApplication::instance()) {
        LogInstead(caption, text);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(kindsLock);
        if (!kinds.emplace(type, caption, text).second) return;  // the user sees it already
    }
    // Queued from the window thread as well: the boxes come up in the order they were posted,
    // and the caller's handler ends before a box takes the window's input.
    QMetaObject::invokeMethod(
        &postTarget, [this, type, caption, text] { ShowPosted(type, caption, text); },
        Qt::QueuedConnection);
}

void QtMessagePresenter::ShowPosted(unsigned type, const WString& caption, const WString& text) {
    // The talk window ended while the box was on its way: the program is closing.
    Kind kind{type, caption, text};
    if (!serving) {
        LogInstead(caption, text);
        Forget(kind);
        return;
    }
    std::erase_if(posted, [](const QPointer<QMessageBox>& shown) { return shown.isNull(); });
    auto* box = new QMessageBox;
    Configure(*box, type, caption, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Application-modal, as the talk window is: a box without it would take no input.
    box->setWindowModality(Qt::ApplicationModal);
    // Once answered, the same box may come again.
    QObject::connect(box, &QDialog::finished, &postTarget, [this, kind] { Forget(kind); });
    box->show();
    posted.emplace_back(box);
}

void QtMessagePresenter::Forget(const Kind& kind) {
    std::lock_guard<std::mutex> guard(kindsLock);
    kinds.erase(kind);
}

}  // namespace mirka
