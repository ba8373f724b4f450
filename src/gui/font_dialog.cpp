#include "gui/font_dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "gui/dialog_units.h"

namespace mirka {
namespace {

// Font heights are logical pixels at 96 per inch, sizes are shown in points as a font
// chooser does.
constexpr double kPixelsPerPoint = 96.0 / 72.0;
constexpr int kDefaultPoints = 10;
constexpr int kMaxPoints = 400;

QColor FromColorRef(std::uint32_t c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

std::uint32_t ToColorRef(const QColor& c) {
    return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
           (static_cast<std::uint32_t>(c.blue()) << 16);
}

int PointsOfHeight(std::int32_t height) {
    if (height == 0) return kDefaultPoints;
    int points = static_cast<int>(std::lround(std::abs(double(height)) / kPixelsPerPoint));
    return std::clamp(points, 1, kMaxPoints);
}

}  // namespace

ChatFontDialog::ChatFontDialog(QWidget* owner, const LogFont& start, std::uint32_t color)
    : QDialog(owner), start(start), startPoints(PointsOfHeight(start.height)), color(color) {
    setFont(DialogFont());
    setWindowTitle(QStringLiteral("フォント"));

    faceBox = new QComboBox(this);
    faceBox->setObjectName(QStringLiteral("face"));
    faceBox->setEditable(true);
    faceBox->setInsertPolicy(QComboBox::NoInsert);
    faceBox->addItems(QFontDatabase::families());
    // The face is kept as written even where this machine has no such font.
    faceBox->setEditText(QString::fromStdU16String(start.Face()));

    sizeBox = new QSpinBox(this);
    sizeBox->setObjectName(QStringLiteral("size"));
    sizeBox->setRange(1, kMaxPoints);
    sizeBox->setValue(startPoints);

    colorButton = new QPushButton(this);
    colorButton->setObjectName(QStringLiteral("color"));
    colorButton->setText(QStringLiteral("色の選択..."));
    connect(colorButton, &QPushButton::clicked, this, [this] { PickColor(); });

    sample = new QLabel(QStringLiteral("AaBbYyZz あぁアァ亜宇"), this);
    sample->setObjectName(QStringLiteral("sample"));
    sample->setTextFormat(Qt::PlainText);
    sample->setAlignment(Qt::AlignCenter);
    sample->setFrameShape(QFrame::StyledPanel);
    sample->setMinimumSize(DialogUnits(font()).X(160), DialogUnits(font()).Y(40));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("フォント名:"), faceBox);
    form->addRow(QStringLiteral("サイズ:"), sizeBox);
    form->addRow(QStringLiteral("色:"), colorButton);
    form->addRow(QStringLiteral("サンプル:"), sample);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)
        ->setObjectName(QStringLiteral("ok"));
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(faceBox, &QComboBox::currentTextChanged, this, [this] { UpdateSample(); });
    connect(sizeBox, &QSpinBox::valueChanged, this, [this] { UpdateSample(); });
    UpdateSample();
}

LogFont ChatFontDialog::Chosen() const {
    LogFont chosen = start;
    QString face = faceBox->currentText();
    if (!face.isEmpty()) chosen.SetFace(face.toStdU16String());
    if (sizeBox->value() != startPoints || start.height == 0) {
        // A negative height asks for the character height, as font choosers answer.
        chosen.height = -static_cast<std::int32_t>(std::lround(sizeBox->value() * kPixelsPerPoint));
    }
    return chosen;
}

void ChatFontDialog::SetColor(std::uint32_t colorRef) {
    color = colorRef & 0xFFFFFF;
    UpdateSample();
}

void ChatFontDialog::PickColor() {
    QColor chosen = QColorDialog::getColor(FromColorRef(color), this, QStringLiteral("色の選択"));
    if (chosen.isValid()) SetColor(ToColorRef(chosen));
}

void ChatFontDialog::UpdateSample() {
    QFont font(faceBox->currentText());
    font.setPixelSize(
        std::max(1, static_cast<int>(std::lround(sizeBox->value() * kPixelsPerPoint))));
    sample->setFont(font);
    QPalette palette = sample->palette();
    palette.setColor(QPalette::WindowText, FromColorRef(color));
    sample->setPalette(palette);
    QPixmap swatch(16, 16);
    swatch.fill(FromColorRef(color));
    colorButton->setIcon(QIcon(swatch));
}

bool ChooseChatFont(QWidget* owner, ProgramValues& values, const std::filesystem::path& fontIni) {
    CharFormat chatFont = values.ChatFont();
    ChatFontDialog dialog(owner, StartingLogFont(chatFont, fontIni), chatFont.color);
    if (dialog.exec() != QDialog::Accepted) return false;
    ApplyChosenFont(chatFont, dialog.Chosen(), dialog.Color());
    values.SetChatFont(chatFont);
    return true;
}

}  // namespace mirka
