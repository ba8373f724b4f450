#pragma once

#include <string>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeWidget>

// Finds the texts that do not fit the rectangle they are drawn in: labels, buttons, group
// titles, list headings and list cells of every visible widget under a window.
namespace mirka::test {

inline std::string Describe(const QWidget* widget, const QString& text, int needed, int has) {
    return (widget->metaObject()->className() + QStringLiteral(" \"") + text +
            QStringLiteral("\" needs %1, has %2").arg(needed).arg(has))
        .toStdString();
}

inline void CheckButton(QAbstractButton* button, std::vector<std::string>& cut) {
    if (button->text().isEmpty()) return;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<QRadioButton*>(button)) contents = QStyle::SE_RadioButtonContents;
    if (qobject_cast<QCheckBox*>(button)) contents = QStyle::SE_CheckBoxContents;
    QRect room = button->style()->subElementRect(contents, &option, button);
    QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    if (text.width() > room.width() || text.height() > button->height())
        cut.push_back(Describe(button, button->text(), text.width(), room.width()));
}

inline void CheckLabel(QLabel* label, std::vector<std::string>& cut) {
    if (label->text().isEmpty() || label->pixmap().isNull() == false) return;
    QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                -label->margin());
    int flags = Qt::TextShowMnemonic | (label->wordWrap() ? Qt::TextWordWrap : 0);
    QSize text = label->fontMetrics().boundingRect(room, flags, label->text()).size();
    if (text.width() > room.width() || text.height() > room.height())
        cut.push_back(Describe(label, label->text(), text.width(), room.width()));
}

inline void CheckTree(QTreeWidget* tree, std::vector<std::string>& cut) {
    QHeaderView* header = tree->header();
    for (int c = 0; c < tree->columnCount(); ++c) {
        if (header->sectionSizeHint(c) > header->sectionSize(c))
            cut.push_back(Describe(tree, tree->headerItem()->text(c), header->sectionSizeHint(c),
                                   header->sectionSize(c)));
        for (int r = 0; r < tree->topLevelItemCount(); ++r) {
            QModelIndex index = tree->model()->index(r, c);
            QStyleOptionViewItem option;
            option.initFrom(tree);
            option.font = tree->font();
            int needed = tree->itemDelegate()->sizeHint(option, index).width();
            if (needed > tree->columnWidth(c))
                cut.push_back(
                    Describe(tree, index.data().toString(), needed, tree->columnWidth(c)));
        }
    }
}

inline std::vector<std::string> CutTexts(QWidget* window) {
    std::vector<std::string> cut;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        if (!widget->isVisible()) continue;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) CheckButton(button, cut);
        if (auto* label = qobject_cast<QLabel*>(widget)) CheckLabel(label, cut);
        if (auto* tree = qobject_cast<QTreeWidget*>(widget)) CheckTree(tree, cut);
        if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            int needed = group->fontMetrics().horizontalAdvance(group->title()) + 16;
            if (needed > group->width())
                cut.push_back(Describe(group, group->title(), needed, group->width()));
        }
    }
    return cut;
}

// What covers a control or lies outside its parent: the visible siblings it overlaps.
inline std::vector<std::string> Covered(QWidget* control) {
    std::vector<std::string> found;
    QWidget* parent = control->parentWidget();
    if (!parent->rect().contains(control->geometry()))
        found.push_back(control->objectName().toStdString() + " lies outside its parent");
    for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (sibling != control && sibling->isVisible() &&
            sibling->geometry().intersects(control->geometry()))
            found.push_back(control->objectName().toStdString() + " overlaps " +
                            sibling->metaObject()->className());
    }
    return found;
}

}  // namespace mirka::test
