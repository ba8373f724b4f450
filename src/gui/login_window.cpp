#include "gui/login_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "gui/blocking_call.h"
#include "gui/dialog_units.h"
#include "upnp/port_mapping.h"

namespace mirka {

namespace {
constexpr std::size_t kHostBytes = 99;
constexpr std::size_t kProfileTextUnits = 511;
QString Text(const char16_t* text) { return QString::fromStdU16String(text); }
}  // namespace

std::uint32_t ReadPortField(const QString& text) {
    bool ok = false;
    qulonglong value = text.trimmed().toULongLong(&ok);
    return ok && value <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(value) : 0;
}

LoginWindow::LoginWindow(TaskManager& link, ProfileList& profiles, std::string& ownAddress,
                         QWidget* parent)
    : QDialog(parent), link(link), profiles(profiles), ownAddress(ownAddress) {
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    BuildControls();
    // The server port, the profiles, and client mode on every opening.
    LoginFields fields;
    fields.serverPort = LoadServerPort();
    LoadProfiles(profiles, fields);
    SetFields(fields);
    clientMode->setChecked(true);
    noUpnp->setChecked(false);
    // A reconnect offers the passphrase of the link before; it lives in memory only.
    passphraseField->setText(QString::fromStdU16String(link.Passphrase()));
}

void LoginWindow::BuildControls() {
    DialogUnits units(font());
    setFixedSize(units.X(172), units.Y(188));
    auto* group = new QGroupBox(Text(u"基本動作設定"), this);
    group->setGeometry(units.Rect(8, 4, 156, 132));
    serverMode = new QRadioButton(Text(u"サーバとして起動する"), this);
    serverMode->setGeometry(units.Rect(16, 16, 82, 10));
    (new QLabel(Text(u"使用ポート"), this))->setGeometry(units.Rect(28, 28, 40, 12));
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    serverPort = new QLineEdit(this);
    serverPort->setValidator(digits);
    serverPort->setGeometry(units.Rect(68, 28, 40, 14));
    clientMode = new QRadioButton(Text(u"サーバに接続する"), this);
    clientMode->setGeometry(units.Rect(16, 48, 120, 10));
    (new QLabel(Text(u"ユーザプロファイル"), this))->setGeometry(units.Rect(24, 64, 112, 8));
    profileBox = new QComboBox(this);
    profileBox->setEditable(true);
    profileBox->setInsertPolicy(QComboBox::NoInsert);
    profileBox->setGeometry(units.Rect(24, 72, 108, 12));
    auto* deleteButton = new QPushButton(Text(u"削除"), this);
    deleteButton->setEnabled(false);
    deleteButton->setGeometry(units.Rect(132, 72, 24, 12));
    (new QLabel(QStringLiteral("IP"), this))->setGeometry(units.Rect(24, 88, 24, 12));
    ipField = new QLineEdit(this);
    ipField->setGeometry(units.Rect(48, 88, 108, 12));
    (new QLabel(Text(u"ポート"), this))->setGeometry(units.Rect(24, 100, 24, 12));
    portField = new QLineEdit(this);
    portField->setValidator(digits);
    portField->setGeometry(units.Rect(48, 100, 40, 12));
    noUpnp = new QCheckBox(Text(u"UPnPを使用しない"), this);
    noUpnp->setGeometry(units.Rect(16, 120, 144, 10));
    (new QLabel(Text(u"合言葉"), this))->setGeometry(units.Rect(8, 142, 36, 10));
    passphraseField = new QLineEdit(this);
    passphraseField->setEchoMode(QLineEdit::Password);
    passphraseField->setGeometry(units.Rect(44, 140, 120, 12));
    exitButton = new QPushButton(Text(u"終了"), this);
    exitButton->setGeometry(units.Rect(8, 160, 48, 16));
    startButton = new QPushButton(Text(u"接続/開始"), this);
    startButton->setGeometry(units.Rect(112, 160, 52, 16));
    for (QPushButton* button : {deleteButton, exitButton, startButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    statusLine = new QLabel(this);
    statusLine->setGeometry(units.Rect(0, 180, 168, 8));

    connect(profileBox, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        LoginFields fields = Fields();
        SelectProfile(profiles, fields, index);
        SetFields(fields);
    });
    connect(exitButton, &QPushButton::clicked, this, [this] { done(0); });
    connect(startButton, &QPushButton::clicked, this, [this] { StartLink(); });
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
    for (const WString& item : fields.comboItems) profileBox->addItem(QString::fromStdU16String(item));
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
    // Neither Enter nor Esc does anything here.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void LoginWindow::StartLink() {
    startButton->setEnabled(false);
    bool server = serverMode->isChecked();
    auto port = static_cast<std::uint16_t>(ReadPortField(server ? serverPort->text() : portField->text()));
    PortMappingContext mapping;
    mapping.linkPort = port;
    mapping.upnpDisabled = noUpnp->isChecked();
    std::string host = ToNarrow(ipField->text().toStdU16String());
    // Both sides must derive the same bytes from what looks like the same text.
    link.SetPassphrase(
        passphraseField->text().normalized(QString::NormalizationForm_C).toStdU16String());
    CutNarrow(host, kHostBytes);
    bool started = RunWhileRepainting([&] {
        MapRouterPort(this, mapping);
        if (server) {
            mirka::SetStatusText(this, u"サーバ .. 接続待機中です");
            return link.StartServer(port);
        }
        mirka::SetStatusText(this, u"サーバに接続しています");
        return link.ConnectToServer(host, port);
    });
    ownAddress = mapping.ownAddressText;
    SaveProfilesNow();
    if (started) {
        done(1);
        return;
    }
    // A failed start leaves the window open with its status text, to try again.
    startButton->setEnabled(true);
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
