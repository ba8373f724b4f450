#include "gui/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>

#include "app/log_export.h"
#include "toolkit/message_box.h"

namespace mirka {
namespace {

inline constexpr char16_t kSaveLogFailed[] = u"ログを保存できませんでした。\n";
inline constexpr char16_t kCreatePromptText[] =
    u"\nこのファイルは存在しません。\nファイルを作成しますか?";

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

// The save dialog's question before a file is created, as the system dialog asks it.
bool ConfirmCreate(QWidget* parent, const QString& path) {
    QString text = QDir::toNativeSeparators(path) + ToQ(kCreatePromptText);
    return QMessageBox::question(parent, ToQ(kCreatePromptCaption), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace

// Qt's own dialog sizes its detail columns for short Latin texts: the size ("7 バイト") and
// type columns of a Japanese desktop were cut. They take their contents' width each time a
// folder has been read.
static void FitDetailColumns(QFileDialog& dialog) {
    auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!tree || !model) return;
    QObject::connect(model, &QFileSystemModel::directoryLoaded, tree, [tree] {
        for (int column = 1; column < tree->header()->count(); ++column)
            tree->resizeColumnToContents(column);
    });
}

bool CMyFileDialog::Show() {
    QFileDialog dialog(owner, ToQ(title));
    FitDetailColumns(dialog);
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
    // The dialog starts on the first filter, whatever the proposed name's extension.
    if (!initialName.empty()) dialog.selectFile(ToQ(initialName));
    // A name typed without an extension gets the one of the filter in use, as the user
    // would expect from the list shown.
    if (save && !extension.isEmpty()) {
        if (!filters.isEmpty() && !ExtensionOfPattern(filters.front()).isEmpty())
            dialog.setDefaultSuffix(ExtensionOfPattern(filters.front()));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, extension](const QString& filter) {
                             QString chosen = ExtensionOfPattern(filter);
                             dialog.setDefaultSuffix(chosen.isEmpty() ? extension : chosen);
                         });
    }

    QStringList files;
    for (;;) {
        if (dialog.exec() != QDialog::Accepted) return false;
        files = dialog.selectedFiles();
        if (files.isEmpty()) return false;
        // "No" to the question goes back to the dialog, as the system's does.
        if (!save || !createPrompt || QFileInfo::exists(files.front()) ||
            ConfirmCreate(&dialog, files.front()))
            break;
    }

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
    dialog.createPrompt = true;
    if (!dialog.Show()) return false;

    return SaveLogOrWarn(owner, log, *dialog.GetFirstPath());
}

bool SaveLogOrWarn(QWidget* owner, const LogDocument& log, WStringView path) {
    if (SaveLog(log, path)) return true;
    QMessageBox::warning(owner, ToQ(kErrorCaption), ToQ(kSaveLogFailed) + ToQ(path));
    return false;
}

}  // namespace mirka
