#include <clocale>
#include <memory>

#include <QApplication>

#include "app/send_pace.h"
#include "app/settings.h"
#include "app/startup.h"
#include "common/debug_log.h"
#include "gui/blocking_call.h"
#include "gui/login_window.h"
#include "gui/program_files.h"
#include "gui/qt_message_presenter.h"
#include "gui/screenshot_paste.h"
#include "gui/talk_window.h"
#include "link/delivery_frames.h"
#include "search/search_text.h"
#include "search/web_search.h"
#include "toolkit/platform.h"

namespace {

using namespace mirka;

// The program's steps around its two windows, in the order RunProgram gives them.
class ProgramSteps : public StartupSteps {
public:
    explicit ProgramSteps(QtMessagePresenter& presenter) : presenter(presenter) {}
    void SetUserLocale() override { std::setlocale(LC_ALL, ""); }
    void BeginTimerResolution() override { BeginMillisecondTimer(); }
    void EndTimerResolution() override { EndMillisecondTimer(); }
    void LoadSettings() override {
        mirka::LoadSettings(values);
        SendPace pace = LoadSendPace();
        link.sendWait = pace.wait;
        link.sendBufSize = pace.bufSize;
        // Another copy of this program hears what this one can do beyond the original wire.
        link.SetCapabilities(kKnownCapabilities);
        WriteDebugLog("main", __LINE__, "data .. %s", ProgramDataFolder().toStdU16String());
    }
    void SaveSettings() override { mirka::SaveSettings(values); }

    int RunLoginWindow() override {
        LoginWindow login(link, profiles, reach);
        login.KeepChoiceIn(&loginChoice);
        return login.exec();
    }

    void RunTalkWindow() override {
        TalkWindow::Hooks hooks;
        hooks.reconnect = [this](QWidget* owner) {
            LoginWindow login(link, profiles, reach, owner);
            login.KeepChoiceIn(&loginChoice);
            return login.exec() != 0;
        };
        hooks.search = [this](const std::string& words) {
            mirka::RunWebSearch(words, [this](const WString& text) { link.QueueTextLine(text); });
        };
        hooks.pasteScreenshot = [this](QWidget* owner) { return PasteScreenshot(owner, values); };
        TalkWindow talk(link, values, reach.ownAddressText, hooks);
        talk.exec();
        // From here on the window thread shows no box for a worker: it waits in the
        // disconnect pause and then for the workers to end.
        presenter.StopServingWorkers();
        link.Disconnect();
        // The server no longer takes peers: its pinhole goes now, while the debug log is
        // still open to note it.
        reach.pinhole.reset();
    }

private:
    QtMessagePresenter& presenter;
    ProgramValues values;
    TaskManager link{&values};
    ProfileList profiles;
    LoginChoice loginChoice;
    // Declared after the link: at exit it goes first, deleting the pinhole of a server
    // start while the program is still whole.
    OwnReach reach;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.mirka"));
    LoadQtJapanese(app);
    ChooseSettingsPlace();
    QtMessagePresenter presenter;
    InstallMessagePresenter(&presenter);
    int result;
    {
        ProgramSteps steps(presenter);
        result = RunProgram(steps);
    }
    InstallMessagePresenter(nullptr);
    return result;
}
