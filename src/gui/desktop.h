#pragma once

#include <QString>

class QWidget;

// What the program asks of the desktop: opening files and links with their default
// application, and playing the short wave sounds.
namespace mirka {

bool OpenWithDesktop(const QString& pathOrUrl);
// Plays a shipped wave file (the working folder's copy first), without waiting.
void PlayWaveFile(const QString& fileName);
// Caption and taskbar attention.
void FlashWindow(QWidget* window);

}  // namespace mirka
