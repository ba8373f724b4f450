#include "gui/desktop.h"
#include "gui/program_files.h"

#include <windows.h>
// After windows.h, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include <string>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <QWidget>

namespace mirka {

namespace {
std::wstring Wide(const QString& text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.utf16()), text.size());
}
}  // namespace

// The shell's own "open": a file with the program its type is registered to, a folder in
// Explorer, a link in the browser. Names go to the system in UTF-16 whatever the code page.
bool OpenWithDesktop(const QString& pathOrUrl) {
    QUrl url(pathOrUrl);
    QString target = pathOrUrl;
    // A drive letter parses as a one-letter scheme: that is a path, not a link.
    if (url.scheme().isEmpty() || url.scheme().size() == 1)
        target = QDir::toNativeSeparators(QDir::current().absoluteFilePath(pathOrUrl));
    else if (url.isLocalFile())
        target = QDir::toNativeSeparators(url.toLocalFile());
    // Above 32 is success; the shell shows its own message when no program is registered.
    auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", Wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

// The system's own wave player: it needs no audio stack of Qt's, plays asynchronously, and
// a new sound cuts the one still playing, as the original program's did.
void PlayWaveFile(const QString& fileName) {
    QString path = ProgramFilePath(fileName);
    if (!QFile::exists(path)) return;
    ::PlaySoundW(Wide(QDir::toNativeSeparators(path)).c_str(), nullptr,
                 SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

void FlashWindow(QWidget* window) {
    if (window) QApplication::alert(window->window(), 0);
}

}  // namespace mirka
