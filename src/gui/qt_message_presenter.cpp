#include "gui/qt_message_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "common/debug_log.h"

namespace mirka {

namespace {

int ShowBox(unsigned type, const WString& caption, const WString& text) {
    QMessageBox box;
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

}  // namespace

int QtMessagePresenter::Present(unsigned type, const WString& caption, const WString& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return ShowBox(type, caption, text);
    if (!serving) {
        DebugLog::Instance().Write("MessageBox", __LINE__, ToNarrow(caption), ToNarrow(text));
        return kIdOk;
    }
    int result = kIdOk;
    QMetaObject::invokeMethod(
        app, [&] { result = ShowBox(type, caption, text); }, Qt::BlockingQueuedConnection);
    return result;
}

}  // namespace mirka
