#include "gui/version_box.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

#include "app/version_info.h"
#include "gui/dialog_units.h"
#include "gui/program_files.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

constexpr int kLinkPixelHeight = 12;

QString ToQ(WStringView text) {
    return QString::fromStdU16String(WString(text));
}

QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& rect, const char* name,
                 Qt::Alignment alignment = Qt::AlignLeft) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(rect);
    GrowToText(label);
    return label;
}

}  // namespace

VersionLink::VersionLink(const QString& address, Opener open, QWidget* parent)
    : QLabel(address, parent), address(address), open(std::move(open)) {
    setTextFormat(Qt::PlainText);
    QFont linkFont = DialogFont();
    linkFont.setPixelSize(kLinkPixelHeight);
    linkFont.setUnderline(true);
    setFont(linkFont);
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(blue);
    setAutoFillBackground(false);
    setCursor(Qt::PointingHandCursor);
}

void VersionLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && open) {
        open(QUrl(address));
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

VersionBox::VersionBox(QWidget* owner, const std::filesystem::path& programFolder,
                       VersionLink::Opener open)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setFont(DialogFont());
    setWindowTitle(ToQ(kVersionBoxCaption));
    DialogUnits du(font());
    setFixedSize(du.X(243), du.Y(160));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    QRect iconRect = du.Rect(7, 7, 20, 20);
    icon->setGeometry(iconRect);
    icon->setPixmap(ProgramIcon().pixmap(iconRect.size()));

    AddLabel(this, ToQ(kProgramVersionText), du.Rect(36, 8, 56, 8), "version");
    AddLabel(this, ToQ(BuildStamp()), du.Rect(96, 8, 140, 8), "stamp", Qt::AlignRight);
    AddLabel(this, ToQ(kAuthorNotice), du.Rect(160, 20, 76, 8), "author", Qt::AlignRight);

    auto* link = new VersionLink(ToQ(kHomePageAddress), std::move(open), this);
    link->setObjectName(QStringLiteral("link"));
    link->setGeometry(du.Rect(36, 32, 200, 8));
    link->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    GrowToText(link);

    auto* changeLog = new QPlainTextEdit(this);
    changeLog->setObjectName(QStringLiteral("changeLog"));
    changeLog->setReadOnly(true);
    changeLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    changeLog->setGeometry(du.Rect(7, 44, 229, 87));
    changeLog->setPlainText(ToQ(ReadChangeLog(programFolder)));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    // Enter must not press it.
    ok->setAutoDefault(false);
    ok->setDefault(false);
    ok->setGeometry(du.Rect(188, 139, 48, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

// The close box ends the box like OK does.
void VersionBox::reject() {
    accept();
}

void VersionBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void ShowVersionBox(QWidget* owner) {
    // The change log lies beside the program, or in the data folder of an installed one.
    VersionBox box(owner, ToFsPath(ProgramDataFolder().toStdU16String()),
                   [](const QUrl& url) { QDesktopServices::openUrl(url); });
    box.exec();
}

}  // namespace mirka
