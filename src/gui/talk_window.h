#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "app/chat_commands.h"
#include "common/log_document.h"
#include "common/program_values.h"
#include "link/task_manager.h"
#include "link/window_port.h"
#include "transfer_list/transfer_rows.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QSystemTrayIcon;

namespace mirka {

class InputBox;
class LogView;
class TransferListView;

// The program's main window: the log, the input box, the send and search buttons on the
// TALK page, the transfer list on the FILE page, and the menus. It is the link's window:
// worker threads report through the TalkWindowPort calls, each queued to this thread.
class TalkWindow : public QDialog, public TalkWindowPort, public ChatCommandTarget {
    Q_OBJECT

public:
    struct Hooks {
        // Runs the login window for a reconnect; true when it started a link.
        std::function<bool(QWidget* owner)> reconnect;
        // Runs a web search; its result goes out as a text line.
        std::function<void(const std::string& words)> search;
        // Left Ctrl+V: takes the clipboard's picture; the path of a file to send, or empty.
        std::function<WString(QWidget* owner)> pasteScreenshot;
        // Opens a file or a folder with the desktop's application (OpenWithDesktop when
        // empty).
        std::function<void(const QString& path)> openPath;
        // Shows a desktop notification (the tray icon's message when empty).
        std::function<void(const QString& title, const QString& text)> notify;
    };

    // Window thread only, like every widget.
    TalkWindow(TaskManager& link, ProgramValues& values, std::string ownAddress, Hooks hooks,
               QWidget* parent = nullptr);
    ~TalkWindow() override;

    // Window thread only; the ones that change what the user sees assert it in debug builds.
    enum class Page { Talk, File };
    void ShowPage(Page newPage);
    // Sends the input box's text (the send button).
    void SendAction();
    // Queues each path for sending, with its row, in the order given.
    void SendFiles(const QStringList& paths);
    // The FILE page's and the menu's ways to send: the file dialog (several files at once)
    // and the folder dialog.
    void SendFilesWithDialog();
    void SendFolderWithDialog();
    void OpenReceiveFolder();
    // A row menu command on the row (the list's popup routes here).
    void OnTransferCommand(int command, int row);
    // Whether a transfer still runs, waits or is paused: quitting asks first then.
    bool TransferUnderWay() const;
    LogDocument& Log() { return log; }
    InputBox* Input() { return input; }
    // The menu action with the given command id, which each action keeps as its data.
    QAction* Action(int id) const;
    // The enabling rules, applied whenever a menu opens.
    void UpdateMenuStates();
    // What the tray icon's tooltip says of the link now.
    QString TrayText() const;

    // The transfer list; window thread only.
    TransferRows& Transfers() { return rows; }

    // TalkWindowPort, called from any thread; each call is queued to this window's thread.
    void AppendLogMessage(std::vector<LogRun> runs) override;
    void SetPeerStatusText(const WString& text) override;
    void SetWindowTitle(const WString& title) override;
    void ShowLinkEvent(LinkEvent event) override;
    void PostTransferFact(TransferFact fact) override;
    void ShowLinkClosed() override;

    // ChatCommandTarget: window thread only (the log's writers assert it in debug builds).
    void AppendLog(const WString& text) override;
    bool SoundOn() const override;
    void SetSoundOn(bool on) override;
    void SetOwnStatus(const WString& text) override;
    WString UserName() const override;
    void ClearLog() override;
    void SaveLogWithDialog() override;
    void RunWebSearch(const std::string& words) override;
    void QueueStatusMessage(const WString& statusText) override;
    void QueueChatLine(const WString& text, const WString& name) override;
    void SetSendWait(std::uint16_t milliseconds) override;
    void SetSendBufSize(std::int32_t bytes) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void ConnectMenus();
    void ApplyLayout();
    int Pixels(int pixelsAt96Dpi) const;
    void OpenPath(const QString& path);
    // What the opening message and the title add on an encrypted link.
    WString PrivacyLine() const;
    QString TitleText(const WString& title) const;
    // Shows the title's encryption suffix and the encryption mark as the link is now.
    void ShowLinkPrivacy();
    void RunWhileRepaintingDisconnect();
    void Search();
    // A chat line or a received file, told by a desktop notification while the window is
    // not the active one (and the user wants it).
    void AnnounceArrival(LinkEvent event);
    // The tray icon's picture and tooltip follow the link.
    void ShowLinkInTray();

private slots:
    // The menu commands; the ones a widget does alone connect to the widget instead.
    void Reconnect();
    void DisconnectLink();
    void UndoInput();
    void ChangeName();
    void ChangeStatus();
    void ChangeChatFont();
    void ChangeReceiveFolder();
    void ChangeSendSpeed();
    void SwitchNotifications(bool on);
    void OpenReadme();
    void OpenHelp();
    void ShowVersion();

private:
    TaskManager& link;
    ProgramValues& values;
    Hooks hooks;
    LogDocument log;
    TransferRows rows;
    Page page = Page::Talk;
    // The user ended the link: the end's line says so (window thread only).
    bool ownDisconnect = false;
    // The peer's disconnect request was logged: its end needs no second line.
    bool peerEndedLink = false;
    // Files received since the last completion event, for its notification.
    QStringList arrivedFiles;
    // Receptions saved under another name than offered, told after their completion line.
    std::vector<WString> renamedArrivals;
    QSystemTrayIcon* tray = nullptr;

    QMenuBar* menuBar = nullptr;
    QWidget* client = nullptr;
    QPushButton* talkButton = nullptr;
    QPushButton* fileButton = nullptr;
    QPushButton* helpButton = nullptr;
    QLabel* statusLine = nullptr;
    // The encryption mark at the foot of the window: only this program writes there, unlike
    // the title, the status line and the log, which show what the peer sends.
    QWidget* privacyMark = nullptr;
    LogView* logView = nullptr;
    InputBox* input = nullptr;
    QPushButton* sendButton = nullptr;
    QPushButton* searchButton = nullptr;
    TransferListView* transferList = nullptr;
    QPushButton* sendFilesButton = nullptr;
    QPushButton* sendFolderButton = nullptr;
    QPushButton* openFolderButton = nullptr;
    QMenu* logMenu = nullptr;
    QMenu* inputMenu = nullptr;

    // The menu commands, in menu order.
    QAction* saveLogAction = nullptr;
    QAction* sendFilesAction = nullptr;
    QAction* sendFolderAction = nullptr;
    QAction* openReceiveFolderAction = nullptr;
    QAction* reconnectAction = nullptr;
    QAction* disconnectAction = nullptr;
    QAction* exitAction = nullptr;
    QAction* logCopyAction = nullptr;
    QAction* logClearAction = nullptr;
    QAction* inputUndoAction = nullptr;
    QAction* inputCutAction = nullptr;
    QAction* inputCopyAction = nullptr;
    QAction* inputPasteAction = nullptr;
    QAction* inputDeleteAction = nullptr;
    QAction* changeNameAction = nullptr;
    QAction* changeStatusAction = nullptr;
    QAction* changeFontAction = nullptr;
    QAction* changeFolderAction = nullptr;
    QAction* sendSpeedAction = nullptr;
    QAction* notifyAction = nullptr;
    QAction* readmeAction = nullptr;
    QAction* helpAction = nullptr;
    QAction* versionAction = nullptr;
};

}  // namespace mirka
