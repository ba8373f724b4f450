#pragma once

#include <QKeyEvent>

namespace mirka {

// Enter and Esc would end a QDialog; this program's windows end only through their own
// buttons and menus, so both keys are taken here and go no further.
inline bool SwallowDialogEndKey(QKeyEvent* event) {
    int key = event->key();
    if (key != Qt::Key_Escape && key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    event->accept();
    return true;
}

}  // namespace mirka
