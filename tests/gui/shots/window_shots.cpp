// Renders the program's windows to PNG files on the offscreen platform, so anyone can look
// at them: window_shots <folder> <suffix>. scripts/screenshots.sh runs it at 100 % and 150 %.
#include <clocale>
#include <cstdio>
#include <filesystem>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolTip>

#include "gui/file_dialogs.h"
#include "gui/font_dialog.h"
#include "gui/input_dialog.h"
#include "gui/login_window.h"
#include "gui/program_files.h"
#include "gui/screenshot_preview.h"
#include "gui/send_speed_dialog.h"
#include "gui/transfer_list_view.h"
#include "gui/version_box.h"
#include "sample_windows.h"
#include "text_fits.h"

namespace {

using namespace mirka;

int cutCount = 0;

void Save(QWidget* window, const QString& folder, const QString& name, const QString& suffix) {
    QString path = QDir(folder).filePath(name + QLatin1Char('-') + suffix + QStringLiteral(".png"));
    window->grab().save(path);
    for (const std::string& cut : test::CutTexts(window)) {
        std::printf("%s: cut: %s\n", qPrintable(name), cut.c_str());
        ++cutCount;
    }
    std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    QApplication::setWindowIcon(ProgramIcon());
    LoadQtJapanese(app);
    QString folder =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absolutePath();
    QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("100");
    QDir().mkpath(folder);
    // A fresh working folder: no conf.txt, so the login window shows the built-in values.
    QString work = QDir(folder).filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    QDir::setCurrent(work);

    {
        TaskManager link;
        ProfileList profiles;
        OwnReach reach;
        LoginWindow login(link, profiles, reach);
        login.show();
        QApplication::processEvents();
        Save(&login, folder, QStringLiteral("login"), suffix);
        // After a start behind a private IPv4 address: the copy takes the IPv6 one.
        reach.ownAddressText = "192.168.1.9";
        reach.ownIPv6Text = "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff";
        login.CopyAddress();
        QApplication::processEvents();
        Save(&login, folder, QStringLiteral("login-copied"), suffix);
        // The passphrase field's hint, as the pointer resting on it shows it.
        QToolTip::showText(login.passphraseField->mapToGlobal(QPoint(4, 4)),
                           login.passphraseField->toolTip(), login.passphraseField);
        QApplication::processEvents();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->inherits("QTipLabel") && top->isVisible())
                Save(top, folder, QStringLiteral("login-hint"), suffix);
        }
        QToolTip::hideText();
    }
    test::SampleTalkWindow talk;
    talk.window->show();
    QApplication::processEvents();
    Save(talk.window.get(), folder, QStringLiteral("talk"), suffix);
    talk.window->ShowPage(TalkWindow::Page::File);
    QApplication::processEvents();
    Save(talk.window.get(), folder, QStringLiteral("talk-file"), suffix);
    // The file menu with its ways to send, and the row menus of a paused and a finished row.
    if (auto* bar = talk.window->findChild<QMenuBar*>()) {
        QMenu* fileMenu = bar->actions().front()->menu();
        fileMenu->popup(talk.window->mapToGlobal(QPoint(0, bar->height())));
        QApplication::processEvents();
        Save(fileMenu, folder, QStringLiteral("menu-file"), suffix);
        fileMenu->hide();
        // The settings menu, with the switch for the arrival notifications.
        QMenu* settingsMenu = bar->actions().at(2)->menu();
        settingsMenu->popup(talk.window->mapToGlobal(QPoint(0, bar->height())));
        QApplication::processEvents();
        Save(settingsMenu, folder, QStringLiteral("menu-settings"), suffix);
        settingsMenu->hide();
    }
    if (auto* list = talk.window->findChild<TransferListView*>()) {
        for (auto [row, name] : {std::pair{2, "menu-row-paused"}, std::pair{6, "menu-row-done"}}) {
            QMenu rowMenu;
            list->FillPopup(rowMenu, row);
            rowMenu.popup(talk.window->mapToGlobal(QPoint(40, 80)));
            QApplication::processEvents();
            Save(&rowMenu, folder, QString::fromLatin1(name), suffix);
            rowMenu.hide();
        }
    }
    {
        // The log lines of a pause, a refusal and a proven arrival, as the window words them.
        test::SampleTalkWindow logged;
        std::vector<TransferRow> rows = logged.window->Transfers().Rows();
        logged.window->AppendLog(TransferControlMessage(rows[1], TransferControl::Pause, true));
        TransferRow offered = rows[0];
        offered.stage = TransferStage::Waiting;
        logged.window->AppendLog(TransferControlMessage(offered, TransferControl::Cancel, true));
        TransferFigures proven{TransferDirection::Receiving, 1, 73, 73, 0};
        proven.verified = true;
        logged.window->AppendLog(TransferCompleteMessage(proven, u"/home/hanako/受信/メモ.txt"));
        logged.window->show();
        QApplication::processEvents();
        Save(logged.window.get(), folder, QStringLiteral("talk-log"), suffix);
    }
    {
        test::SealedTalkWindow sealed;
        if (!sealed.linked) std::printf("talk-sealed: the loopback link did not come up\n");
        sealed.window->show();
        QApplication::processEvents();
        Save(sealed.window.get(), folder, QStringLiteral("talk-sealed"), suffix);
    }

    auto shoot = [&](const QString& name) {
        return [&, name](QWidget* dialog) {
            QApplication::processEvents();
            Save(dialog, folder, name, suffix);
        };
    };
    test::WithModalDialog([&] { ChooseSendPace(talk.window.get(), SendPace{}); },
                          shoot(QStringLiteral("send-speed")));
    test::WithModalDialog(
        [&] {
            WString name = u"名無しさんだよもん";
            ShowInputDialog(talk.window.get(), u"入力", u"使用する名前を入力してください", name,
                            128);
        },
        shoot(QStringLiteral("input")));
    test::WithModalDialog([&] { ShowVersionBox(talk.window.get()); },
                          shoot(QStringLiteral("version")));
    test::WithModalDialog(
        [&] { ChooseChatFont(talk.window.get(), talk.values, std::filesystem::path("Font.ini")); },
        shoot(QStringLiteral("font")));
    // Qt's own save dialog, to see it speak Japanese, with a file in its folder so that the
    // size and type columns show what they hold.
    QFile sample(QDir(work).filePath(QStringLiteral("記録.txt")));
    if (sample.open(QIODevice::WriteOnly)) sample.write("7 bytes");
    sample.close();
    test::WithModalDialog([&] { SaveLogWithDialog(talk.window.get(), talk.window->Log()); },
                          shoot(QStringLiteral("save")));
    // The screenshot preview, with a plain picture (no editor is started).
    QImage picture(640, 400, QImage::Format_ARGB32);
    picture.fill(QColor(0x30, 0x60, 0xa0));
    CapturedImage captured(picture);
    ScreenshotPreview preview(nullptr, captured, u"Screenshot/shot", kScreenshotPng, ImageEditor{});
    preview.show();
    Save(&preview, folder, QStringLiteral("preview"), suffix);
    return cutCount == 0 ? 0 : 1;
}
