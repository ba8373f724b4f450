#include "gui/profile_box.h"

#include <QLineEdit>

namespace mirka {

ProfileBox::ProfileBox(QWidget* parent) : QComboBox(parent) {
    // QComboBox turns the end of typing (Return, focus leaving) into an activation when the
    // text names an item. Marking that moment before and after Qt's own handler runs lets
    // the activation it causes be told apart from a real pick.
    auto* edit = new QLineEdit(this);
    connect(edit, &QLineEdit::editingFinished, this, [this] { typingEnded = true; });
    setLineEdit(edit);
    connect(edit, &QLineEdit::editingFinished, this, [this] { typingEnded = false; });
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (!typingEnded && onPicked) onPicked(index);
    });
}

}  // namespace mirka
