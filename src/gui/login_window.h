#pragma once

#include <string>

#include <QDialog>

#include "app/profiles.h"
#include "gui/profile_box.h"
#include "link/task_manager.h"
#include "upnp/login_status_port.h"
#include "upnp/port_mapping.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace mirka {

// The mode and the port mapping choice of the last start, for the next login window of the
// same run (a reconnect).
struct LoginChoice {
    bool made = false;
    bool server = false;
    bool noUpnp = false;
};

// The login window: server or client mode, the saved profiles, the port mapping and the
// start of the link. Ends with 1 when a link was started, 0 when the user gave up.
class LoginWindow : public QDialog, public LoginStatusPort {
public:
    // `reach` outlives the window: the talk window shows its address, and the pinhole of a
    // server start stays open with it.
    LoginWindow(TaskManager& link, ProfileList& profiles, OwnReach& reach,
                QWidget* parent = nullptr);
    // Empties the passphrase field and overwrites its characters.
    ~LoginWindow() override;

    // Shows the choice of the last start, if there was one, and keeps this one's there.
    void KeepChoiceIn(LoginChoice* choice);
    // The start button's handler.
    void StartLink();
    // The copy button's: the address a peer can type, as the core picks it, to the clipboard.
    void CopyAddress();

    // LoginStatusPort: from the port mapping's worker, queued to this window.
    void SetStatusText(const WString& text) override;
    void SetTitle(const WString& title) override;

    // The fields, for the window's own use and for tests.
    LoginFields Fields() const;
    void SetFields(const LoginFields& fields);
    QRadioButton* serverMode = nullptr;
    QRadioButton* clientMode = nullptr;
    QLineEdit* serverPort = nullptr;
    ProfileBox* profileBox = nullptr;
    QLineEdit* ipField = nullptr;
    QLineEdit* portField = nullptr;
    QCheckBox* noUpnp = nullptr;
    QLineEdit* passphraseField = nullptr;  // masked; never saved
    QPushButton* startButton = nullptr;
    QPushButton* exitButton = nullptr;
    QPushButton* copyButton = nullptr;
    QLabel* statusLine = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void SaveProfilesNow();

    TaskManager& link;
    ProfileList& profiles;
    OwnReach& reach;
    LoginChoice* kept = nullptr;
};

// The caption until the port mapping writes the own address into it: an empty caption
// would make the desktop show the program file's name.
inline constexpr char16_t kLoginWindowCaption[] = u"ミルカ";

// A port field's number as GetDlgItemInt reads it: no number, or one too large, gives 0.
std::uint32_t ReadPortField(const QString& text);

}  // namespace mirka
