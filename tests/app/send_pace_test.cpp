#include "app/send_pace.h"

#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace mirka {
namespace {

// The chosen pace is stored under keys of its own; the rest of the file, keys unknown
// here included, stays as it was, and a file without the keys gives the default pace.
TEST(SendPace, StoredBesideTheOtherSettings) {
    test::TempFolder folder;
    std::filesystem::path conf = folder.Path() / "conf.txt";
    EXPECT_EQ(LoadSendPace(conf), SendPace{});
    EXPECT_EQ(SendPaceChoices().front().pace, SendPace{});
    std::ofstream(conf, std::ios::binary) << "[main]\r\nname=me\r\nfuture=1\r\n";
    SendPace fast = SendPaceChoices().back().pace;
    ASSERT_TRUE(SaveSendPace(fast, conf));
    EXPECT_EQ(test::ReadFileText(conf),
              "[main]\r\nfuture=1\r\nname=me\r\n[send]\r\nbufsize=1048576\r\nwait=0\r\n");
    EXPECT_EQ(LoadSendPace(conf), fast);
}

}  // namespace
}  // namespace mirka
