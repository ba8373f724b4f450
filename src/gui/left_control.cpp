#include "gui/left_control.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace mirka {

LeftControlKey& LeftControlKey::Instance() {
    static LeftControlKey* instance = [] {
        auto* tracker = new LeftControlKey;
        tracker->setParent(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(tracker);
        return tracker;
    }();
    return *instance;
}

bool LeftControlKey::IsDown(Qt::KeyboardModifiers modifiers) const {
    if (!(modifiers & Qt::ControlModifier)) return false;
    return sawNativeKeys ? leftDown : true;
}

bool LeftControlKey::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_Control) break;
            bool down = event->type() == QEvent::KeyPress;
            if (key->nativeVirtualKey() == kLeftControlKeysym) {
                sawNativeKeys = true;
                leftDown = down;
            } else if (key->nativeVirtualKey() == kRightControlKeysym) {
                sawNativeKeys = true;
            } else if (!sawNativeKeys) {
                leftDown = down;
            }
            break;
        }
        case QEvent::WindowDeactivate:
            leftDown = false;
            break;
        case QEvent::ApplicationStateChange:
            if (QGuiApplication::applicationState() != Qt::ApplicationActive) leftDown = false;
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace mirka
