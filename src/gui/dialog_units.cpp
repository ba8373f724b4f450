#include "gui/dialog_units.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace mirka {

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetricsF metrics(font);
    // The classic average: the width of the 52 Latin letters divided by 52.
    baseX = metrics.horizontalAdvance(
                QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
            52.0;
    baseY = metrics.height();
}

int DialogUnits::X(int units) const {
    return static_cast<int>(units * baseX / 4.0 + 0.5);
}
int DialogUnits::Y(int units) const {
    return static_cast<int>(units * baseY / 8.0 + 0.5);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

void GrowToText(QLabel* label) {
    QSize text = label->fontMetrics().size(Qt::TextShowMnemonic, label->text());
    QRect rect = label->geometry();
    if (text.height() > rect.height()) rect.setHeight(text.height());
    if (text.width() > rect.width()) {
        if (label->alignment() & Qt::AlignRight)
            rect.setLeft(rect.right() + 1 - text.width());
        else
            rect.setWidth(text.width());
    }
    label->setGeometry(rect);
}

int ButtonTextWidth(const QPushButton* button) {
    const QStyle* style = button->style();
    int text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
    int margins = 2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                       style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
    return text + margins + 4;
}

QFont DialogFont() {
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("MS Shell Dlg"), font.family()});
    font.setPointSize(8);
    return font;
}

}  // namespace mirka
