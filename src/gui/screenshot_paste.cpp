#include "gui/screenshot_paste.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "gui/screenshot_preview.h"
#include "screenshot/remembered_format.h"
#include "toolkit/file_system.h"
#include "toolkit/message_box.h"
#include "toolkit/platform.h"

namespace mirka {

WString PasteScreenshot(QWidget* owner, ProgramValues&) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasImage()) return WString();
    QImage picture = qvariant_cast<QImage>(data->imageData());

    CapturedImage image(picture);
    if (!image.IsUsable()) {
        // An empty picture, one too large for the file formats, or no memory for the copy.
        ShowTypedMessage(kMbOk | kMbIconError, kErrorCaption,
                         u"この画像 (%d x %d) はスクリーンショットとして保存できません",
                         picture.width(), picture.height());
        return WString();
    }

    // The name comes from the moment of the paste, not of the choice.
    const WString basePath = ScreenshotBasePath(LocalTimeNow());
    ScreenshotPreview preview(owner, image, basePath, RememberedScreenshotFormat(),
                              FindImageEditor());
    preview.exec();

    switch (preview.Result()) {
        case ScreenshotPreview::Choice::Send:
            // Written by the dialog; empty (and reported) when that failed, so a missing or
            // older file of the same name is never sent.
            RememberScreenshotFormat(preview.ChosenFormat());
            return preview.WrittenPath();
        case ScreenshotPreview::Choice::Edited:
            // Whatever the editor saved under the name is sent; it may also have removed it.
            if (FileExists(preview.WrittenPath())) return preview.WrittenPath();
            ReportScreenshotNotSaved(preview.WrittenPath());
            return WString();
        case ScreenshotPreview::Choice::Cancel:
            // A cancelled preview still keeps its picture in the folder; the Paint button
            // may have written it already (and the editor may still have it open). Nothing
            // was asked for, so a failure stays silent.
            if (preview.WrittenPath().empty()) {
                WString path;
                SaveScreenshotWhileRepainting(image, basePath, RememberedScreenshotFormat(), path);
            }
            return WString();
    }
    return WString();
}

}  // namespace mirka
