#include "gui/talk_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QUrl>

#include "app/settings.h"
#include "common/log_message.h"
#include "gui/blocking_call.h"
#include "gui/desktop.h"
#include "gui/dialog_keys.h"
#include "gui/dialog_units.h"
#include "gui/file_dialogs.h"
#include "gui/input_box.h"
#include "gui/input_dialog.h"
#include "gui/log_view.h"
#include "gui/program_files.h"
#include "gui/send_speed_dialog.h"
#include "gui/transfer_list_view.h"
#include "gui/window_thread.h"
#include "search/search_text.h"
#include "toolkit/message_box.h"

namespace mirka {

namespace {
constexpr std::size_t kOpeningMessageCapacity = 1024;
constexpr std::size_t kDroppedPathUnits = 259;

// What the user is asked before a running transfer is deleted or the program quits under
// one: what happens to the partial file.
constexpr char16_t kConfirmCaption[] = u"確認";
constexpr char16_t kConfirmDelete[] =
    u"転送中のファイルを削除しますか?\n"
    u"受信途中のファイルも削除されます。途中までのファイルを残して後で再開するには、"
    u"「キャンセル」を選んでください。";
constexpr char16_t kConfirmQuit[] =
    u"転送中のファイルがあります。終了しますか?\n"
    u"受信途中のファイルは残り、同じファイルをもう一度送ると続きから再開します。";

constexpr char16_t kNameHint[] =
    u"相手に見える名前は「設定」メニューの「名前を変更する」で変えられます。\r\n";
constexpr char16_t kNotSent[] =
    u"SystemError:: "
    u"\r\n接続していないため、送信しませんでした。入力した文字はそのまま残っています\r\n";

bool Confirm(QWidget* owner, const char16_t* text) {
    return QMessageBox::question(
               owner, QString::fromStdU16String(kConfirmCaption), QString::fromStdU16String(text),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

// A padlock drawn here rather than a picture file or an emoji, which the fonts may lack.
QPixmap LockPicture(int side, qreal ratio) {
    QPixmap picture(QSize(side, side) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor green(0x2e, 0x7d, 0x32);
    qreal s = side;
    QPen shackle(green, s * 0.12);
    shackle.setCapStyle(Qt::FlatCap);
    painter.setPen(shackle);
    painter.drawArc(QRectF(s * 0.3, s * 0.1, s * 0.4, s * 0.4), 0, 180 * 16);
    painter.drawLine(QPointF(s * 0.3, s * 0.3), QPointF(s * 0.3, s * 0.5));
    painter.drawLine(QPointF(s * 0.7, s * 0.3), QPointF(s * 0.7, s * 0.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(green);
    painter.drawRoundedRect(QRectF(s * 0.16, s * 0.45, s * 0.68, s * 0.48), s * 0.08, s * 0.08);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(s * 0.5, s * 0.64), s * 0.07, s * 0.07);
    painter.drawRect(QRectF(s * 0.47, s * 0.66, s * 0.06, s * 0.15));
    return picture;
}
}  // namespace

TalkWindow::TalkWindow(TaskManager& link, ProgramValues& values, std::string ownAddress,
                       Hooks hooks, QWidget* parent)
    : QDialog(parent), link(link), values(values), hooks(std::move(hooks)) {
    // The dialog font on every control, not only in the sizes worked out from it.
    setFont(DialogFont());
    DialogUnits units(font());
    resize(units.X(361), units.Y(194));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setAcceptDrops(true);
    BuildControls();
    BuildMenus();

    // The opening message, then this window takes the link's output.
    // A user who never set a name is told where to: the peer sees the built-in one.
    bool builtInName = values.UserName() == ProgramValues().UserName();
    AppendLog(Format(kOpeningMessageCapacity,
                     u"System Message: \r\n接続確立 [my%S <-> connect%S]\r\n%s%s"
                     u"/help と入力することで、有効なチャットコマンドが表示されます。\r\n%s",
                     ownAddress, link.PeerAddressText(), link.PeerFamilyLine(), PrivacyLine(),
                     builtInName ? kNameHint : u""));
    link.ownerWindow = this;
    setWindowTitle(QString::fromStdU16String(kProgramTitle));
    tray = new QSystemTrayIcon(this);
    connect(tray, &QSystemTrayIcon::activated, this, [this] {
        showNormal();
        activateWindow();
    });
    if (QSystemTrayIcon::isSystemTrayAvailable()) tray->show();
    ShowLinkPrivacy();
    ShowPage(Page::Talk);
    ApplyLayout();
}

TalkWindow::~TalkWindow() {
    // Worker threads stop reporting here before the window goes: this waits for any call
    // a worker is making on it.
    link.DetachWindow(this);
    // The views go before the log and the rows they show.
    delete client;
}

void TalkWindow::BuildControls() {
    menuBar = new QMenuBar(this);
    client = new QWidget(this);
    talkButton = new QPushButton(QStringLiteral("TALK"), client);
    fileButton = new QPushButton(QStringLiteral("FILE"), client);
    helpButton = new QPushButton(QStringLiteral("?"), client);
    statusLine = new QLabel(client);
    statusLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (QPushButton* button : {talkButton, fileButton, helpButton}) button->setAutoDefault(false);

    privacyMark = new QWidget(client);
    privacyMark->setObjectName(QStringLiteral("privacyMark"));
    auto* lock = new QLabel(privacyMark);
    auto* markText = new QLabel(QString::fromStdU16String(u"暗号化"), privacyMark);
    lock->setPixmap(LockPicture(markText->fontMetrics().height(), devicePixelRatioF()));
    auto* markRow = new QHBoxLayout(privacyMark);
    markRow->setContentsMargins(0, 0, 0, 0);
    markRow->setSpacing(Pixels(3));
    markRow->addWidget(lock);
    markRow->addWidget(markText);
    privacyMark->setToolTip(QString::fromStdU16String(
        u"この接続は合言葉で暗号化されています。相手が同じ合言葉を知っていることを確かめました。"));
    privacyMark->setAccessibleName(markText->text());
    privacyMark->setAccessibleDescription(privacyMark->toolTip());
    privacyMark->hide();

    logView = new LogView(log, client);
    logView->setContextMenuPolicy(Qt::CustomContextMenu);
    input = new InputBox(client);
    input->setContextMenuPolicy(Qt::CustomContextMenu);
    input->onSend = [this] { SendAction(); };
    input->onDropFiles = [this](const QStringList& paths) { SendFiles(paths); };
    input->onPasteScreenshot = [this] {
        if (!hooks.pasteScreenshot) return false;
        WString path = hooks.pasteScreenshot(this);
        if (path.empty()) return false;
        SendFiles({QString::fromStdU16String(path)});
        return true;
    };
    sendButton = new QPushButton(QString::fromStdU16String(u"送信 (&S)"), client);
    searchButton = new QPushButton(QString::fromStdU16String(u"検索 (&G)"), client);
    sendButton->setAutoDefault(false);
    searchButton->setAutoDefault(false);
    transferList = new TransferListView(rows, client);
    transferList->hide();
    transferList->SetOpenFolder(QString::fromStdU16String(values.ReceiveFolder()));
    transferList->SetCommandHandler(
        [this](int command, int row) { OnTransferCommand(command, row); });
    sendFilesButton = new QPushButton(QString::fromStdU16String(u"ファイルを送る…"), client);
    sendFolderButton = new QPushButton(QString::fromStdU16String(u"フォルダを送る…"), client);
    openFolderButton = new QPushButton(QString::fromStdU16String(u"受信フォルダを開く"), client);
    for (QPushButton* button : {sendFilesButton, sendFolderButton, openFolderButton}) {
        button->setAutoDefault(false);
        button->hide();
    }
    connect(sendFilesButton, &QPushButton::clicked, this, &TalkWindow::SendFilesWithDialog);
    connect(sendFolderButton, &QPushButton::clicked, this, &TalkWindow::SendFolderWithDialog);
    connect(openFolderButton, &QPushButton::clicked, this, &TalkWindow::OpenReceiveFolder);

    connect(talkButton, &QPushButton::clicked, this, [this] { ShowPage(Page::Talk); });
    connect(fileButton, &QPushButton::clicked, this, [this] { ShowPage(Page::File); });
    connect(helpButton, &QPushButton::clicked, this, [this] { ShowCommandList(*this); });
    connect(sendButton, &QPushButton::clicked, this, [this] { SendAction(); });
    connect(searchButton, &QPushButton::clicked, this, [this] { Search(); });
}

int TalkWindow::Pixels(int pixelsAt96Dpi) const {
    // The placement's pixel figures are for a 96-DPI desktop; a larger font setting widens
    // them alike.
    return static_cast<int>(pixelsAt96Dpi * std::max(1.0, logicalDpiY() / 96.0) + 0.5);
}

void TalkWindow::ApplyLayout() {
    // Placed from the window's outer size, so the controls keep their margins. Buttons are
    // never narrower or lower than their texts need.
    QSize outer = frameGeometry().size();
    if (outer.width() < size().width() || outer.height() < size().height()) outer = size();
    int w = outer.width();
    int h = outer.height();
    int menuHeight = menuBar->sizeHint().height();
    menuBar->setGeometry(0, 0, width(), menuHeight);
    client->setGeometry(0, menuHeight, width(), height() - menuHeight);
    auto place = [](QWidget* widget, int left, int top, int right, int bottom) {
        widget->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
    };

    DialogUnits units(font());
    int rowHeight = units.Y(12);
    for (QPushButton* button : {talkButton, fileButton, helpButton})
        rowHeight = std::max(rowHeight, button->sizeHint().height());
    int x = 0;
    for (QPushButton* button : {talkButton, fileButton, helpButton}) {
        int buttonWidth = std::max(units.X(20), ButtonTextWidth(button));
        button->setGeometry(x, 0, buttonWidth, rowHeight);
        x += buttonWidth;
    }
    statusLine->setGeometry(x, 0, std::max(units.X(216), w - x - Pixels(20)), rowHeight);

    // The encryption mark keeps a strip at the foot of the inner area, whether it shows or
    // not, so the controls above do not move when the link closes.
    QSize markSize = privacyMark->sizeHint();
    int markTop = height() - menuHeight - Pixels(2) - markSize.height();
    privacyMark->setGeometry(Pixels(10), markTop, markSize.width(), markSize.height());

    int top = std::max(Pixels(30), rowHeight + Pixels(10));
    int right = w - Pixels(20);
    int bottom = std::min(h - Pixels(60), markTop - Pixels(4));
    int buttonWidth =
        std::max({Pixels(60), ButtonTextWidth(sendButton), ButtonTextWidth(searchButton)});
    int searchTop = bottom - std::max(Pixels(20), searchButton->sizeHint().height());
    int sendTop = searchTop - std::max(Pixels(30), sendButton->sizeHint().height());
    place(logView, Pixels(10), top, right, sendTop);
    // The FILE page: the list, and under it the ways to send and the receive folder.
    int fileButtonHeight = std::max(Pixels(24), sendFilesButton->sizeHint().height());
    int fileButtonsTop = bottom - fileButtonHeight;
    place(transferList, Pixels(10), top, right, fileButtonsTop - Pixels(4));
    int fileButtonLeft = Pixels(10);
    for (QPushButton* button : {sendFilesButton, sendFolderButton, openFolderButton}) {
        int buttonWidth = std::max(Pixels(90), ButtonTextWidth(button));
        button->setGeometry(fileButtonLeft, fileButtonsTop, buttonWidth, fileButtonHeight);
        fileButtonLeft += buttonWidth + Pixels(6);
    }
    place(input, Pixels(10), sendTop, right - buttonWidth, bottom);
    place(sendButton, right - buttonWidth, sendTop, right, searchTop);
    place(searchButton, right - buttonWidth, searchTop, right, bottom);
}

void TalkWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ApplyLayout();
}

void TalkWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ApplyLayout();
}

void TalkWindow::keyPressEvent(QKeyEvent* event) {
    if (SwallowDialogEndKey(event)) return;
    QDialog::keyPressEvent(event);
}

void TalkWindow::ShowPage(Page newPage) {
    AssertWindowThread("TalkWindow::ShowPage");
    page = newPage;
    bool talk = page == Page::Talk;
    logView->setVisible(talk);
    input->setVisible(talk);
    sendButton->setVisible(talk);
    searchButton->setVisible(talk);
    transferList->setVisible(!talk);
    for (QPushButton* button : {sendFilesButton, sendFolderButton, openFolderButton})
        button->setVisible(!talk);
    // A file offered while unlinked could only be cancelled at once.
    bool linked = link.LinkState() != LINK_CLOSED;
    sendFilesButton->setEnabled(linked);
    sendFolderButton->setEnabled(linked);
}

void TalkWindow::SendAction() {
    AssertWindowThread("TalkWindow::SendAction");
    DispatchInput(input->Text(), *this);
}

void TalkWindow::Search() {
    RunWebSearch(SearchWordsOfInputBox(input->Text()));
}

void TalkWindow::SendFiles(const QStringList& paths) {
    AssertWindowThread("TalkWindow::SendFiles");
    for (const QString& path : paths) {
        WString wide = FitField(path.toStdU16String(), kDroppedPathUnits + 1);
        int row = rows.AddTransferRow(wide);
        link.SendFile(wide, row);
    }
}

void TalkWindow::dragEnterEvent(QDragEnterEvent* event) {
    // A finished row dragged out of the list is not sent back.
    if (event->source() == transferList) return;
    if (!DroppedLocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TalkWindow::dropEvent(QDropEvent* event) {
    SendFiles(DroppedLocalFiles(event->mimeData()));
    event->acceptProposedAction();
}

void TalkWindow::OnTransferCommand(int command, int row) {
    std::optional<TransferRow> shown = rows.Row(row);
    if (!shown || !shown->direction) return;  // no selection, or a file never offered
    if (command == TransferListView::kRemove) {
        rows.RemoveRow(row);
        return;
    }
    if (command == TransferListView::kOpenFolder) {
        QFileInfo file(transferList->RowFilePath(row));
        OpenPath(file.isDir() ? file.absoluteFilePath() : file.absolutePath());
        return;
    }
    if (StageEnded(shown->stage)) return;  // nothing left to control
    enumFileSendStatus status = FILE_CANCEL;
    TransferControl control = TransferControl::Cancel;
    switch (command) {
        case TransferListView::kResend:
            status = FILE_RESEND;
            control = TransferControl::Resume;
            break;
        case TransferListView::kPause:
            status = FILE_PAUSE;
            control = TransferControl::Pause;
            break;
        case TransferListView::kDelete:
            if (!Confirm(this, kConfirmDelete)) return;
            status = FILE_DELETE;
            control = TransferControl::Delete;
            break;
        default:
            break;
    }
    // A resume of a row that is not paused changes nothing to tell.
    if (control != TransferControl::Resume || shown->stage == TransferStage::Paused)
        AppendLog(TransferControlMessage(*shown, control, false));
    link.SetFileStatus(shown->taskId, status, *shown->direction);
}

bool TalkWindow::TransferUnderWay() const {
    for (const TransferRow& row : rows.Rows())
        if (row.direction && !StageEnded(row.stage)) return true;
    return false;
}

void TalkWindow::closeEvent(QCloseEvent* event) {
    if (TransferUnderWay() && !Confirm(this, kConfirmQuit)) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TalkWindow::OpenPath(const QString& path) {
    if (hooks.openPath)
        hooks.openPath(path);
    else
        OpenWithDesktop(path);
}

void TalkWindow::SendFilesWithDialog() {
    CMyFileDialog dialog;
    dialog.owner = this;
    dialog.title = u"送るファイルを選択してください";
    dialog.multipleSelection = true;
    if (!dialog.Show()) return;
    QStringList paths;
    for (const WString& path : dialog.Paths()) paths << QString::fromStdU16String(path);
    SendFiles(paths);
}

void TalkWindow::SendFolderWithDialog() {
    WString folder;
    CMyFolderDialog dialog;
    if (dialog.BrowseForFolder(this, u"送るフォルダを選択してください", folder) > 0)
        SendFiles({QString::fromStdU16String(folder)});
}

void TalkWindow::OpenReceiveFolder() {
    // An empty setting is the working folder, where receptions then land.
    QString folder = QString::fromStdU16String(values.ReceiveFolder());
    OpenPath(QDir(folder.isEmpty() ? QStringLiteral(".") : folder).absolutePath());
}

// --- TalkWindowPort: queued to this window's thread, in order.

void TalkWindow::AppendLogMessage(std::vector<LogRun> runs) {
    QMetaObject::invokeMethod(
        this, [this, runs = std::move(runs)]() mutable { log.Append(std::move(runs)); },
        Qt::QueuedConnection);
}

void TalkWindow::ShowLinkClosed() {
    // The encryption marks go with the link.
    QMetaObject::invokeMethod(
        this,
        [this] {
            // The link's end in one line, and nothing left that shows the peer as there.
            // (The peer's request to disconnect has had its line already.)
            if (ownDisconnect)
                AppendLog(u"System Message: \r\n切断しました\r\n");
            else if (!peerEndedLink)
                AppendLog(u"System Message: \r\n接続が切れました\r\n");
            ownDisconnect = false;
            peerEndedLink = false;
            setWindowTitle(QString::fromStdU16String(kProgramTitle));
            statusLine->clear();
            ShowLinkPrivacy();
            ShowPage(page);  // the send buttons go grey
        },
        Qt::QueuedConnection);
}

void TalkWindow::PostTransferFact(TransferFact fact) {
    QMetaObject::invokeMethod(
        this,
        [this, fact = std::move(fact)] {
            WString message = ApplyTransferFact(rows, fact);
            if (!message.empty()) AppendLog(message);
            if (fact.kind == TransferFact::Kind::Finished &&
                fact.direction == TransferDirection::Receiving) {
                arrivedFiles << QString::fromStdU16String(WString(PathNamePart(fact.path)));
                // Told after the completion's own line, with the event that follows it.
                if (std::optional<int> row = rows.FindRow(fact.direction, fact.taskId))
                    if (std::optional<TransferRow> shown = rows.Row(*row))
                        renamedArrivals.push_back(RenamedArrivalMessage(*shown, fact.path));
            }
        },
        Qt::QueuedConnection);
}

void TalkWindow::SetPeerStatusText(const WString& text) {
    QMetaObject::invokeMethod(
        this, [this, text] { statusLine->setText(QString::fromStdU16String(text)); },
        Qt::QueuedConnection);
}

void TalkWindow::SetWindowTitle(const WString& title) {
    QMetaObject::invokeMethod(
        this,
        [this, title] {
            setWindowTitle(TitleText(title));
            ShowLinkInTray();
        },
        Qt::QueuedConnection);
}

void TalkWindow::ShowLinkEvent(LinkEvent event) {
    QMetaObject::invokeMethod(
        this,
        [this, event] {
            // The window decides how the user hears of it: the sound only when wanted.
            LinkEventReaction reaction = ReactionTo(event);
            if (reaction.wave && values.SoundOn())
                PlayWaveFile(QString::fromStdU16String(reaction.wave));
            if (reaction.flash) mirka::FlashWindow(this);
            if (reaction.clearInput) input->clear();
            if (event == LinkEvent::PeerEndedLink) peerEndedLink = true;
            if (event == LinkEvent::TransferFinished) {
                for (const WString& renamed : renamedArrivals)
                    if (!renamed.empty()) AppendLog(renamed);
                renamedArrivals.clear();
            }
            if (event == LinkEvent::ChatArrived || event == LinkEvent::TransferFinished)
                AnnounceArrival(event);
        },
        Qt::QueuedConnection);
}

// --- ChatCommandTarget.

void TalkWindow::AppendLog(const WString& text) {
    AssertWindowThread("TalkWindow::AppendLog");
    log.Append(BuildLogMessage(nullptr, text));
}
bool TalkWindow::SoundOn() const {
    return values.SoundOn();
}
void TalkWindow::SetSoundOn(bool on) {
    values.SetSoundOn(on);
}
void TalkWindow::SetOwnStatus(const WString& text) {
    values.SetStatusText(text);
}
WString TalkWindow::UserName() const {
    return values.UserName();
}
void TalkWindow::ClearLog() {
    AssertWindowThread("TalkWindow::ClearLog");
    log.Clear();
}
void TalkWindow::SaveLogWithDialog() {
    mirka::SaveLogWithDialog(this, log);
}

void TalkWindow::RunWebSearch(const std::string& words) {
    if (!hooks.search) return;
    // The window repaints but takes no input while the engine is asked.
    RunWhileRepainting([&] { hooks.search(words); });
}

void TalkWindow::QueueStatusMessage(const WString& statusText) {
    link.QueueStatusMessage(statusText);
}
void TalkWindow::QueueChatLine(const WString& text, const WString& name) {
    // Unlinked, the line would wait and go out with an old time after a reconnect: it stays
    // in the input box instead.
    if (link.LinkState() == LINK_CLOSED) {
        AppendLog(kNotSent);
        return;
    }
    link.QueueChatLine(text, name);
}
void TalkWindow::SetSendWait(std::uint16_t milliseconds) {
    link.sendWait = milliseconds;
}
void TalkWindow::SetSendBufSize(std::int32_t bytes) {
    link.sendBufSize = bytes;
}

// --- Menu items with dialogs.

void TalkWindow::ChangeName() {
    WString name = values.UserName();
    ShowInputDialog(this, u"入力", u"使用する名前を入力してください", name, kUserNameLimit + 1);
    values.SetUserName(name);
    link.QueueStatusMessage(values.StatusText());
}

void TalkWindow::ChangeStatus() {
    WString status = values.StatusText();
    ShowInputDialog(this, u"入力", u"相手に送信する自分の状態を入力してください", status, 260);
    values.SetStatusText(status);
    link.QueueStatusMessage(status);
}

void TalkWindow::ChangeReceiveFolder() {
    WString folder = values.ReceiveFolder();
    CMyFolderDialog dialog;
    if (dialog.BrowseForFolder(this, u"フォルダを選択して下さい", folder) > 0) {
        if (folder.empty() || folder.back() != kPathSeparator) folder.push_back(kPathSeparator);
        values.SetReceiveFolder(folder);
        SaveReceiveFolder(values.ReceiveFolder());
        ShowMessage(u"%s", values.ReceiveFolder());
        transferList->SetOpenFolder(QString::fromStdU16String(values.ReceiveFolder()));
    } else {
        values.SetReceiveFolder(LoadReceiveFolder());
    }
}

void TalkWindow::ChangeSendSpeed() {
    // The dialog starts on the stored choice; a typed /sendwait changed only this run.
    std::optional<SendPace> pace = ChooseSendPace(this, LoadSendPace());
    if (!pace) return;
    SaveSendPace(*pace);
    link.sendWait = pace->wait;
    link.sendBufSize = pace->bufSize;
}

void TalkWindow::RunWhileRepaintingDisconnect() {
    ownDisconnect = true;  // the end's line says this side ended it
    RunWhileRepainting([this] { link.Disconnect(); });
}

void TalkWindow::Reconnect() {
    if (link.LinkState() != LINK_CLOSED || !hooks.reconnect) return;
    if (!hooks.reconnect(this)) return;
    link.RestartThreads();
    // The title keeps the peer's name; only the encryption marks follow the new link.
    ShowLinkPrivacy();
    ShowPage(page);
    if (link.LinkIsPrivate()) AppendLog(WString(u"System Message: \r\n") + PrivacyLine());
}

WString TalkWindow::PrivacyLine() const {
    return link.LinkIsPrivate() ? u"暗号化された接続です\r\n" : u"";
}

QString TalkWindow::TitleText(const WString& title) const {
    return QString::fromStdU16String(link.LinkIsPrivate() ? title + kPrivateTitleSuffix : title);
}

void TalkWindow::ShowLinkPrivacy() {
    AssertWindowThread("TalkWindow::ShowLinkPrivacy");
    // Asked of the link each time, for the title and the mark alike: a late report that an
    // older link closed then cannot take them from a newer encrypted one.
    bool sealed = link.LinkIsPrivate();
    QString title = windowTitle();
    QString suffix = QString::fromStdU16String(kPrivateTitleSuffix);
    if (title.endsWith(suffix)) title.chop(suffix.size());
    setWindowTitle(sealed ? title + suffix : title);
    privacyMark->setVisible(sealed);
    ShowLinkInTray();
}

QString TalkWindow::TrayText() const {
    if (link.LinkState() == LINK_CLOSED)
        return QString::fromStdU16String(WString(kProgramTitle) + u"\n接続していません");
    return windowTitle() + QString::fromStdU16String(u"\n接続しています");
}

void TalkWindow::ShowLinkInTray() {
    if (!tray) return;
    // The program's icon while a link stands, its greyed form without one.
    QIcon icon = ProgramIcon();
    bool linked = link.LinkState() != LINK_CLOSED;
    tray->setIcon(linked ? icon : QIcon(icon.pixmap(QSize(32, 32), QIcon::Disabled)));
    tray->setToolTip(TrayText());
}

void TalkWindow::AnnounceArrival(LinkEvent event) {
    QStringList files;
    files.swap(arrivedFiles);
    if (event == LinkEvent::TransferFinished && files.isEmpty()) return;  // a send ended
    if (isActiveWindow() || !notifyAction->isChecked()) return;
    QString text = event == LinkEvent::ChatArrived
                       ? QString::fromStdU16String(u"新しい発言があります")
                       : QString::fromStdU16String(u"ファイルを受信しました: ") +
                             files.join(QStringLiteral(", "));
    if (hooks.notify)
        hooks.notify(windowTitle(), text);
    else if (tray)
        tray->showMessage(windowTitle(), text, ProgramIcon());
}

}  // namespace mirka
