#pragma once

#include <functional>

#include <QTextEdit>

namespace mirka {

// The talk window's input box. Enter sends (unless the left Ctrl key is down, which makes
// Enter insert a line break) and empties the box; left Ctrl+V first offers the clipboard's
// picture as a screenshot.
class InputBox : public QTextEdit {
public:
    explicit InputBox(QWidget* parent);

    // The send action; called for Enter when the box holds more than a lone line break.
    std::function<void()> onSend;
    // Left Ctrl+V: true when it took the clipboard's picture (the key is then swallowed).
    std::function<bool()> onPasteScreenshot;

    // The box's text with CR LF line breaks.
    std::u16string Text() const;
    bool LeftControlDown() const { return leftControlDown; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void TrackControl(QKeyEvent* event, bool down);

    bool leftControlDown = false;
    bool sawNativeControl = false;
    bool enterClear = false;
};

// X11 key symbols of the two Ctrl keys, as QKeyEvent::nativeVirtualKey gives them.
inline constexpr quint32 kLeftControlKeysym = 0xffe3;
inline constexpr quint32 kRightControlKeysym = 0xffe4;

}  // namespace mirka
