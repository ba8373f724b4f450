#include "gui/login_window.h"

#include <chrono>

#include <sodium.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "gui/blocking_call.h"
#include "gui/dialog_keys.h"
#include "gui/dialog_units.h"
#include "gui/profile_box.h"
#include "link/transport/private_link.h"
#include "upnp/own_address.h"
#include "upnp/port_mapping.h"

namespace mirka {

namespace {
constexpr std::size_t kHostBytes = 99;
constexpr char16_t kPassphrasePlaceholder[] = u"省略可 (相手と同じ語で暗号化)";
constexpr char16_t kPassphraseHint[] =
    u"合言葉は省略できます。\n"
    u"入れるときは、相手と同じ合言葉にしてください。"
    u"両方が同じ合言葉を入れると、接続が暗号化されます。\n"
    u"空のままなら暗号化せずに接続します。かな・漢字も使えます。保存はされません。";
constexpr std::size_t kProfileTextUnits = 511;
// A peer with a passphrase sends its hello within a round trip of the link's start; a start
// without one waits this long for it before the window closes as linked. An original peer,
// which may say nothing first, meets its talk window that much later.
constexpr std::chrono::seconds kHelloWait{2};
QString Text(const char16_t* text) {
    return QString::fromStdU16String(text);
}

// Overwrites the characters when this string is their only holder; a buffer it shares is
// still in use by the other holder (the field), which is emptied on its own.
void WipeIfOnlyHolder(QString& text) {
    if (!text.isEmpty() && text.isDetached())
        sodium_memzero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

// Empties a passphrase field and overwrites what it held. setText, unlike clear, keeps no
// undo step with the old characters.
void WipeField(QLineEdit* field) {
    QString held = field->text();
    field->setText(QString());
    WipeIfOnlyHolder(held);
}
}  // namespace

std::uint32_t ReadPortField(const QString& text) {
    bool ok = false;
    qulonglong value = text.trimmed().toULongLong(&ok);
    return ok && value <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(value) : 0;
}

LoginWindow::LoginWindow(TaskManager& link, ProfileList& profiles, OwnReach& reach, QWidget* parent)
    : QDialog(parent), link(link), profiles(profiles), reach(reach) {
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(Text(kLoginWindowCaption));
    BuildControls();
    // The server port, the profiles, and client mode on every opening.
    LoginFields fields;
    fields.serverPort = LoadServerPort();
    LoadProfiles(profiles, fields);
    SetFields(fields);
    clientMode->setChecked(true);
    noUpnp->setChecked(false);
    // A reconnect offers the passphrase of the link before; it lives in memory only.
    WString remembered = link.Passphrase();
    passphraseField->setText(QString::fromStdU16String(remembered));
    WipeText(remembered);
}

LoginWindow::~LoginWindow() {
    WipeField(passphraseField);
}

void LoginWindow::BuildControls() {
    // Rows in a grid rather than fixed places: the Japanese texts take what they need at
    // any font size, and a field is one more row. The dialog-unit widths are the minimum.
    DialogUnits units(font());
    auto* group = new QGroupBox(Text(u"基本動作設定"), this);
    auto* rows = new QGridLayout(group);
    rows->setColumnMinimumWidth(0, units.X(8));
    int row = 0;
    auto addField = [&](const QString& label, QWidget* field, int minimumUnits,
                        Qt::Alignment alignment = Qt::AlignLeft) {
        rows->addWidget(new QLabel(label, group), row, 1);
        field->setMinimumWidth(units.X(minimumUnits));
        rows->addWidget(field, row++, 2, alignment);
    };
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);

    serverMode = new QRadioButton(Text(u"サーバとして起動する"), group);
    rows->addWidget(serverMode, row++, 0, 1, 3);
    serverPort = new QLineEdit(group);
    serverPort->setValidator(digits);
    addField(Text(u"使用ポート"), serverPort, 40);
    rows->setRowMinimumHeight(row++, units.Y(4));

    clientMode = new QRadioButton(Text(u"サーバに接続する"), group);
    rows->addWidget(clientMode, row++, 0, 1, 3);
    rows->addWidget(new QLabel(Text(u"ユーザプロファイル"), group), row++, 1, 1, 2);
    auto* profileRow = new QHBoxLayout;
    profileBox = new ProfileBox(group);
    profileBox->setMinimumWidth(units.X(108));
    profileBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* deleteButton = new QPushButton(Text(u"削除"), group);
    deleteButton->setEnabled(false);
    profileRow->addWidget(profileBox);
    profileRow->addWidget(deleteButton);
    rows->addLayout(profileRow, row++, 1, 1, 2);
    ipField = new QLineEdit(group);
    addField(QStringLiteral("IP"), ipField, 108, {});
    portField = new QLineEdit(group);
    portField->setValidator(digits);
    addField(Text(u"ポート"), portField, 40);
    rows->setRowMinimumHeight(row++, units.Y(4));

    noUpnp = new QCheckBox(Text(u"UPnPを使用しない"), group);
    rows->addWidget(noUpnp, row++, 0, 1, 3);
    rows->setRowMinimumHeight(row++, units.Y(4));
    // Never stored anywhere: it lives in this field and in the link while it stands.
    passphraseField = new QLineEdit(group);
    passphraseField->setEchoMode(QLineEdit::Password);
    // A kana or kanji passphrase is typed through the input method, which a password field
    // turns off; the hints still keep it from learning or predicting what is typed.
    passphraseField->setAttribute(Qt::WA_InputMethodEnabled, true);
    passphraseField->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                                         Qt::ImhNoAutoUppercase);
    passphraseField->setPlaceholderText(Text(kPassphrasePlaceholder));
    passphraseField->setToolTip(Text(kPassphraseHint));
    passphraseField->setAccessibleDescription(passphraseField->toolTip());
    addField(Text(u"合言葉"), passphraseField, 108, {});
    rows->setColumnStretch(2, 1);

    exitButton = new QPushButton(Text(u"終了"), this);
    startButton = new QPushButton(Text(u"接続/開始"), this);
    copyButton = new QPushButton(Text(u"アドレスをコピー"), this);
    for (QPushButton* button : {deleteButton, exitButton, copyButton, startButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    exitButton->setMinimumSize(units.X(48), units.Y(16));
    startButton->setMinimumSize(units.X(52), units.Y(16));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(exitButton);
    buttons->addStretch(1);
    buttons->addWidget(copyButton);
    buttons->addWidget(startButton);
    statusLine = new QLabel(this);
    statusLine->setMinimumHeight(units.Y(8));

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(8), units.Y(4), units.X(8), units.Y(2));
    page->addWidget(group);
    page->addLayout(buttons);
    page->addWidget(statusLine);
    setMinimumWidth(units.X(172));
    page->setSizeConstraint(QLayout::SetFixedSize);

    profileBox->onPicked = [this](int index) {
        LoginFields fields = Fields();
        SelectProfile(profiles, fields, index);
        SetFields(fields);
    };
    connect(exitButton, &QPushButton::clicked, this, [this] { done(0); });
    connect(startButton, &QPushButton::clicked, this, [this] { StartLink(); });
    connect(copyButton, &QPushButton::clicked, this, [this] { CopyAddress(); });
}

LoginFields LoginWindow::Fields() const {
    LoginFields fields;
    for (int i = 0; i < profileBox->count(); ++i)
        fields.comboItems.push_back(profileBox->itemText(i).toStdU16String());
    fields.comboSelection = profileBox->currentIndex();
    fields.comboText = FitField(profileBox->currentText().toStdU16String(), kProfileTextUnits + 1);
    fields.ipText = FitField(ipField->text().toStdU16String(), kProfileTextUnits + 1);
    fields.port = ReadPortField(portField->text());
    fields.serverPort = ReadPortField(serverPort->text());
    return fields;
}

void LoginWindow::SetFields(const LoginFields& fields) {
    profileBox->clear();
    for (const WString& item : fields.comboItems)
        profileBox->addItem(QString::fromStdU16String(item));
    if (fields.comboSelection >= 0) profileBox->setCurrentIndex(fields.comboSelection);
    profileBox->setEditText(QString::fromStdU16String(fields.comboText));
    ipField->setText(QString::fromStdU16String(fields.ipText));
    portField->setText(QString::number(fields.port));
    serverPort->setText(QString::number(fields.serverPort));
}

void LoginWindow::SaveProfilesNow() {
    LoginFields fields = Fields();
    SaveProfiles(profiles, fields);
    SetFields(fields);
}

void LoginWindow::keyPressEvent(QKeyEvent* event) {
    if (SwallowDialogEndKey(event)) return;
    QDialog::keyPressEvent(event);
}

void LoginWindow::KeepChoiceIn(LoginChoice* choice) {
    kept = choice;
    if (!kept || !kept->made) return;
    (kept->server ? serverMode : clientMode)->setChecked(true);
    noUpnp->setChecked(kept->noUpnp);
}

void LoginWindow::StartLink() {
    startButton->setEnabled(false);
    bool server = serverMode->isChecked();
    if (kept) *kept = {true, server, noUpnp->isChecked()};
    auto port =
        static_cast<std::uint16_t>(ReadPortField(server ? serverPort->text() : portField->text()));
    PortMappingContext mapping;
    mapping.linkPort = port;
    mapping.upnpDisabled = noUpnp->isChecked();
    mapping.listening = server;
    std::string host = ToNarrow(ipField->text().toStdU16String());
    // Both sides must derive the same bytes from what looks like the same text. The copies
    // made here are overwritten; the field keeps its text for another try.
    QString normalized = passphraseField->text().normalized(QString::NormalizationForm_C);
    WString passphrase = normalized.toStdU16String();
    link.SetPassphrase(passphrase);
    link.SetHelloWait(kHelloWait);
    WipeText(passphrase);
    WipeIfOnlyHolder(normalized);
    CutNarrow(host, kHostBytes);
    bool started = RunWhileRepainting([&] {
        // The pinhole of an earlier server start goes before the gateway is asked again
        // (deleting it waits for the gateway, so not on the window thread).
        reach.pinhole.reset();
        MapRouterPort(this, mapping);
        if (server) {
            mirka::ShowLoginStatus(this, u"サーバ .. 接続待機中です");
            // A peer turned away in the handshake does not end the wait: the server waits
            // for the next one, and the status line says whom it refused and why.
            while (!link.StartServer(port)) {
                WString refusal = link.LastRefusal();
                if (refusal.empty()) return false;
                mirka::ShowLoginStatus(this, u"%s を断りました .. 接続待機中です", refusal);
            }
            return true;
        }
        mirka::ShowLoginStatus(this, u"サーバに接続しています");
        return link.ConnectToServer(host, port);
    });
    reach.ownAddressText = mapping.ownAddressText;
    reach.ownIPv6Text = mapping.ownIPv6Text;
    // A server that takes no peer needs no open firewall.
    if (started)
        reach.pinhole = std::move(mapping.pinhole);
    else if (mapping.pinhole)
        RunWhileRepainting([&] { mapping.pinhole.reset(); });
    SaveProfilesNow();
    if (started) {
        WipeField(passphraseField);
        done(1);
        return;
    }
    // A failed start leaves the window open to try again; the status line no longer says
    // that it is connecting or waiting (the box said why it failed).
    SetStatusText(WString());  // queued like the texts before it, so it comes last
    startButton->setEnabled(true);
}

void LoginWindow::CopyAddress() {
    std::string ownAddressText = reach.ownAddressText;
    std::string ownIPv6Text = reach.ownIPv6Text;
    // Before any start there is no mapping to ask; the machine's own addresses do then.
    if (ownAddressText.empty())
        RunWhileRepainting([&] { FindOwnAddresses(ownAddressText, ownIPv6Text); });
    const std::string address = CopyAddressText(ownAddressText, ownIPv6Text);
    QGuiApplication::clipboard()->setText(QString::fromStdU16String(FromNarrow(address)));
    SetStatusText(u"コピーしました: " + FromNarrow(address));
}

void LoginWindow::SetStatusText(const WString& text) {
    QMetaObject::invokeMethod(
        this, [this, text] { statusLine->setText(QString::fromStdU16String(text)); },
        Qt::QueuedConnection);
}

void LoginWindow::SetTitle(const WString& title) {
    QMetaObject::invokeMethod(
        this, [this, title] { setWindowTitle(QString::fromStdU16String(title)); },
        Qt::QueuedConnection);
}

}  // namespace mirka
