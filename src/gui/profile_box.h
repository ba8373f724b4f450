#pragma once

#include <functional>

#include <QComboBox>

namespace mirka {

// The login window's editable profile box. Names are matched exactly, so the box has no
// completer (Qt's ignores case and completes prefixes), and only a pick from the list or
// the arrow keys chooses a profile: typed text, even an existing name, changes nothing else.
class ProfileBox : public QComboBox {
public:
    explicit ProfileBox(QWidget* parent);

    // Called with the index of a profile the user picked.
    std::function<void(int index)> onPicked;

private:
    bool typingEnded = false;
};

}  // namespace mirka
