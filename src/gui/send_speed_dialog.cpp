#include "gui/send_speed_dialog.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/dialog_units.h"

namespace mirka {

namespace {
QString Text(WStringView text) {
    return QString::fromStdU16String(WString(text));
}
}  // namespace

std::optional<SendPace> ChooseSendPace(QWidget* owner, const SendPace& current) {
    QDialog dialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint);
    dialog.setObjectName(QStringLiteral("sendSpeed"));
    dialog.setFont(DialogFont());
    dialog.setWindowTitle(Text(kSendSpeedCaption));
    DialogUnits units(dialog.font());

    auto* page = new QVBoxLayout(&dialog);
    page->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
    auto* prompt = new QLabel(Text(u"ファイルを送る速さの上限を選んでください。\n"
                                   u"速くするほど回線を多く使います。"),
                              &dialog);
    page->addWidget(prompt);
    auto* group = new QButtonGroup(&dialog);
    const auto& choices = SendPaceChoices();
    for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
        auto* button = new QRadioButton(Text(choices[i].label), &dialog);
        button->setChecked(choices[i].pace == current);
        group->addButton(button, i);
        page->addWidget(button);
    }
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)
        ->setObjectName(QStringLiteral("ok"));
    buttons->addButton(Text(u"キャンセル"), QDialogButtonBox::RejectRole);
    page->addWidget(buttons);
    page->setSizeConstraint(QLayout::SetFixedSize);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    if (dialog.exec() != QDialog::Accepted || group->checkedId() < 0) return std::nullopt;
    return choices[static_cast<std::size_t>(group->checkedId())].pace;
}

}  // namespace mirka
