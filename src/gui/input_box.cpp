#include "gui/input_box.h"

#include <QKeyEvent>

namespace mirka {

namespace {
constexpr int kEnterReadUnits = 249;
}

InputBox::InputBox(QWidget* parent) : QTextEdit(parent) { setAcceptRichText(false); }

std::u16string InputBox::Text() const {
    QString text = toPlainText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toStdU16String();
}

void InputBox::TrackControl(QKeyEvent* event, bool down) {
    if (event->key() != Qt::Key_Control) return;
    quint32 native = event->nativeVirtualKey();
    if (native == kLeftControlKeysym) {
        sawNativeControl = true;
        leftControlDown = down;
    } else if (native == kRightControlKeysym) {
        sawNativeControl = true;
    } else if (!sawNativeControl) {
        // A platform that does not tell the two keys apart: take Ctrl as the left one.
        leftControlDown = down;
    }
}

void InputBox::keyPressEvent(QKeyEvent* event) {
    TrackControl(event, true);
    if (event->key() == Qt::Key_V && (event->modifiers() & Qt::ControlModifier) &&
        leftControlDown && onPasteScreenshot && onPasteScreenshot()) {
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !leftControlDown) {
        std::u16string text = Text().substr(0, kEnterReadUnits);
        if (!text.empty() && text != u"\r\n" && onSend) onSend();
        clear();
        enterClear = true;
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        insertPlainText(QStringLiteral("\n"));  // left Ctrl+Enter: a line break
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void InputBox::keyReleaseEvent(QKeyEvent* event) {
    TrackControl(event, false);
    if (enterClear) {
        clear();
        enterClear = false;
        event->accept();
        return;
    }
    QTextEdit::keyReleaseEvent(event);
}

void InputBox::focusOutEvent(QFocusEvent* event) {
    // A release that happens in another window is never seen here.
    if (!sawNativeControl) leftControlDown = false;
    QTextEdit::focusOutEvent(event);
}

}  // namespace mirka
