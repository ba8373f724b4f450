#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "gui/dialog_units.h"
#include "gui/screenshot_paste.h"
#include "gui/screenshot_preview.h"
#include "screenshot/remembered_format.h"
#include "support/recorders.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;
using Act = std::function<void(ScreenshotPreview&)>;

// Acts on the preview from inside its modal loop once it is shown; a preview still open
// after ten seconds is a failure and is closed so that the test ends.
class PreviewDriver {
public:
    explicit PreviewDriver(Act act) : act(std::move(act)) {
        QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
        timer.start(5);
    }
    bool Opened() const { return opened; }

private:
    void Poll() {
        auto* preview = dynamic_cast<ScreenshotPreview*>(QApplication::activeModalWidget());
        if (!preview) return;
        if (!opened) {
            opened = true;
            openedAt = std::chrono::steady_clock::now();
            act(*preview);
        } else if (std::chrono::steady_clock::now() - openedAt > std::chrono::seconds(10)) {
            ADD_FAILURE() << "the preview stayed open";
            preview->reject();
        }
    }

    Act act;
    QTimer timer;
    bool opened = false;
    std::chrono::steady_clock::time_point openedAt;
};

void Click(ScreenshotPreview& preview, const char* name) {
    auto* button = preview.findChild<QAbstractButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

// Red above, blue below, so a picture upside down shows.
QImage TwoBands(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0));
    for (int y = height / 2; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(0, 0, 255));
    return image;
}

QImage Decode(const WString& path) {
    return QImage(QString::fromStdU16String(path));
}

// The screenshots land in the current folder, so each test gets an empty one.
class ScreenshotPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = fs::current_path();
        fs::current_path(folder.Path());
        RememberScreenshotFormat(kScreenshotPng);
    }
    void TearDown() override {
        fs::current_path(saved);
        QGuiApplication::clipboard()->clear();
    }
    // Pastes with `act` driving the preview; `opened` tells whether a preview was shown.
    WString Paste(Act act, bool* opened = nullptr) {
        PreviewDriver driver(std::move(act));
        WString path = PasteScreenshot(nullptr, values);
        if (opened) *opened = driver.Opened();
        return path;
    }
    std::size_t FilesIn(const fs::path& path) {
        if (!fs::is_directory(path)) return 0;
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(path), fs::directory_iterator()));
    }

    test::TempFolder folder;
    fs::path saved;
    ProgramValues values;
    test::MessageRecorder boxes;
};

TEST_F(ScreenshotPreviewTest, SendSavesThePictureTopUpAndRemembersTheFormat) {
    QGuiApplication::clipboard()->setImage(TwoBands(40, 30));
    WString png = Paste([](ScreenshotPreview& preview) {
        EXPECT_EQ(preview.windowTitle(), QStringLiteral("Screenshot Preview"));
        DialogUnits units(preview.font());
        EXPECT_EQ(preview.size(), QSize(units.X(356), units.Y(304)));
        EXPECT_TRUE(preview.findChild<QRadioButton*>(QStringLiteral("png"))->isChecked());
        // Smaller than the client area: its own size, centred across, at the top.
        EXPECT_EQ(preview.PictureRect(), QRect(preview.width() / 2 - 20, 0, 40, 30));
        Click(preview, "send");
    });
    EXPECT_THAT(ToUtf8(png), testing::MatchesRegex(R"(Screenshot/[0-9]{8}_[0-9]{6}\.png)"));
    QImage written = Decode(png);
    ASSERT_EQ(written.size(), QSize(40, 30));
    EXPECT_EQ(written.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(written.pixel(39, 29), qRgb(0, 0, 255));
    EXPECT_EQ(RememberedScreenshotFormat(), kScreenshotPng);

    WString jpeg = Paste([](ScreenshotPreview& preview) {
        preview.findChild<QRadioButton*>(QStringLiteral("jpeg"))->setChecked(true);
        Click(preview, "send");
    });
    EXPECT_EQ(PathExtensionPart(jpeg), u".jpg");
    written = Decode(jpeg);
    ASSERT_EQ(written.size(), QSize(40, 30));
    EXPECT_GT(qRed(written.pixel(5, 5)), 200);
    EXPECT_GT(qBlue(written.pixel(5, 25)), 200);
    EXPECT_EQ(RememberedScreenshotFormat(), kScreenshotJpeg);

    // The next preview starts with the format that was sent last.
    bool jpegChecked = false;
    Paste([&](ScreenshotPreview& preview) {
        jpegChecked = preview.findChild<QRadioButton*>(QStringLiteral("jpeg"))->isChecked();
        Click(preview, "cancel");
    });
    EXPECT_TRUE(jpegChecked);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ScreenshotPreviewTest, CancelKeepsTheFileAndSendsNothing) {
    QGuiApplication::clipboard()->setImage(TwoBands(8, 6));
    bool opened = false;
    // The radio button is not read on cancel: the remembered format (PNG) is written.
    WString path = Paste(
        [](ScreenshotPreview& preview) {
            preview.findChild<QRadioButton*>(QStringLiteral("jpeg"))->setChecked(true);
            preview.close();
        },
        &opened);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(path.empty());
    ASSERT_EQ(FilesIn("Screenshot"), 1u);
    fs::path kept = fs::directory_iterator("Screenshot")->path();
    EXPECT_EQ(kept.extension(), ".png");
    EXPECT_EQ(QImage(QString::fromStdString(kept.string())).size(), QSize(8, 6));
    EXPECT_EQ(RememberedScreenshotFormat(), kScreenshotPng);
}

TEST_F(ScreenshotPreviewTest, NoPictureMeansAnOrdinaryPaste) {
    QGuiApplication::clipboard()->setText(QStringLiteral("hello"));
    bool opened = true;
    EXPECT_TRUE(Paste([](ScreenshotPreview& preview) { preview.reject(); }, &opened).empty());
    EXPECT_FALSE(opened);
    EXPECT_FALSE(fs::exists("Screenshot"));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ScreenshotPreviewTest, PictureTheFilesCannotHoldIsReportedWithoutPreview) {
    // Wider than either file format allows.
    QImage wide(kMaxBitmapSide + 1, 1, QImage::Format_RGB32);
    wide.fill(Qt::white);
    QGuiApplication::clipboard()->setImage(wide);
    bool opened = true;
    EXPECT_TRUE(Paste([](ScreenshotPreview& preview) { preview.reject(); }, &opened).empty());
    EXPECT_FALSE(opened);
    EXPECT_FALSE(fs::exists("Screenshot"));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, kErrorCaption);

    // An empty picture.
    QGuiApplication::clipboard()->setImage(QImage());
    EXPECT_TRUE(Paste([](ScreenshotPreview& preview) { preview.reject(); }, &opened).empty());
    EXPECT_FALSE(opened);
    EXPECT_FALSE(fs::exists("Screenshot"));
    EXPECT_EQ(boxes.Boxes().size(), 2u);
}

TEST_F(ScreenshotPreviewTest, FileThatCannotBeWrittenIsReportedNotSentButSilentOnCancel) {
    std::ofstream("Screenshot") << "a file where the folder should be";
    QGuiApplication::clipboard()->setImage(TwoBands(8, 6));
    WString path = Paste([](ScreenshotPreview& preview) { Click(preview, "send"); });
    EXPECT_TRUE(path.empty());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, kErrorCaption);
    EXPECT_NE(boxes.Boxes()[0].text.find(u"Screenshot"), WString::npos);

    EXPECT_TRUE(Paste([](ScreenshotPreview& preview) { Click(preview, "cancel"); }).empty());
    EXPECT_EQ(boxes.Boxes().size(), 1u);
}

TEST_F(ScreenshotPreviewTest, TwoScreenshotsInOneSecondShareTheName) {
    auto send = [](ScreenshotPreview& preview) { Click(preview, "send"); };
    // Retried when the clock's second turns between the two pastes.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::filesystem::remove_all("Screenshot");  // files of an attempt the clock spoiled
        std::time_t before = std::time(nullptr);
        QGuiApplication::clipboard()->setImage(TwoBands(8, 6));
        WString first = Paste(send);
        QGuiApplication::clipboard()->setImage(TwoBands(12, 10));
        WString second = Paste(send);
        if (std::time(nullptr) != before) continue;
        EXPECT_EQ(first, second);
        EXPECT_EQ(Decode(second).size(), QSize(12, 10));  // the second replaced the first
        EXPECT_EQ(FilesIn("Screenshot"), 1u);
        return;
    }
    GTEST_SKIP() << "the clock's second kept turning between the pastes";
}

#ifndef _WIN32
// The Paint button writes the file before the editor starts and sends what the editor left
// under that name, in the remembered format whatever the radio buttons say.
TEST_F(ScreenshotPreviewTest, PaintSendsWhatTheEditorSaved) {
    QImage edited(5, 4, QImage::Format_RGB32);
    edited.fill(Qt::green);
    ASSERT_TRUE(edited.save(QStringLiteral("edited.png")));
    // A stand-in editor: it fails unless the file exists, then "saves" another picture.
    ImageEditor editor{
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("test -s \"$1\" && cp edited.png \"$1\""),
         QStringLiteral("editor")}};
    CapturedImage image(TwoBands(8, 6));
    ScreenshotPreview preview(nullptr, image, u"Screenshot/shot", kScreenshotPng, editor);
    PreviewDriver driver([](ScreenshotPreview& shown) {
        shown.findChild<QRadioButton*>(QStringLiteral("jpeg"))->setChecked(true);
        Click(shown, "paint");
    });
    preview.exec();
    EXPECT_EQ(preview.Result(), ScreenshotPreview::Choice::Edited);
    EXPECT_EQ(preview.WrittenPath(), u"Screenshot/shot.png");
    EXPECT_EQ(Decode(preview.WrittenPath()).size(), QSize(5, 4));
    EXPECT_TRUE(boxes.Boxes().empty());
}
#endif

// Enter must neither send nor start the editor; only Esc (or a button) ends the dialog.
TEST_F(ScreenshotPreviewTest, EnterDoesNothingAndEscCancels) {
    ImageEditor editor{QStringLiteral("/bin/sh"),
                       {QStringLiteral("-c"), QStringLiteral("touch started")}};
    CapturedImage image(TwoBands(8, 6));
    ScreenshotPreview preview(nullptr, image, u"Screenshot/shot", kScreenshotPng, editor);
    bool stayedOpen = false;
    PreviewDriver driver([&](ScreenshotPreview& shown) {
        for (QPushButton* button : shown.findChildren<QPushButton*>()) {
            EXPECT_FALSE(button->isDefault() || button->autoDefault())
                << button->objectName().toStdString();
            button->setFocus();
            QTest::keyClick(&shown, Qt::Key_Return);
            QTest::keyClick(&shown, Qt::Key_Enter);
        }
        stayedOpen = shown.isVisible();
        QTest::keyClick(&shown, Qt::Key_Escape);
    });
    preview.exec();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(preview.Result(), ScreenshotPreview::Choice::Cancel);
    EXPECT_FALSE(fs::exists("Screenshot"));
    EXPECT_FALSE(fs::exists("started"));
    EXPECT_TRUE(boxes.Boxes().empty());
}

#ifndef _WIN32
// An editor that hands the file to a copy already running ends at once and changes nothing:
// the user is asked, and a "not yet" keeps the dialog open without sending.
TEST_F(ScreenshotPreviewTest, EditorEndingAtOnceDoesNotSendWithoutConfirmation) {
    test::MessageRecorder notYet(kIdCancel);
    ImageEditor editor{QStringLiteral("/bin/true"), {}};
    CapturedImage image(TwoBands(8, 6));
    ScreenshotPreview preview(nullptr, image, u"Screenshot/shot", kScreenshotPng, editor);
    bool stayedOpen = false;
    PreviewDriver driver([&](ScreenshotPreview& shown) {
        Click(shown, "paint");
        stayedOpen = shown.isVisible() && shown.isEnabled();
        Click(shown, "cancel");
    });
    preview.exec();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(preview.Result(), ScreenshotPreview::Choice::Cancel);
    ASSERT_EQ(notYet.Boxes().size(), 1u);
    EXPECT_EQ(notYet.Boxes()[0].type & kMbOkCancel, kMbOkCancel);
}
#endif

// PNG of a large noisy picture takes from a tenth of a second to seconds; the window thread
// must go on answering queued calls meanwhile.
TEST_F(ScreenshotPreviewTest, CompressionLeavesTheWindowThreadAnswering) {
    QImage noise(3840, 2160, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) row[x] = (seed = seed * 1664525u + 1013904223u);
    }
    CapturedImage image(noise);
    ScreenshotPreview preview(nullptr, image, u"Screenshot/large", kScreenshotPng, ImageEditor{});

    std::atomic<bool> measuring{false};
    std::atomic<bool> stop{false};
    std::atomic<long long> slowest{0};
    std::atomic<int> answered{0};
    std::thread prober([&] {
        while (!stop) {
            if (!measuring) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            auto posted = std::chrono::steady_clock::now();
            auto done = std::make_shared<std::atomic<bool>>(false);
            QMetaObject::invokeMethod(
                qApp, [done] { *done = true; }, Qt::QueuedConnection);
            while (!*done && !stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!*done || !measuring) continue;
            auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - posted)
                              .count();
            slowest = std::max<long long>(slowest, waited);
            ++answered;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    PreviewDriver driver([&](ScreenshotPreview& shown) {
        shown.repaint();  // the first paint scales the picture: not part of the measure
        measuring = true;
        Click(shown, "send");
        measuring = false;
    });
    preview.exec();
    stop = true;
    prober.join();

    EXPECT_EQ(preview.Result(), ScreenshotPreview::Choice::Send);
    EXPECT_EQ(Decode(preview.WrittenPath()).size(), QSize(3840, 2160));
    EXPECT_GT(answered, 3);
    // Compressing this picture on the window thread holds it for well over a second; a loaded
    // machine may delay a queued call by a tenth of one without any fault.
    EXPECT_LT(slowest, 400);
}

TEST_F(ScreenshotPreviewTest, PaintWithoutEditorSaysSoAndStaysOpen) {
    CapturedImage image(TwoBands(8, 6));
    ScreenshotPreview preview(nullptr, image, u"Screenshot/shot", kScreenshotPng, ImageEditor{});
    bool stayedOpen = false;
    PreviewDriver driver([&](ScreenshotPreview& shown) {
        Click(shown, "paint");
        stayedOpen = shown.isVisible();
        Click(shown, "cancel");
    });
    preview.exec();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(preview.Result(), ScreenshotPreview::Choice::Cancel);
    EXPECT_TRUE(preview.WrittenPath().empty());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, kScreenshotPreviewCaption);
}

}  // namespace
}  // namespace mirka
