#include "gui/screenshot_preview.h"

#include <algorithm>

#include <string>

#include <QButtonGroup>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>

#include "gui/blocking_call.h"
#include "gui/dialog_units.h"
#include "screenshot/preview_geometry.h"
#include "toolkit/message_box.h"

namespace mirka {

namespace {

constexpr int kDialogWidthUnits = 356;
constexpr int kDialogHeightUnits = 304;
// A started editor that cannot even begin within this time is taken as failed.
constexpr int kEditorStartMilliseconds = 10000;

bool SideFits(int side) {
    return side > 0 && side <= kMaxBitmapSide;
}

struct EditorCandidate {
    const char* name;
    QStringList arguments;
};

#ifdef _WIN32
const EditorCandidate kEditorCandidates[] = {{"mspaint", {}}};
#else
// GIMP would otherwise hand the file to a running instance and end at once.
const EditorCandidate kEditorCandidates[] = {
    {"pinta", {}}, {"kolourpaint", {}}, {"gimp", {QStringLiteral("-n")}}, {"krita", {}}};
#endif

// "pinta, kolourpaint, ...": what the user could install.
std::string EditorNames() {
    std::string names;
    for (const EditorCandidate& candidate : kEditorCandidates) {
        if (!names.empty()) names += ", ";
        names += candidate.name;
    }
    return names;
}

QString AbsolutePath(WStringView path) {
    return QDir::current().absoluteFilePath(QString::fromStdU16String(WString(path)));
}

}  // namespace

CapturedImage::CapturedImage(const QImage& picture) {
    // Check the sides first: a picture the writers refuse is not worth a copy.
    if (!SideFits(picture.width()) || !SideFits(picture.height())) return;
    // RGB32 sets every fourth byte to 255, as the files will have it.
    shown = picture.convertToFormat(QImage::Format_RGB32);
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    if (!shown.isNull()) bgra = picture.convertToFormat(QImage::Format_RGBX8888).rgbSwapped();
    if (bgra.isNull()) shown = QImage();
#endif
}

bool CapturedImage::IsUsable() const {
    return IsUsableBitmap(Bitmap());
}

BgraBitmap CapturedImage::Bitmap() const {
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    const QImage& pixels = bgra;
#else
    const QImage& pixels = shown;  // 0xffRRGGBB words: blue, green, red, 255 in memory
#endif
    if (pixels.isNull()) return {};
    // Qt keeps the top row first: a negative height says so.
    return BgraBitmap{pixels.constBits(), pixels.width(), -pixels.height(),
                      static_cast<std::ptrdiff_t>(pixels.bytesPerLine())};
}

ImageEditor FindImageEditor() {
    for (const EditorCandidate& candidate : kEditorCandidates) {
        QString found = QStandardPaths::findExecutable(QString::fromLatin1(candidate.name));
        if (!found.isEmpty()) return ImageEditor{found, candidate.arguments};
    }
    return {};
}

bool SaveScreenshotWhileRepainting(const CapturedImage& image, WStringView basePath,
                                   ScreenshotFormat format, WString& path) {
    const BgraBitmap bitmap = image.Bitmap();
    const WString base(basePath);
    WString written;
    bool saved = RunWhileRepainting([&] { return SaveScreenshot(bitmap, base, format, written); });
    path = written;
    return saved;
}

void ReportScreenshotNotSaved(WStringView path) {
    ShowTypedMessage(kMbOk | kMbIconError, kErrorCaption,
                     u"スクリーンショットを保存できませんでした: %s", path);
}

ScreenshotPreview::ScreenshotPreview(QWidget* owner, const CapturedImage& image, WString basePath,
                                     ScreenshotFormat remembered, ImageEditor editor)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      image(image),
      basePath(std::move(basePath)),
      remembered(remembered),
      editor(std::move(editor)),
      chosenFormat(remembered) {
    setWindowTitle(QString::fromStdU16String(kScreenshotPreviewCaption));
    setFont(DialogFont());
    PlaceControls();
    (remembered == kScreenshotJpeg ? jpegButton : pngButton)->setChecked(true);
}

void ScreenshotPreview::PlaceControls() {
    DialogUnits units(font());
    setFixedSize(units.X(kDialogWidthUnits), units.Y(kDialogHeightUnits));

    auto* group = new QGroupBox(this);
    group->setGeometry(units.Rect(4, 268, 112, 32));
    // The radio buttons are the dialog's children like the group box, so the table's
    // positions hold; the button group makes them exclusive.
    pngButton = new QRadioButton(QStringLiteral("PNG形式で保存して送信"), this);
    pngButton->setObjectName(QStringLiteral("png"));
    pngButton->setGeometry(units.Rect(8, 276, 100, 10));
    jpegButton = new QRadioButton(QStringLiteral("JPG形式で保存して送信"), this);
    jpegButton->setObjectName(QStringLiteral("jpeg"));
    jpegButton->setGeometry(units.Rect(8, 288, 100, 10));
    auto* formats = new QButtonGroup(this);
    formats->addButton(pngButton);
    formats->addButton(jpegButton);

    auto* paintButton = new QPushButton(QStringLiteral("ペイントで編集して送信"), this);
    paintButton->setObjectName(QStringLiteral("paint"));
    // The button's text is longer than its place in dialog units in most fonts: it grows to
    // the left, into the free space beside the format choice, keeping its right edge.
    QRect paintPlace = units.Rect(156, 283, 81, 14);
    paintPlace.setLeft(paintPlace.right() + 1 -
                       std::max(paintPlace.width(), ButtonTextWidth(paintButton)));
    paintButton->setGeometry(paintPlace);
    auto* sendButton = new QPushButton(QStringLiteral("送信"), this);
    sendButton->setObjectName(QStringLiteral("send"));
    sendButton->setGeometry(units.Rect(244, 283, 50, 14));
    auto* cancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    cancelButton->setGeometry(units.Rect(299, 283, 50, 14));
    // Qt would make the first button the default, and Enter would then start the editor and
    // send: in this dialog Enter does nothing.
    for (QPushButton* button : {paintButton, sendButton, cancelButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(paintButton, &QPushButton::clicked, this, [this] { OnPaint(); });
    connect(sendButton, &QPushButton::clicked, this, [this] { OnSend(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { reject(); });

    // Centred on the screen rather than over the owner.
    QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

QRect ScreenshotPreview::PictureRect() const {
    PreviewRect place =
        PreviewPlacement(width(), height(), image.Shown().width(), image.Shown().height());
    return QRect(place.x, place.y, place.width, place.height);
}

void ScreenshotPreview::paintEvent(QPaintEvent*) {
    QRect place = PictureRect();
    if (place.isEmpty()) return;
    const qreal ratio = devicePixelRatioF();
    const QSize target = place.size() * ratio;
    if (scaled.size() != target) {
        scaled = QPixmap::fromImage(
            image.Shown().scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        scaled.setDevicePixelRatio(ratio);
    }
    QPainter painter(this);
    painter.drawPixmap(place.topLeft(), scaled);
}

void ScreenshotPreview::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Esc cancels
}

void ScreenshotPreview::OnSend() {
    chosenFormat = jpegButton->isChecked() ? kScreenshotJpeg : kScreenshotPng;
    // Written while the dialog is still up, greyed: a large picture takes a while to compress.
    busy = true;
    setEnabled(false);
    WString path;
    if (SaveScreenshotWhileRepainting(image, basePath, chosenFormat, path))
        writtenPath = path;
    else
        ReportScreenshotNotSaved(path);
    busy = false;
    choice = Choice::Send;
    done(QDialog::Accepted);
}

void ScreenshotPreview::reject() {
    if (busy) return;
    choice = Choice::Cancel;
    QDialog::reject();
}

void ScreenshotPreview::OnPaint() {
    if (editor.program.isEmpty()) {
        ShowTypedMessage(kMbOk | kMbIconInformation, kScreenshotPreviewCaption,
                         u"画像を編集するプログラムが見つかりません (%s)", EditorNames());
        return;
    }
    // Greyed while the file is written and the editor runs: clicks held back during the
    // wait must not reach the buttons once it ends.
    busy = true;
    setEnabled(false);
    // The editor opens the real file, and what it saves there is what gets sent. The format
    // is the remembered one: only the send button reads the radio buttons.
    WString path;
    bool edited = false;
    if (!SaveScreenshotWhileRepainting(image, basePath, remembered, path)) {
        ReportScreenshotNotSaved(path);
    } else {
        writtenPath = path;
        const QString file = AbsolutePath(path);
        const QFileInfo written(file);
        const QDateTime before = written.lastModified();
        const qint64 sizeBefore = written.size();
        edited = RunEditor(file) && EditingDone(file, before, sizeBefore);
    }
    busy = false;
    setEnabled(true);
    if (!edited) return;
    choice = Choice::Edited;
    done(QDialog::Accepted);
}

bool ScreenshotPreview::EditingDone(const QString& file, const QDateTime& before,
                                    qint64 sizeBefore) {
    const QFileInfo after(file);
    if (after.lastModified() != before || after.size() != sizeBefore) return true;
    // Many editors hand the file to a copy already running and end at once: the picture
    // is then still being edited, or not at all. Only the user can tell.
    return ShowTypedMessage(kMbOkCancel | kMbIconQuestion, kScreenshotPreviewCaption,
                            u"画像はまだ変更されていません。\r\n"
                            u"編集を終えて保存したら OK を押してください。その画像を送信します。"
                            u"\r\nキャンセルを押すと送信しません。") == kIdOk;
}

bool ScreenshotPreview::RunEditor(const QString& file) {
    // Not parented: an editor still open when the wait ends (the program quitting) must
    // not be killed with the user's unsaved work. It deletes itself once it ends.
    auto* process = new QProcess;
    process->setProgram(editor.program);
    process->setArguments(editor.arguments + QStringList{file});
    QEventLoop loop;
    bool ended = false;
    // Connected before the start, so that a quick end is never missed.
    connect(process, &QProcess::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start();
    if (!process->waitForStarted(kEditorStartMilliseconds)) {
        ShowTypedMessage(kMbOk | kMbIconError, kErrorCaption,
                         u"画像を編集するプログラムを起動できませんでした: %s",
                         editor.program.toStdU16String());
        delete process;
        return false;
    }
    if (!ended) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return ended;
}

}  // namespace mirka
