#include "gui/program_files.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTranslator>

#include "common/settings_place.h"
#include "toolkit/file_system.h"

namespace mirka {

namespace {
// Set by the build: the data folder as seen from the installed program's folder.
constexpr char kDataFromBin[] = MIRKA_DATA_FROM_BIN;
constexpr char kShippedMarker[] = "changelog.txt";

QString WithSeparator(QString folder) {
    folder = QDir::toNativeSeparators(folder);
    if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
    return folder;
}
}  // namespace

QString ProgramDataFolder() {
    QString programFolder = QCoreApplication::applicationDirPath();
    QString installed =
        QDir::cleanPath(programFolder + QLatin1Char('/') + QLatin1String(kDataFromBin));
    if (QFileInfo::exists(installed + QLatin1Char('/') + QLatin1String(kShippedMarker)))
        return installed;
    return programFolder;
}

bool RunsInstalled() {
    return ProgramDataFolder() != QCoreApplication::applicationDirPath();
}

QString ProgramFilePath(const QString& name) {
    if (QFileInfo::exists(name)) return QDir::current().absoluteFilePath(name);
    return QDir(ProgramDataFolder()).filePath(name);
}

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

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/mirka-%1.png").arg(size), QSize(size, size));
    return icon;
}

bool LoadQtJapanese(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qt"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace mirka
