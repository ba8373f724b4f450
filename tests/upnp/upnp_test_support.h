#pragma once

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "support/temp_folder.h"
#include "upnp/login_status_port.h"

namespace mirka::test {

// Records what the flow shows in the login window.
class LoginRecorder : public LoginStatusPort {
public:
    void SetStatusText(const WString& text) override {
        std::lock_guard<std::mutex> guard(lock);
        statusTexts.push_back(text);
    }
    void SetTitle(const WString& title) override {
        std::lock_guard<std::mutex> guard(lock);
        titles.push_back(title);
    }
    std::vector<WString> StatusTexts() const {
        std::lock_guard<std::mutex> guard(lock);
        return statusTexts;
    }
    std::vector<WString> Titles() const {
        std::lock_guard<std::mutex> guard(lock);
        return titles;
    }

private:
    mutable std::mutex lock;
    std::vector<WString> statusTexts;
    std::vector<WString> titles;
};

// Opens the process's debug log in a fresh folder with a fixed clock (3/7 09:05:03) for the
// object's lifetime.
class CapturedDebugLog {
public:
    CapturedDebugLog() {
        DebugLog::Instance().SetClock([] {
            std::tm time{};
            time.tm_mon = 2;
            time.tm_mday = 7;
            time.tm_hour = 9;
            time.tm_min = 5;
            time.tm_sec = 3;
            return time;
        });
        DebugLog::Instance().Open(folder.Path() / "debug.txt");
    }
    ~CapturedDebugLog() {
        DebugLog::Instance().Close();
        DebugLog::Instance().SetClock(nullptr);
    }

    std::string Text() const {
        std::ifstream file(folder.Path() / "debug.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // The message of each entry: what follows the position piece "%12s : %4d行目: ".
    std::vector<std::string> Messages() const {
        std::vector<std::string> messages;
        std::string text = Text();
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            std::size_t module = line.find(" : ");
            std::size_t message =
                module == std::string::npos ? std::string::npos : line.find(": ", module + 3);
            messages.push_back(message == std::string::npos ? line : line.substr(message + 2));
            start = end + 2;
        }
        return messages;
    }

private:
    TempFolder folder;
};

}  // namespace mirka::test
