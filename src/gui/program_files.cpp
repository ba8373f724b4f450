#include "gui/program_files.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace mirka {

namespace {
// Set by the build: the data folder as seen from the installed program's folder.
constexpr char kDataFromBin[] = MIRKA_DATA_FROM_BIN;
constexpr char kShippedMarker[] = "changelog.txt";
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
