#include <clocale>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "common/debug_log.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

struct RecordingSteps : StartupSteps {
    void SetUserLocale() override { calls += "locale,"; }
    void BeginTimerResolution() override { calls += "timer,"; }
    void LoadSettings() override { calls += "load,"; }
    int RunLoginWindow() override {
        calls += "login,";
        return loginResult;
    }
    void RunTalkWindow() override { calls += "talk,"; }
    void SaveSettings() override { calls += "save,"; }
    void EndTimerResolution() override { calls += "endtimer,"; }
    int loginResult = 1;
    std::string calls;
};

std::vector<std::string> Messages(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        std::size_t at = line.find("行目: ");
        std::string message = line.substr(at + std::string("行目: ").size());
        message.pop_back();  // the CR of CR LF
        messages.push_back(message);
    }
    return messages;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = std::filesystem::current_path();
        std::filesystem::current_path(folder.Path());  // debug.txt lands in the current folder
        locale = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C.UTF-8");
    }
    void TearDown() override {
        std::filesystem::current_path(saved);
        std::setlocale(LC_ALL, locale.c_str());
    }
    test::TempFolder folder;
    std::filesystem::path saved;
    std::string locale;
};

TEST_F(StartupTest, FullRunWritesTheSevenEntriesInOrder) {
    RecordingSteps steps;
    EXPECT_EQ(RunProgram(steps), 0);
    EXPECT_EQ(steps.calls, "locale,timer,load,login,talk,save,endtimer,");
    EXPECT_EQ(
        Messages(folder.Path() / "debug.txt"),
        (std::vector<std::string>{"start program ... ", "load .. program config",
                                  "exit .. login window", "join .. talk window",
                                  "exit .. talk window", "release .. ", "close program ... "}));
}

TEST_F(StartupTest, ClosedLoginWindowWritesTwoEntriesAndSavesNothing) {
    RecordingSteps steps;
    steps.loginResult = 0;
    EXPECT_EQ(RunProgram(steps), 0);
    EXPECT_EQ(steps.calls.find("save"), std::string::npos);
    EXPECT_EQ(Messages(folder.Path() / "debug.txt"),
              (std::vector<std::string>{"start program ... ", "load .. program config"}));
}

}  // namespace
}  // namespace mirka
