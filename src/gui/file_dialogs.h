#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "common/log_document.h"
#include "toolkit/filter_list.h"
#include "toolkit/text.h"

class QWidget;

// The file and folder dialogs over Qt's file dialog: CMyFileDialog for opening and saving,
// CMyFolderDialog for picking a folder, and the log's save command built on them.
namespace mirka {

inline constexpr char16_t kFolderDialogTitle[] = u"フォルダを選択して下さい";
inline constexpr char16_t kCreatePromptCaption[] = u"保存先を指定してください";
// A folder path field holds 259 units and the terminator.
inline constexpr std::size_t kFolderPathUnits = 260;

class CMyFileDialog {
public:
    explicit CMyFileDialog(bool save = false) : save(save) {}
    virtual ~CMyFileDialog() = default;

    // Set before Show.
    QWidget* owner = nullptr;
    WString title;
    std::vector<WString> nameFilters;  // CFilterList::NameFilters()
    WString defaultExtension;          // ".rtf": given to a name typed without one
    WString initialName;
    WString initialFolder;
    bool overwritePrompt = false;
    bool createPrompt = false;       // save dialog: asks before a new file is made
    bool multipleSelection = false;  // open dialog only

    // Runs the dialog modally. True when the user chose a file; the chosen paths are then
    // refilled. Cancelling yields false and keeps the paths of the last choice.
    bool Show();

    std::optional<WString> GetFirstPath() const;
    const std::vector<WString>& Paths() const { return paths; }

private:
    bool save;
    std::vector<WString> paths;
};

class CMyFolderDialog {
public:
    virtual ~CMyFolderDialog() = default;

    // Starts at `path` when it names a folder. On a choice that fits the 260-unit field,
    // replaces `path` and returns its length; otherwise returns 0 and leaves it as it was.
    std::size_t BrowseForFolder(QWidget* owner, WStringView title, WString& path);
};

// Asks where to save the log ("テキスト (*.txt)" or "リッチテキスト (*.rtf)", proposing
// "log.rtf") and writes it: plain text for a ".txt" name, RTF otherwise. A failed write is
// reported in a warning box. True when the log was saved.
bool SaveLogWithDialog(QWidget* owner, const LogDocument& log);

// Writes the log to `path` and shows the warning when that fails; true when saved.
bool SaveLogOrWarn(QWidget* owner, const LogDocument& log, WStringView path);

}  // namespace mirka
