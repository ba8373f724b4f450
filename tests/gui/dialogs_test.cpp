#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/version_info.h"
#include "common/log_message.h"
#include "gui/file_dialogs.h"
#include "gui/font_dialog.h"
#include "gui/input_dialog.h"
#include "gui/version_box.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;

// Runs `action` on the next modal window of type T that opens (other than `previous`),
// polling the event loop that the modal call under test runs.
template <typename T>
void WhenModal(std::function<void(T*)> action, QWidget* previous = nullptr) {
    auto* timer = new QTimer;
    auto* waited = new int(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        T* found = modal == previous ? nullptr : qobject_cast<T*>(modal);
        if (!found && ++*waited < 500) return;
        timer->stop();
        timer->deleteLater();
        delete waited;
        if (found) {
            action(found);
        } else {
            ADD_FAILURE() << "no modal window appeared";
            if (modal) modal->close();
        }
    });
    timer->start(10);
}

QString Q(WStringView text) {
    return QString::fromStdU16String(WString(text));
}

// Qt's file dialog remembers the last folder in the user's settings; the tests keep theirs in
// a folder of their own so they neither read nor change the user's.
class IsolatedQtSettings : public ::testing::Environment {
public:
    void SetUp() override {
        folder = std::make_unique<test::TempFolder>();
        const QString path = QString::fromStdString(folder->Path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }
    void TearDown() override { folder.reset(); }

private:
    std::unique_ptr<test::TempFolder> folder;
};

[[maybe_unused]] const auto* const kIsolatedQtSettings =
    ::testing::AddGlobalTestEnvironment(new IsolatedQtSettings);

// --- Input dialog ---------------------------------------------------------------------------

TEST(InputDialogTest, SizedByThePromptAndCentred) {
    WString text = u"名無し";
    QRect geometry, promptRect, editRect, okRect;
    QString title, prompt, edit;
    WhenModal<QDialog>([&](QDialog* dialog) {
        geometry = dialog->frameGeometry();
        title = dialog->windowTitle();
        auto* label = dialog->findChild<QLabel*>(QStringLiteral("prompt"));
        auto* line = dialog->findChild<QLineEdit*>(QStringLiteral("edit"));
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("ok"));
        promptRect = label->geometry();
        prompt = label->text();
        editRect = line->geometry();
        edit = line->text();
        okRect = ok->geometry();
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EXPECT_TRUE(ShowInputDialog(nullptr, u"入力", u"a\r\nb", text, 128));
    EXPECT_EQ(text, u"名無し");
    EXPECT_EQ(title, QStringLiteral("入力"));
    EXPECT_EQ(prompt, QStringLiteral("a\nb"));
    EXPECT_EQ(edit, QStringLiteral("名無し"));
    // W 100, H 48.
    EXPECT_EQ(geometry.size(), QSize(130, 148));
    EXPECT_EQ(promptRect, QRect(10, 10, 76, 48));
    EXPECT_EQ(editRect, QRect(10, 66, 106, 20));
    EXPECT_EQ(okRect, QRect(50, 94, 65, 24));
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(geometry.topLeft(), QPoint((screen.width() - 130) / 2, (screen.height() - 148) / 2));
}

TEST(InputDialogTest, OkIsTheOnlyWayOutAndEmptyIsRefusedWithTheFlag) {
    WString text = u"old";
    bool stillOpen = false;
    WhenModal<QDialog>([&](QDialog* dialog) {
        auto* line = dialog->findChild<QLineEdit*>(QStringLiteral("edit"));
        line->clear();
        QTest::keyClick(line, Qt::Key_Escape);
        dialog->close();
        QTest::keyClick(line, Qt::Key_Return);  // empty: refused
        QApplication::processEvents();
        stillOpen = dialog->isVisible();
        QTest::keyClicks(line, QStringLiteral("new"));
        QTest::keyClick(line, Qt::Key_Return);
    });
    EXPECT_TRUE(ShowInputDialog(nullptr, u"入力", u"prompt", text, 128, true));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(text, u"new");
}

TEST(InputDialogTest, ResultIsCutToTheCapacityAndMayBeEmptyWithoutTheFlag) {
    WString text = u"0123456789";
    WhenModal<QDialog>([](QDialog* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    });
    EXPECT_TRUE(ShowInputDialog(nullptr, u"c", u"p", text, 5));
    EXPECT_EQ(text, u"0123");

    // Never more than 1,023 units, whatever the capacity; a surrogate pair stays whole.
    text = WString(1022, u'x') + u"\U0001F600";
    WhenModal<QDialog>([](QDialog* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    });
    EXPECT_TRUE(ShowInputDialog(nullptr, u"c", u"p", text, 4096));
    EXPECT_EQ(text, WString(1022, u'x'));

    WhenModal<QDialog>([](QDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("edit"))->clear();
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    });
    EXPECT_TRUE(ShowInputDialog(nullptr, u"c", u"p", text, 128));
    EXPECT_EQ(text, u"");
}

// --- File and folder dialogs ----------------------------------------------------------------

void FillLog(LogDocument& log) {
    log.Append(BuildLogMessage(nullptr, u"System Message: \r\nabc\r\n"));
}

// QFileDialog::accept is protected; QDialog's is public and reaches it.
void Accept(QFileDialog* dialog) {
    static_cast<QDialog*>(dialog)->accept();
}

TEST(FileDialogsTest, SaveLogOffersBothKindsAndWritesTextForTxt) {
    test::TempFolder folder;
    LogDocument log;
    FillLog(log);
    QString title;
    QStringList filters;
    QString defaultSuffix;
    QString selectedFilter;
    // The dialog's own texts; choosing a file in Qt's dialog from a test is not reliable
    // offscreen, so the writing step is checked with the path it would return.
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        defaultSuffix = dialog->defaultSuffix();
        selectedFilter = dialog->selectedNameFilter();
        dialog->reject();
    });
    EXPECT_FALSE(SaveLogWithDialog(nullptr, log));
    EXPECT_EQ(title, QStringLiteral("保存先を指定してください"));
    EXPECT_EQ(filters, (QStringList{QStringLiteral("テキスト (*.txt)"),
                                    QStringLiteral("リッチテキスト (*.rtf)")}));
    // It starts on the first kind, テキスト, while still proposing "log.rtf".
    EXPECT_EQ(selectedFilter, QStringLiteral("テキスト (*.txt)"));
    EXPECT_EQ(defaultSuffix, QStringLiteral("txt"));
    fs::path target = folder.Path() / "Log.TXT";
    EXPECT_TRUE(SaveLogOrWarn(nullptr, log, FromFsPath(target)));
    std::ifstream in(target, std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents.substr(0, 3), "\xEF\xBB\xBF");  // plain text, not RTF
    EXPECT_NE(contents.find("abc"), std::string::npos);
}

TEST(FileDialogsTest, FailedSaveIsReportedNotTakenForSuccess) {
    test::TempFolder folder;
    LogDocument log;
    FillLog(log);
    QString warning;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        warning = box->text();
        box->accept();
    });
    EXPECT_FALSE(SaveLogOrWarn(nullptr, log, FromFsPath(folder.Path() / "missing" / "log.rtf")));
    EXPECT_TRUE(warning.contains(QStringLiteral("ログを保存できませんでした")))
        << warning.toStdString();
}

TEST(FileDialogsTest, CancelKeepsThePreviousPaths) {
    // Joining the chosen names to the folder is tested without a window (filter_list_test);
    // here only that a cancelled dialog answers false and keeps what it had.
    test::TempFolder folder;
    CMyFileDialog dialog;
    dialog.multipleSelection = true;
    dialog.initialFolder = FromFsPath(folder.Path());
    WhenModal<QFileDialog>([](QFileDialog* files) { files->reject(); });
    EXPECT_FALSE(dialog.Show());
    EXPECT_TRUE(dialog.Paths().empty());
}

TEST(FileDialogsTest, FolderBrowserReturnsTheLengthOrLeavesThePath) {
    test::TempFolder folder;
    CMyFolderDialog browser;
    WString path = u"unchanged";
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(browser.BrowseForFolder(nullptr, kFolderDialogTitle, path), 0u);
    EXPECT_EQ(path, u"unchanged");

    QString title;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        dialog->setDirectory(Q(FromFsPath(folder.Path())));
        Accept(dialog);
    });
    std::size_t length = browser.BrowseForFolder(nullptr, kFolderDialogTitle, path);
    EXPECT_EQ(title, QStringLiteral("フォルダを選択して下さい"));
    EXPECT_EQ(path, FromFsPath(folder.Path()));
    EXPECT_EQ(length, path.size());
}

// --- Font chooser ---------------------------------------------------------------------------

TEST(FontDialogTest, KeepsFaceHeightAndColour) {
    test::TempFolder folder;
    ProgramValues values;  // ＭＳ Ｐゴシック, -210, black
    WString shownFace;
    WhenModal<QDialog>([&](QDialog* modal) {
        auto* dialog = dynamic_cast<ChatFontDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        shownFace = dialog->Chosen().Face();
        EXPECT_EQ(dialog->Chosen().height, -21);  // untouched size keeps the height
        dialog->findChild<QComboBox*>(QStringLiteral("face"))->setEditText(QStringLiteral("Serif"));
        dialog->SetColor(0x0000FF);
        dialog->accept();
    });
    EXPECT_TRUE(ChooseChatFont(nullptr, values, folder.Path() / "Font.ini"));
    EXPECT_EQ(shownFace, u"ＭＳ Ｐゴシック");
    CharFormat font = values.ChatFont();
    EXPECT_EQ(font.Face(), u"Serif");
    EXPECT_EQ(font.height, -210);
    EXPECT_EQ(font.color, 0x0000FFu);

    WhenModal<QDialog>([](QDialog* modal) { modal->reject(); });
    EXPECT_FALSE(ChooseChatFont(nullptr, values, folder.Path() / "Font.ini"));
    EXPECT_EQ(values.ChatFont(), font);
}

TEST(FontDialogTest, StartsFromFontIniAndTakesANewSize) {
    test::TempFolder folder;
    LogFont ini;
    ini.height = -16;
    ini.SetFace(u"Monospace");
    auto bytes = ini.Encode();
    std::ofstream(folder.Path() / "Font.ini", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    ProgramValues values;
    WhenModal<QDialog>([](QDialog* modal) {
        auto* size = modal->findChild<QSpinBox*>(QStringLiteral("size"));
        EXPECT_EQ(size->value(), 12);  // 16 pixels
        size->setValue(18);
        modal->accept();
    });
    EXPECT_TRUE(ChooseChatFont(nullptr, values, folder.Path() / "Font.ini"));
    EXPECT_EQ(values.ChatFont().Face(), u"Monospace");
    EXPECT_EQ(values.ChatFont().height, -240);  // 18 points are 24 pixels
}

// --- Version box ----------------------------------------------------------------------------

TEST(VersionBoxTest, ShowsStampAndChangeLogAndEndsOnlyByOkOrClose) {
    test::TempFolder folder;
    std::ofstream(folder.Path() / "changelog.txt", std::ios::binary) << "abc\r\n";
    std::vector<QUrl> opened;
    VersionBox box(nullptr, folder.Path(), [&](const QUrl& url) { opened.push_back(url); });
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));

    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("version"))->text(),
              QStringLiteral("ミルカ Ver1.00"));
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("stamp"))->text(), Q(BuildStamp()));
    // abc and the CR, which shows as the line's end; the LF is not read.
    EXPECT_EQ(box.findChild<QPlainTextEdit*>(QStringLiteral("changeLog"))->toPlainText(),
              QStringLiteral("abc\n"));

    auto* link = box.findChild<QLabel*>(QStringLiteral("link"));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), Q(kHomePageAddress));

    // Neither on the button nor in the change log do Enter and Esc end the box.
    for (QWidget* target :
         {static_cast<QWidget*>(box.findChild<QPushButton*>(QStringLiteral("ok"))),
          static_cast<QWidget*>(box.findChild<QPlainTextEdit*>(QStringLiteral("changeLog")))}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_TRUE(box.isVisible());
    box.close();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);

    box.show();
    QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST(VersionBoxTest, MissingChangeLogLeavesTheFieldEmpty) {
    test::TempFolder folder;
    VersionBox box(nullptr, folder.Path(), {});
    EXPECT_TRUE(
        box.findChild<QPlainTextEdit*>(QStringLiteral("changeLog"))->toPlainText().isEmpty());
}

}  // namespace
}  // namespace mirka
