#pragma once

#include <QObject>

namespace mirka {

// Whether the left Ctrl key is down. The presses and releases are watched in the whole
// application, not just in the input box, so a release over the log or a press before the
// box had focus still counts; a window that loses the keyboard forgets the key, because
// its release may happen elsewhere. Window thread only.
class LeftControlKey : public QObject {
public:
    // Installs the watcher on the application at the first call.
    static LeftControlKey& Instance();

    // The left key's state for a key event with these modifiers: without Ctrl among them no
    // Ctrl key is down, whatever was seen before.
    bool IsDown(Qt::KeyboardModifiers modifiers) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    LeftControlKey() = default;

    bool leftDown = false;
    // Set once a key event told left and right apart; until then any Ctrl counts as left.
    bool sawNativeKeys = false;
};

// X11 key symbols of the two Ctrl keys, as QKeyEvent::nativeVirtualKey gives them.
inline constexpr quint32 kLeftControlKeysym = 0xffe3;
inline constexpr quint32 kRightControlKeysym = 0xffe4;

}  // namespace mirka
