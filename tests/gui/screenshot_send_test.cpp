#include <fstream>

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>

#include "gui/input_box.h"
#include "gui/screenshot_paste.h"
#include "gui/screenshot_preview.h"
#include "gui/talk_window.h"
#include "gui_wait.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

std::vector<char> Bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

// Left Ctrl+V with a picture on the clipboard, "送信" in the preview, and the file arrives at
// the linked peer byte for byte.
TEST(ScreenshotSend, LeftControlVSendsThePictureToThePeer) {
    test::TempFolder work;
    test::TempFolder inbox;
    auto saved = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    {
        test::LinkedPair pair;
        ASSERT_TRUE(pair.Link());
        pair.serverValues.SetReceiveFolder(inbox.WithSeparator());
        TalkWindow::Hooks hooks;
        hooks.pasteScreenshot = [&](QWidget* owner) {
            return PasteScreenshot(owner, pair.clientValues);
        };
        TalkWindow client(*pair.client, pair.clientValues, "10.0.0.2", hooks);
        TalkWindow server(*pair.server, pair.serverValues, "10.0.0.1", {});
        client.show();

        QImage image(64, 48, QImage::Format_ARGB32);
        image.fill(QColor(10, 200, 30));
        QApplication::clipboard()->setImage(image);
        QTimer::singleShot(50, [] {
            auto* preview = dynamic_cast<ScreenshotPreview*>(QApplication::activeModalWidget());
            ASSERT_NE(preview, nullptr);
            preview->findChild<QAbstractButton*>(QStringLiteral("send"))->click();
        });
        InputBox* box = client.Input();
        QKeyEvent control(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, 37,
                          kLeftControlKeysym, 0);
        QCoreApplication::sendEvent(box, &control);
        QKeyEvent v(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
        QCoreApplication::sendEvent(box, &v);

        ASSERT_EQ(client.Transfers().Count(), 1);
        std::filesystem::path sent = ToFsPath(client.Transfers().Cell(0, kColumnPath));
        ASSERT_TRUE(test::WaitWithEvents([&] {
            return server.Transfers().Count() == 1 &&
                   server.Transfers().Cell(0, kColumnPercent) == u"100.00%";
        }));
        std::filesystem::path received = ToFsPath(server.Transfers().Cell(0, kColumnPath));
        EXPECT_EQ(sent.filename(), received.filename());
        EXPECT_EQ(Bytes(received), Bytes(sent));
        EXPECT_TRUE(box->toPlainText().isEmpty());  // the key was swallowed
    }
    std::filesystem::current_path(saved);
}

}  // namespace
}  // namespace mirka
