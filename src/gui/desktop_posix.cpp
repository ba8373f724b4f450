#include "gui/desktop.h"
#include "gui/program_files.h"

#include <map>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QSoundEffect>
#include <QUrl>
#include <QWidget>

namespace mirka {

bool OpenWithDesktop(const QString& pathOrUrl) {
    QUrl url(pathOrUrl);
    if (url.scheme().isEmpty() || url.scheme().size() == 1)
        url = QUrl::fromLocalFile(QDir::current().absoluteFilePath(pathOrUrl));
    return QDesktopServices::openUrl(url);
}

void PlayWaveFile(const QString& fileName) {
    // One effect per file, made on the window thread and kept for the next time.
    // The effects belong to the application, so they go before it does.
    static std::map<QString, QSoundEffect*> effects;
    QString path = ProgramFilePath(fileName);
    if (!QFile::exists(path)) return;
    QSoundEffect*& effect = effects[path];
    if (!effect) {
        effect = new QSoundEffect(qApp);
        effect->setSource(QUrl::fromLocalFile(path));
    }
    effect->play();
}

void FlashWindow(QWidget* window) {
    if (window) QApplication::alert(window->window(), 0);
}

}  // namespace mirka
