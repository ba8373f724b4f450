#include "app/startup.h"

#include "common/debug_log.h"

namespace mirka {

int RunProgram(StartupSteps& steps) {
    OpenDebugLog();
    WriteDebugLog("main", __LINE__, "start program ... ");
    steps.SetUserLocale();
    steps.BeginTimerResolution();
    steps.LoadSettings();
    WriteDebugLog("main", __LINE__, "load .. program config");
    if (steps.RunLoginWindow() == 0) {
        // Given up at the login window: nothing more is logged, the settings stay as they are.
        steps.EndTimerResolution();
        CloseDebugLog();
        return 0;
    }
    WriteDebugLog("main", __LINE__, "exit .. login window");
    WriteDebugLog("main", __LINE__, "join .. talk window");
    steps.RunTalkWindow();
    WriteDebugLog("main", __LINE__, "exit .. talk window");
    WriteDebugLog("main", __LINE__, "release .. ");
    steps.SaveSettings();
    steps.EndTimerResolution();
    WriteDebugLog("main", __LINE__, "close program ... ");
    CloseDebugLog();
    return 0;
}

}  // namespace mirka
