#pragma once

#include <filesystem>
#include <functional>

#include <QDialog>
#include <QLabel>
#include <QUrl>

class QKeyEvent;
class QMouseEvent;

// The version box: name and version, build stamp, author, a link to the home page and the
// change log kept beside the program file.
namespace mirka {

// The home-page link: blue, underlined, a hand cursor over it; a left click hands the
// address to `open`.
class VersionLink : public QLabel {
public:
    using Opener = std::function<void(const QUrl&)>;
    VersionLink(const QString& address, Opener open, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString address;
    Opener open;
};

// OK and the close box end it; Enter and Esc do nothing.
class VersionBox : public QDialog {
public:
    VersionBox(QWidget* owner, const std::filesystem::path& programFolder,
               VersionLink::Opener open);

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Runs the box modally, with the change log from the program's own folder and the link
// opened by the desktop's browser.
void ShowVersionBox(QWidget* owner);

}  // namespace mirka
