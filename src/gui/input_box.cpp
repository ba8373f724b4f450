#include "gui/input_box.h"

#include <QDir>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QSyntaxHighlighter>
#include <QUrl>

#include "app/link_detection.h"
#include "gui/left_control.h"

namespace mirka {

namespace {
constexpr int kEnterReadUnits = 249;

// Shows the web addresses typed into the box as links, as the log does.
class LinkHighlighter : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        QTextCharFormat link;
        link.setFontUnderline(true);
        link.setForeground(QColor(0, 0, 255));
        for (const LinkSpan& span : FindLinks(text.toStdU16String()))
            setFormat(static_cast<int>(span.start), static_cast<int>(span.length), link);
    }
};
}  // namespace

QStringList DroppedLocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << QDir::toNativeSeparators(url.toLocalFile());
    return paths;
}

InputBox::InputBox(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(false);
    new LinkHighlighter(document());
    LeftControlKey::Instance();  // starts watching before the first key
}

std::u16string InputBox::Text() const {
    QString text = toPlainText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toStdU16String();
}

void InputBox::keyPressEvent(QKeyEvent* event) {
    bool leftControl = LeftControlKey::Instance().IsDown(event->modifiers());
    if (event->key() == Qt::Key_V && leftControl && onPasteScreenshot && onPasteScreenshot()) {
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !leftControl) {
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
    if (enterClear) {
        clear();
        enterClear = false;
        event->accept();
        return;
    }
    QTextEdit::keyReleaseEvent(event);
}

void InputBox::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedLocalFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return;
    }
    QTextEdit::dragEnterEvent(event);
}

void InputBox::dragMoveEvent(QDragMoveEvent* event) {
    if (!DroppedLocalFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return;
    }
    QTextEdit::dragMoveEvent(event);
}

void InputBox::dropEvent(QDropEvent* event) {
    QStringList paths = DroppedLocalFiles(event->mimeData());
    if (paths.isEmpty()) {
        QTextEdit::dropEvent(event);
        return;
    }
    if (onDropFiles) onDropFiles(paths);
    event->acceptProposedAction();
}

}  // namespace mirka
