#pragma once

#include <QDateTime>
#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QStringList>

#include "screenshot/bgra_bitmap.h"
#include "screenshot/screenshot_file.h"
#include "toolkit/text.h"

class QRadioButton;

namespace mirka {

inline constexpr char16_t kScreenshotPreviewCaption[] = u"Screenshot Preview";

// The clipboard's picture copied into opaque 32-bit pixels: the preview shows it and the
// writers read it, so what is seen is what gets saved.
class CapturedImage {
public:
    explicit CapturedImage(const QImage& picture);
    virtual ~CapturedImage() = default;

    // False for an empty picture, a side the writers cannot hold, or too little memory.
    bool IsUsable() const;
    const QImage& Shown() const { return shown; }
    BgraBitmap Bitmap() const;

private:
    QImage shown;  // Format_RGB32
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    QImage bgra;  // RGB32 is not blue-green-red-x in memory here
#endif
};

// The program that the Paint button starts, with the arguments that go before the file.
struct ImageEditor {
    QString program;
    QStringList arguments;
};

// The first image editor installed: Paint on Windows; Pinta, KolourPaint, GIMP or Krita
// elsewhere. An empty program when there is none.
ImageEditor FindImageEditor();

// Compresses and writes the screenshot on a worker thread while the window thread keeps
// repainting but takes no input; as SaveScreenshot otherwise.
bool SaveScreenshotWhileRepainting(const CapturedImage& image, WStringView basePath,
                                   ScreenshotFormat format, WString& path);

// The "Screenshot Preview" dialog: the picture shrunk to fit above the bottom strip, the
// format choice and the three buttons, none of them a default button (Enter does nothing,
// Esc cancels). It writes the file for the send and Paint buttons, while it stays open; the
// caller writes it after a cancel.
class ScreenshotPreview : public QDialog {
public:
    enum class Choice { Cancel, Send, Edited };

    // `remembered` selects the radio button and is the format the Paint button writes.
    ScreenshotPreview(QWidget* owner, const CapturedImage& image, WString basePath,
                      ScreenshotFormat remembered, ImageEditor editor);

    Choice Result() const { return choice; }
    // The radio button's format when the dialog ended with the send button.
    ScreenshotFormat ChosenFormat() const { return chosenFormat; }
    // The file written for the send or Paint button; empty when none was written (the send
    // button's failure has been reported then).
    const WString& WrittenPath() const { return writtenPath; }
    // Where the picture is drawn in the client area.
    QRect PictureRect() const;

    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PlaceControls();
    void OnSend();
    void OnPaint();
    // Runs the editor on the file and waits for it, repainting but taking no input. True
    // when the editor ran and ended.
    bool RunEditor(const QString& file);
    // After the editor: true when the file changed, or when the user says editing is done.
    bool EditingDone(const QString& file, const QDateTime& before, qint64 sizeBefore);

    const CapturedImage& image;
    WString basePath;
    ScreenshotFormat remembered;
    ImageEditor editor;
    QRadioButton* pngButton = nullptr;
    QRadioButton* jpegButton = nullptr;
    QPixmap scaled;  // the picture at its drawn size, made once per size
    Choice choice = Choice::Cancel;
    bool busy = false;  // writing or waiting for the editor: closing must wait
    ScreenshotFormat chosenFormat;
    WString writtenPath;
};

// Reports a screenshot that could not be written (the path names it).
void ReportScreenshotNotSaved(WStringView path);

}  // namespace mirka
