#include "gui/dialog_units.h"

#include <QApplication>
#include <QFontMetricsF>

namespace mirka {

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetricsF metrics(font);
    // The classic average: the width of the 52 Latin letters divided by 52.
    baseX = metrics.horizontalAdvance(
                QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    baseY = metrics.height();
}

int DialogUnits::X(int units) const { return static_cast<int>(units * baseX / 4.0 + 0.5); }
int DialogUnits::Y(int units) const { return static_cast<int>(units * baseY / 8.0 + 0.5); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QFont DialogFont() {
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("MS Shell Dlg"), font.family()});
    font.setPointSize(8);
    return font;
}

}  // namespace mirka
