#include "gui/program_files.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/settings_place.h"
#include "toolkit/file_system.h"

namespace mirka {

namespace {
QString WithSeparator(QString folder) {
    folder = QDir::toNativeSeparators(folder);
    if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
    return folder;
}
}  // namespace

void ChooseSettingsPlace() {
    if (!RunsInstalled() || QFileInfo::exists(QStringLiteral("conf.txt"))) return;
    QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (configHome.isEmpty()) return;
    QString folder = QDir(configHome).filePath(QStringLiteral("mirka"));
    if (!QDir().mkpath(folder)) return;
    QString downloads = qEnvironmentVariable("XDG_DOWNLOAD_DIR");
    if (downloads.isEmpty())
        downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty()) downloads = QDir::home().filePath(QStringLiteral("Downloads"));
    SetSettingsPlace(ToFsPath(folder.toStdU16String()), WithSeparator(downloads).toStdU16String());
}

}  // namespace mirka
