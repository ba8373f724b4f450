#include <clocale>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "common/debug_log.h"
#include "support/temp_folder.h"

namespace mirka {
namespace {

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C.UTF-8");
        path = folder.Path() / "debug.txt";
        DebugLog::Instance().SetClock([] {
            std::tm time{};
            time.tm_mon = 2;  // 7 March, 09:05:03
            time.tm_mday = 7;
            time.tm_hour = 9;
            time.tm_min = 5;
            time.tm_sec = 3;
            return time;
        });
    }
    void TearDown() override {
        DebugLog::Instance().Close();
        DebugLog::Instance().SetClock(nullptr);
        std::setlocale(LC_ALL, saved.c_str());
    }
    test::TempFolder folder;
    std::filesystem::path path;
    std::string saved;
};

TEST_F(DebugLogTest, EntryLayoutAndAppendAcrossRuns) {
    DebugLog::Instance().Open(path);
    WriteDebugLog("main", 42, "start program ... ");
    DebugLog::Instance().Close();
    DebugLog::Instance().Open(path);  // a second run appends
    DebugLog::Instance().Write("NetManager", 7, "send_failed<>", "send file/x");
    DebugLog::Instance().Close();
    EXPECT_EQ(test::ReadFileText(path),
              "[3/7 09:05:03]        main :   42行目: start program ... \r\n"
              "[3/7 09:05:03]  NetManager :    7行目: send_failed<>\r\nsend file/x");
}

TEST_F(DebugLogTest, WithoutAFileEntriesAreDropped) {
    DebugLog::Instance().Open(folder.Path() / "missing" / "debug.txt");
    EXPECT_FALSE(DebugLog::Instance().IsOpen());
    WriteDebugLog("main", 1, "dropped %d", 1);  // nothing happens
}

TEST_F(DebugLogTest, EntriesFromTwoThreadsNeverInterleave) {
    DebugLog::Instance().Open(path);
    auto writer = [](const char* module, char fill) {
        std::string message(300, fill);
        for (int i = 0; i < 500; ++i) WriteDebugLog(module, i, "%s", message);
    };
    std::thread a(writer, "main", 'a');
    std::thread b(writer, "NetManager", 'b');
    a.join();
    b.join();
    DebugLog::Instance().Close();
    std::istringstream lines(test::ReadFileText(path));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(line.back(), '\r');
        std::string message = line.substr(line.find("行目: ") + std::string("行目: ").size());
        message.pop_back();
        ASSERT_EQ(message.size(), 300u);
        EXPECT_EQ(message.find_first_not_of(message[0]), std::string::npos);
    }
    EXPECT_EQ(count, 1000);
}

}  // namespace
}  // namespace mirka
