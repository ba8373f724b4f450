#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTextCursor>

#include "app/notify_setting.h"
#include "gui/desktop.h"
#include "gui/font_dialog.h"
#include "gui/input_box.h"
#include "gui/log_view.h"
#include "gui/program_files.h"
#include "gui/talk_window.h"
#include "gui/version_box.h"
#include "gui/window_thread.h"

namespace mirka {

namespace {

// The command ids of the menu resource, kept as each action's data.
enum MenuId {
    kSaveLog = 40011,
    kSendFiles = 40072,
    kSendFolder = 40073,
    kOpenReceiveFolder = 40074,
    kReconnect = 40046,
    kDisconnect = 40048,
    kExit = 40013,
    kLogCopy = 40039,
    kLogClear = 40050,
    kInputUndo = 40040,
    kInputCut = 40041,
    kInputCopy = 40042,
    kInputPaste = 40043,
    kInputDelete = 40044,
    kChangeName = 40004,
    kChangeStatus = 40052,
    kChangeFont = 40006,
    kChangeFolder = 40002,
    kSendSpeed = 40060,
    kNotifyArrivals = 40075,
    kReadme = 40054,
    kHelp = 40017,
    kVersion = 40018,
};

QString Text(const char16_t* text) {
    return QString::fromStdU16String(text);
}

QAction* AddCommand(QMenu* menu, const char16_t* text, int id) {
    QAction* action = menu->addAction(Text(text));
    action->setData(id);
    return action;
}

}  // namespace

void TalkWindow::BuildMenus() {
    QMenu* file = menuBar->addMenu(Text(u"ファイル (&F)"));
    saveLogAction = AddCommand(file, u"ログを保存 (&S)", kSaveLog);
    file->addSeparator();
    sendFilesAction = AddCommand(file, u"ファイルを送る… (&O)", kSendFiles);
    sendFolderAction = AddCommand(file, u"フォルダを送る… (&D)", kSendFolder);
    openReceiveFolderAction = AddCommand(file, u"受信フォルダを開く (&R)", kOpenReceiveFolder);
    file->addSeparator();
    reconnectAction = AddCommand(file, u"接続先変更/再接続 (&C)", kReconnect);
    disconnectAction = AddCommand(file, u"切断 (&C)", kDisconnect);
    file->addSeparator();
    exitAction = AddCommand(file, u"終了 (&E)", kExit);

    QMenu* edit = menuBar->addMenu(Text(u"編集 (&E)"));
    logMenu = edit->addMenu(Text(u"ログ枠 (&L)"));
    logCopyAction = AddCommand(logMenu, u"コピー (&C)", kLogCopy);
    logMenu->addSeparator();
    logClearAction = AddCommand(logMenu, u"ログをクリア (&D)", kLogClear);
    inputMenu = edit->addMenu(Text(u"文字入力枠 (&I)"));
    inputUndoAction = AddCommand(inputMenu, u"元に戻す (&U)", kInputUndo);
    inputMenu->addSeparator();
    inputCutAction = AddCommand(inputMenu, u"切り取り (&T)", kInputCut);
    inputCopyAction = AddCommand(inputMenu, u"コピー (&C)", kInputCopy);
    inputPasteAction = AddCommand(inputMenu, u"貼り付け (&P)", kInputPaste);
    inputMenu->addSeparator();
    inputDeleteAction = AddCommand(inputMenu, u"削除 (&D)", kInputDelete);

    QMenu* settings = menuBar->addMenu(Text(u"設定 (&P)"));
    changeNameAction = AddCommand(settings, u"名前を変更する (&N)", kChangeName);
    changeStatusAction = AddCommand(settings, u"ステータスを変更する (&S)", kChangeStatus);
    settings->addSeparator();
    changeFontAction = AddCommand(settings, u"フォントを変更する (&F)", kChangeFont);
    changeFolderAction = AddCommand(settings, u"保存フォルダを変更 (&S)", kChangeFolder);
    settings->addSeparator();
    sendSpeedAction = AddCommand(settings, u"送信速度... (&W)", kSendSpeed);
    notifyAction = AddCommand(settings, u"発言とファイルの到着を通知する (&A)", kNotifyArrivals);
    notifyAction->setCheckable(true);
    notifyAction->setChecked(LoadNotifyArrivals());

    QMenu* help = menuBar->addMenu(Text(u"ヘルプ (&H)"));
    readmeAction = AddCommand(help, u"readme (&R)", kReadme);
    helpAction = AddCommand(help, u"ヘルプ (&H)", kHelp);
    versionAction = AddCommand(help, u"バージョン情報 (&V)", kVersion);

    ConnectMenus();
    for (QMenu* menu : {file, edit, logMenu, inputMenu, settings, help})
        connect(menu, &QMenu::aboutToShow, this, &TalkWindow::UpdateMenuStates);
    // The two frames' right-click menus are the edit menu's submenus.
    connect(logView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateMenuStates();
        logMenu->exec(logView->viewport()->mapToGlobal(at));
    });
    connect(input, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateMenuStates();
        inputMenu->exec(input->viewport()->mapToGlobal(at));
    });
}

void TalkWindow::ConnectMenus() {
    connect(saveLogAction, &QAction::triggered, this, &TalkWindow::SaveLogWithDialog);
    connect(sendFilesAction, &QAction::triggered, this, &TalkWindow::SendFilesWithDialog);
    connect(sendFolderAction, &QAction::triggered, this, &TalkWindow::SendFolderWithDialog);
    connect(openReceiveFolderAction, &QAction::triggered, this, &TalkWindow::OpenReceiveFolder);
    connect(reconnectAction, &QAction::triggered, this, &TalkWindow::Reconnect);
    connect(disconnectAction, &QAction::triggered, this, &TalkWindow::DisconnectLink);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    connect(logCopyAction, &QAction::triggered, logView, &QTextEdit::copy);
    connect(logClearAction, &QAction::triggered, this, &TalkWindow::ClearLog);
    connect(inputUndoAction, &QAction::triggered, this, &TalkWindow::UndoInput);
    connect(inputCutAction, &QAction::triggered, input, &QTextEdit::cut);
    connect(inputCopyAction, &QAction::triggered, input, &QTextEdit::copy);
    connect(inputPasteAction, &QAction::triggered, input, &QTextEdit::paste);
    connect(inputDeleteAction, &QAction::triggered, input, &QTextEdit::clear);
    connect(changeNameAction, &QAction::triggered, this, &TalkWindow::ChangeName);
    connect(changeStatusAction, &QAction::triggered, this, &TalkWindow::ChangeStatus);
    connect(changeFontAction, &QAction::triggered, this, &TalkWindow::ChangeChatFont);
    connect(changeFolderAction, &QAction::triggered, this, &TalkWindow::ChangeReceiveFolder);
    connect(sendSpeedAction, &QAction::triggered, this, &TalkWindow::ChangeSendSpeed);
    connect(notifyAction, &QAction::toggled, this, &TalkWindow::SwitchNotifications);
    connect(readmeAction, &QAction::triggered, this, &TalkWindow::OpenReadme);
    connect(helpAction, &QAction::triggered, this, &TalkWindow::OpenHelp);
    connect(versionAction, &QAction::triggered, this, &TalkWindow::ShowVersion);
}

QAction* TalkWindow::Action(int id) const {
    for (QAction* action : menuBar->findChildren<QAction*>())
        if (action->data().toInt() == id && !action->menu()) return action;
    return nullptr;
}

void TalkWindow::UpdateMenuStates() {
    AssertWindowThread("TalkWindow::UpdateMenuStates");
    bool inputSelection = input->textCursor().hasSelection();
    bool closed = link.LinkState() == LINK_CLOSED;
    const QMimeData* clipboard = QApplication::clipboard()->mimeData();
    inputCutAction->setEnabled(inputSelection);
    inputCopyAction->setEnabled(inputSelection);
    inputUndoAction->setEnabled(input->document()->isModified());
    inputPasteAction->setEnabled(clipboard && !clipboard->formats().isEmpty());
    logCopyAction->setEnabled(logView->textCursor().hasSelection());
    reconnectAction->setEnabled(closed);
    // A file offered while unlinked could only be cancelled at once.
    sendFilesAction->setEnabled(!closed);
    sendFolderAction->setEnabled(!closed);
    disconnectAction->setEnabled(!closed);
}

void TalkWindow::SwitchNotifications(bool on) {
    SaveNotifyArrivals(on);
}

void TalkWindow::DisconnectLink() {
    if (link.LinkState() != LINK_CLOSED) RunWhileRepaintingDisconnect();
}

void TalkWindow::UndoInput() {
    input->undo();
    input->document()->setModified(false);
}

void TalkWindow::ChangeChatFont() {
    ChooseChatFont(this, values);
}

void TalkWindow::OpenReadme() {
    OpenWithDesktop(ProgramFilePath(QStringLiteral("readme.txt")));
}

void TalkWindow::OpenHelp() {
    OpenWithDesktop(ProgramFilePath(QStringLiteral("help.html")));
}

void TalkWindow::ShowVersion() {
    ShowVersionBox(this);
}

}  // namespace mirka
