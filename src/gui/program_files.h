#pragma once

#include <QIcon>
#include <QString>

class QApplication;

// Where the program finds what it ships and where it keeps the user's files.
namespace mirka {

// The folder of the shipped files (wave files, readme, help, change log): beside the
// program in a build, <prefix>/share/mirka for a program installed in <prefix>/bin.
QString ProgramDataFolder();
bool RunsInstalled();

// A shipped file by name: the working folder's copy when there is one (a run folder may
// hold its own), otherwise the data folder's.
QString ProgramFilePath(const QString& name);

// Where conf.txt and debug.txt go. A build, or any program started in a folder that holds
// a conf.txt, keeps them in the working folder. An installed program otherwise uses
// $XDG_CONFIG_HOME/mirka (~/.config/mirka), and receives into $XDG_DOWNLOAD_DIR
// (~/Downloads) until the user picks a folder. Call once, before the debug log opens.
void ChooseSettingsPlace();

// The program icon in all its sizes.
QIcon ProgramIcon();

// Qt's own texts (file dialogs, message-box buttons, the text fields' menus) in Japanese,
// from Qt's translations folder; false when the translation is not installed.
bool LoadQtJapanese(QApplication& app);

}  // namespace mirka
