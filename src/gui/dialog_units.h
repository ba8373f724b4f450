#pragma once

#include <QFont>
#include <QRect>

class QLabel;
class QPushButton;

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

// A label placed in dialog units grows to its text where the font needs more room: taller,
// and wider away from its alignment (a right-aligned label grows to the left).
void GrowToText(QLabel* label);

// The narrowest width at which a push button shows its whole text (the style's own hint
// adds a minimum width meant for dialog buttons).
int ButtonTextWidth(const QPushButton* button);

// The dialogs' font: "MS Shell Dlg" 8 where it exists, the platform's dialog font otherwise.
QFont DialogFont();

}  // namespace mirka
