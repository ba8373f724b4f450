#pragma once

#include <QFont>
#include <QRect>

// Dialog units to pixels with a font's metrics: x by a quarter of the average character
// width, y by an eighth of the height, so windows keep their proportions.
namespace mirka {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;

private:
    double baseX;
    double baseY;
};

// The dialogs' font: "MS Shell Dlg" 8 where it exists, the platform's dialog font otherwise.
QFont DialogFont();

}  // namespace mirka
