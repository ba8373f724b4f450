#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTextCursor>

#include "gui/desktop.h"
#include "gui/font_dialog.h"
#include "gui/input_box.h"
#include "gui/log_view.h"
#include "gui/program_files.h"
#include "gui/talk_window.h"
#include "gui/version_box.h"

namespace mirka {

namespace {

enum MenuId {
    kSaveLog = 40011,
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
    kReadme = 40054,
    kHelp = 40017,
    kVersion = 40018,
};

QString Text(const char16_t* text) {
    return QString::fromStdU16String(text);
}

}  // namespace

void TalkWindow::BuildMenus() {
    auto add = [this](QMenu* menu, const char16_t* text, int id) {
        QAction* action = menu->addAction(Text(text));
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    };
    QMenu* file = menuBar->addMenu(Text(u"ファイル (&F)"));
    add(file, u"ログを保存 (&S)", kSaveLog);
    file->addSeparator();
    add(file, u"接続先変更/再接続 (&C)", kReconnect);
    add(file, u"切断 (&C)", kDisconnect);
    file->addSeparator();
    add(file, u"終了 (&E)", kExit);

    QMenu* edit = menuBar->addMenu(Text(u"編集 (&E)"));
    logMenu = edit->addMenu(Text(u"ログ枠 (&L)"));
    add(logMenu, u"コピー (&C)", kLogCopy);
    logMenu->addSeparator();
    add(logMenu, u"ログをクリア (&D)", kLogClear);
    inputMenu = edit->addMenu(Text(u"文字入力枠 (&I)"));
    add(inputMenu, u"元に戻す (&U)", kInputUndo);
    inputMenu->addSeparator();
    add(inputMenu, u"切り取り (&T)", kInputCut);
    add(inputMenu, u"コピー (&C)", kInputCopy);
    add(inputMenu, u"貼り付け (&P)", kInputPaste);
    inputMenu->addSeparator();
    add(inputMenu, u"削除 (&D)", kInputDelete);

    QMenu* settings = menuBar->addMenu(Text(u"設定 (&P)"));
    add(settings, u"名前を変更する (&N)", kChangeName);
    add(settings, u"ステータスを変更する (&S)", kChangeStatus);
    settings->addSeparator();
    add(settings, u"フォントを変更する (&F)", kChangeFont);
    add(settings, u"保存フォルダを変更 (&S)", kChangeFolder);
    settings->addSeparator();
    add(settings, u"送信速度... (&W)", kSendSpeed);

    QMenu* help = menuBar->addMenu(Text(u"ヘルプ (&H)"));
    add(help, u"readme (&R)", kReadme);
    add(help, u"ヘルプ (&H)", kHelp);
    add(help, u"バージョン情報 (&V)", kVersion);

    // The enabling rules are applied whenever a menu opens.
    for (QMenu* menu : {file, edit, logMenu, inputMenu, settings, help})
        connect(menu, &QMenu::aboutToShow, this, &TalkWindow::UpdateMenuStates);
    connect(logView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateMenuStates();
        logMenu->exec(logView->viewport()->mapToGlobal(at));
    });
    connect(input, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateMenuStates();
        inputMenu->exec(input->viewport()->mapToGlobal(at));
    });
}

QAction* TalkWindow::Action(int id) const {
    for (QAction* action : menuBar->findChildren<QAction*>())
        if (action->data().toInt() == id && !action->menu()) return action;
    return nullptr;
}

void TalkWindow::UpdateMenuStates() {
    bool inputSelection = input->textCursor().hasSelection();
    bool closed = link.LinkState() == LINK_CLOSED;
    const QMimeData* clipboard = QApplication::clipboard()->mimeData();
    Action(kInputCut)->setEnabled(inputSelection);
    Action(kInputCopy)->setEnabled(inputSelection);
    Action(kInputUndo)->setEnabled(input->document()->isModified());
    Action(kInputPaste)->setEnabled(clipboard && !clipboard->formats().isEmpty());
    Action(kLogCopy)->setEnabled(logView->textCursor().hasSelection());
    Action(kReconnect)->setEnabled(closed);
    Action(kDisconnect)->setEnabled(!closed);
}

void TalkWindow::RunCommand(int id) {
    switch (id) {
        case kSaveLog:
            SaveLogWithDialog();
            break;
        case kReconnect:
            Reconnect();
            break;
        case kDisconnect:
            if (link.LinkState() != LINK_CLOSED) RunWhileRepaintingDisconnect();
            break;
        case kExit:
            close();
            break;
        case kLogCopy:
            logView->copy();
            break;
        case kLogClear:
            ClearLog();
            break;
        case kInputUndo:
            input->undo();
            input->document()->setModified(false);
            break;
        case kInputCut:
            input->cut();
            break;
        case kInputCopy:
            input->copy();
            break;
        case kInputPaste:
            input->paste();
            break;
        case kInputDelete:
            input->clear();
            break;
        case kChangeName:
            ChangeName();
            break;
        case kChangeStatus:
            ChangeStatus();
            break;
        case kChangeFont:
            ChooseChatFont(this, values);
            break;
        case kChangeFolder:
            ChangeReceiveFolder();
            break;
        case kSendSpeed:
            ChangeSendSpeed();
            break;
        case kReadme:
            OpenWithDesktop(ProgramFilePath(QStringLiteral("readme.txt")));
            break;
        case kHelp:
            OpenWithDesktop(ProgramFilePath(QStringLiteral("help.html")));
            break;
        case kVersion:
            ShowVersionBox(this);
            break;
        default:
            break;
    }
}

}  // namespace mirka
