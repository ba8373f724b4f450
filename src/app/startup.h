#pragma once

// The program's start-up and shutdown order around its two windows. The windows and the
// platform steps are behind this interface, so the order itself is plain code.
namespace mirka {

class StartupSteps {
public:
    virtual ~StartupSteps() = default;
    virtual void SetUserLocale() = 0;
    virtual void BeginTimerResolution() = 0;
    virtual void LoadSettings() = 0;
    // 0 when the user closed the login window.
    virtual int RunLoginWindow() = 0;
    virtual void RunTalkWindow() = 0;
    virtual void SaveSettings() = 0;
    virtual void EndTimerResolution() = 0;
};

// Opens the debug log, runs the steps in order with their log entries, closes the log.
// Returns the exit code, 0 on every path.
int RunProgram(StartupSteps& steps);

}  // namespace mirka
