#include "gui/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "app/log_export.h"
#include "toolkit/message_box.h"

namespace mirka {
namespace {

inline constexpr char16_t kSaveLogFailed[] = u"ログを保存できませんでした。\n";

QString ToQ(WStringView text) {
    return QString::fromStdU16String(WString(text));
}

// "*.txt" → "txt"; none for patterns that are not a single extension.
QString ExtensionOfPattern(const QString& filter) {
    int open = filter.lastIndexOf(QLatin1Char('('));
    int close = filter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close <= open) return {};
    QString pattern = filter.mid(open + 1, close - open - 1);
    if (!pattern.startsWith(QStringLiteral("*.")) || pattern.contains(QLatin1Char(' '))) return {};
    QString extension = pattern.mid(2);
    if (extension.contains(QLatin1Char('*')) || extension.contains(QLatin1Char('?'))) return {};
    return extension;
}

QString FilterForName(const QStringList& filters, const QString& name) {
    QString extension = QFileInfo(name).suffix();
    if (extension.isEmpty()) return {};
    for (const auto& filter : filters) {
        if (ExtensionOfPattern(filter).compare(extension, Qt::CaseInsensitive) == 0) return filter;
    }
    return {};
}

}  // namespace

bool CMyFileDialog::Show() {
    QFileDialog dialog(owner, ToQ(title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save) {
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setFileMode(multipleSelection ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
    }
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !overwritePrompt);

    QStringList filters;
    for (const auto& filter : nameFilters) filters << ToQ(filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    QString extension = ToQ(defaultExtension);
    if (extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
    if (!extension.isEmpty()) dialog.setDefaultSuffix(extension);

    if (!initialFolder.empty()) dialog.setDirectory(ToQ(initialFolder));
    if (!initialName.empty()) {
        QString name = ToQ(initialName);
        // Start on the filter that lists the proposed name's kind of file.
        QString matching = FilterForName(filters, name);
        if (!matching.isEmpty()) dialog.selectNameFilter(matching);
        dialog.selectFile(name);
    }
    // A name typed without an extension gets the one of the filter in use, as the user
    // would expect from the list shown.
    if (save && !extension.isEmpty()) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, extension](const QString& filter) {
                             QString chosen = ExtensionOfPattern(filter);
                             dialog.setDefaultSuffix(chosen.isEmpty() ? extension : chosen);
                         });
    }

    if (dialog.exec() != QDialog::Accepted) return false;
    QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;

    std::vector<WString> chosen;
    if (files.size() == 1) {
        chosen.push_back(QDir::toNativeSeparators(files.front()).toStdU16String());
    } else {
        // A multiple selection is one folder and names in it.
        WString folder =
            QDir::toNativeSeparators(QFileInfo(files.front()).absolutePath()).toStdU16String();
        std::vector<WString> names;
        for (const auto& file : files) names.push_back(QFileInfo(file).fileName().toStdU16String());
        chosen = ComposeSelectedPaths(folder, names);
    }
    if (chosen.empty()) return false;
    paths = std::move(chosen);
    return true;
}

std::optional<WString> CMyFileDialog::GetFirstPath() const {
    if (paths.empty()) return std::nullopt;
    return paths.front();
}

std::size_t CMyFolderDialog::BrowseForFolder(QWidget* owner, WStringView title, WString& path) {
    QString start;
    if (!path.empty() && QFileInfo(ToQ(path)).isDir()) start = ToQ(path);
    QString chosen = QFileDialog::getExistingDirectory(owner, ToQ(title), start);
    if (chosen.isEmpty()) return 0;
    WString result = QDir::toNativeSeparators(chosen).toStdU16String();
    // A cut folder path would name another folder.
    if (result.size() >= kFolderPathUnits) return 0;
    path = std::move(result);
    return path.size();
}

bool SaveLogWithDialog(QWidget* owner, const LogDocument& log) {
    CFilterList filters;
    filters.AddFilter(kSaveLogTextFilter, kSaveLogTextPattern);
    filters.AddFilter(kSaveLogRtfFilter, kSaveLogRtfPattern);

    CMyFileDialog dialog(true);
    dialog.owner = owner;
    dialog.title = kSaveLogTitle;
    dialog.nameFilters = filters.NameFilters();
    dialog.defaultExtension = kSaveLogDefaultExtension;
    dialog.initialName = kSaveLogInitialName;
    dialog.overwritePrompt = true;
    if (!dialog.Show()) return false;

    return SaveLogOrWarn(owner, log, *dialog.GetFirstPath());
}

bool SaveLogOrWarn(QWidget* owner, const LogDocument& log, WStringView path) {
    if (SaveLog(log, path)) return true;
    QMessageBox::warning(owner, ToQ(kErrorCaption), ToQ(kSaveLogFailed) + ToQ(path));
    return false;
}

}  // namespace mirka
