#include "gui/input_dialog.h"

#include <algorithm>

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "gui/dialog_units.h"
#include "toolkit/input_dialog_layout.h"

namespace mirka {
namespace {

// Room kept beside the controls when a window frame takes more than the outer size allows.
constexpr int kSpareRoom = 8;

QRect ToQRect(const PixelRect& r) {
    return QRect(r.x, r.y, r.width, r.height);
}

// A label shows CR LF, CR and LF each as one line break.
QString PromptForLabel(WStringView prompt) {
    QString text = QString::fromStdU16String(WString(prompt));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

class InputDialog : public QDialog {
public:
    InputDialog(QWidget* owner, WStringView caption, WStringView prompt, WStringView text,
                bool mustNotBeEmpty)
        : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          layout(LayoutInputDialog(prompt)),
          mustNotBeEmpty(mustNotBeEmpty) {
        setFont(DialogFont());
        setWindowTitle(QString::fromStdU16String(WString(caption)));

        promptLabel = new QLabel(PromptForLabel(prompt), this);
        promptLabel->setObjectName(QStringLiteral("prompt"));
        promptLabel->setTextFormat(Qt::PlainText);  // a prompt is never markup
        promptLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        promptLabel->setGeometry(ToQRect(layout.prompt));

        edit = new QLineEdit(QString::fromStdU16String(WString(text)), this);
        edit->setObjectName(QStringLiteral("edit"));
        edit->setGeometry(ToQRect(layout.edit));

        okButton = new QPushButton(QStringLiteral("OK"), this);
        okButton->setObjectName(QStringLiteral("ok"));
        okButton->setDefault(true);
        okButton->setGeometry(ToQRect(layout.okButton));
        connect(okButton, &QPushButton::clicked, this, [this] { OnOk(); });

        edit->setFocus();
        Place();
    }

    const WString& Result() const { return result; }

    // Esc and the close box both end up here: they do not close the dialog.
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        // The frame is known only once the window exists.
        Place();
    }

private:
    void OnOk() {
        WString entry = edit->text().toStdU16String();
        CutUnits(entry, kInputResultUnits);
        if (entry.empty() && mustNotBeEmpty) return;
        result = std::move(entry);
        accept();
    }

    // The outer size is the layout's; the client area is what the frame leaves of it, but
    // never less than the controls need.
    void Place() {
        const QSize frame = frameGeometry().size() - geometry().size();
        const int width =
            std::max(layout.windowWidth - frame.width(), layout.ContentRight() + kSpareRoom);
        const int height =
            std::max(layout.windowHeight - frame.height(), layout.ContentBottom() + kSpareRoom);
        setFixedSize(width, height);

        QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (!screen) return;
        const QRect area = screen->geometry();
        PixelRect place = CentreOnScreen(area.width(), area.height(), width + frame.width(),
                                         height + frame.height());
        move(area.x() + place.x, area.y() + place.y);
    }

    InputDialogLayout layout;
    bool mustNotBeEmpty;
    QLabel* promptLabel = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton* okButton = nullptr;
    WString result;
};

}  // namespace

bool ShowInputDialog(QWidget* owner, WStringView caption, WStringView prompt, WString& text,
                     std::size_t capacity, bool mustNotBeEmpty) {
    const std::size_t taken = kInputTextTaken + 1;
    InputDialog dialog(owner, FitField(caption, taken), FitField(prompt, taken),
                       FitField(text, taken), mustNotBeEmpty);
    if (dialog.exec() != QDialog::Accepted) return false;
    text = FitField(dialog.Result(), capacity);
    return true;
}

}  // namespace mirka
