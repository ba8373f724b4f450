#pragma once

#include <functional>

#include <QStringList>
#include <QTextEdit>

#include "gui/left_control.h"

namespace mirka {

// The talk window's input box. Enter sends (unless the left Ctrl key is down, which makes
// Enter insert a line break) and empties the box; left Ctrl+V first offers the clipboard's
// picture as a screenshot. Files dropped on it are handed on, never inserted as text.
class InputBox : public QTextEdit {
public:
    explicit InputBox(QWidget* parent);

    // The send action; called for Enter when the box holds more than a lone line break.
    std::function<void()> onSend;
    // Left Ctrl+V: true when it took the clipboard's picture (the key is then swallowed).
    std::function<bool()> onPasteScreenshot;
    // Local files dropped on the box, in drop order.
    std::function<void(const QStringList& paths)> onDropFiles;

    // The box's text with CR LF line breaks.
    std::u16string Text() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool enterClear = false;
};

// The local files of a drag, as native paths; empty when it carries none.
QStringList DroppedLocalFiles(const QMimeData* mime);

}  // namespace mirka
