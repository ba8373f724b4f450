#include <gtest/gtest.h>

#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using test::FinishedRows;
using test::ReadFile;
using test::TransferPair;
using test::WaitUntil;
using test::WriteFile;

TEST(FileTransfer, FilesOfEdgeSizesArriveIdentical) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    std::vector<std::size_t> sizes = {0, 1, 2047, 2048, 2049, 3 * 1024 * 1024 + 17};
    pair.client->sendBufSize = 64 * 1024;  // keeps the test short; pacing is tested apart
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        WriteFile(pair.outbox.Path() / ("f" + std::to_string(i) + ".bin"),
                  test::RandomBytes(sizes[i], static_cast<unsigned>(i)));
    }
    for (std::size_t i = 0; i < sizes.size(); ++i)
        pair.Send(pair.outbox.Path() / ("f" + std::to_string(i) + ".bin"));
    // The event is the last call a finished transfer makes, after its row and message.
    const std::size_t count = sizes.size();
    for (test::WindowRecorder* window : {&pair.serverWindow, &pair.clientWindow}) {
        ASSERT_TRUE(window->WaitFor(
            [&] { return window->EventCount(LinkEvent::TransferFinished) == count; },
            std::chrono::seconds(60)));
        EXPECT_EQ(FinishedRows(window->Transfers()), static_cast<int>(count));
    }
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "f" + std::to_string(i) + ".bin";
        EXPECT_EQ(ReadFile(pair.inbox.Path() / name), ReadFile(pair.outbox.Path() / name)) << name;
        EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / (name + ".tmp")));
    }
    auto rows = pair.serverWindow.Transfers().Rows();
    ASSERT_EQ(rows.size(), sizes.size());
    EXPECT_EQ(rows[5].cells[kColumnSize], u"3145 KB");
    EXPECT_EQ(rows[5].cells[kColumnTransferred], u"3145 KB");
    EXPECT_EQ(rows[0].cells[kColumnPath], pair.inbox.WithSeparator() + u"f0.bin");
    WString log = pair.serverWindow.LogText();
    EXPECT_NE(log.find(u"ファイルの受信を開始します\r\nファイル名 > f5.bin (3,145,745 B)"),
              WString::npos);
    EXPECT_NE(log.find(u"ファイルの受信が完了しました\r\nファイル名 > f5.bin\r\n"), WString::npos);
    EXPECT_NE(
        pair.clientWindow.LogText().find(u"ファイルの送信が完了しました\r\nファイル名 > f0.bin"),
        WString::npos);
}

TEST(FileTransfer, NameClashesGetSuffixes) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    WriteFile(pair.inbox.Path() / "a.txt", {'o', 'l', 'd'});
    WriteFile(pair.inbox.Path() / "a", {'o'});
    WriteFile(pair.outbox.Path() / "a.txt", {'n', 'e', 'w'});
    WriteFile(pair.outbox.Path() / "a", {'n'});
    pair.Send(pair.outbox.Path() / "a.txt");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    pair.Send(pair.outbox.Path() / "a.txt");
    pair.Send(pair.outbox.Path() / "a");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 3; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "a.txt"), (std::vector<char>{'o', 'l', 'd'}));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "a_[00].txt"), (std::vector<char>{'n', 'e', 'w'}));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "a_[01].txt"), (std::vector<char>{'n', 'e', 'w'}));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "a_[00]"), (std::vector<char>{'n'}));
}

TEST(FileTransfer, PartialTemporaryFileIsResumed) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto content = test::RandomBytes(20000, 7);
    WriteFile(pair.outbox.Path() / "big.bin", content);
    // A partial file under another clash name, with stale bytes that must be replaced.
    std::vector<char> partial(content.begin(), content.begin() + 9000);
    for (std::size_t i = 8000; i < partial.size(); ++i) partial[i] = 'x';
    test::LeavePartialFile(pair.inbox.Path() / "big_[03].bin.tmp", partial, 20000);
    pair.Send(pair.outbox.Path() / "big.bin");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "big_[03].bin"), content);
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "big.bin"));
}

TEST(FileTransfer, ShortOrForeignPartialFilesAreNotResumed) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto content = test::RandomBytes(10000, 9);
    WriteFile(pair.outbox.Path() / "c.bin", content);
    WriteFile(pair.outbox.Path() / "d.bin", content);
    // Under 4,096 bytes: not resumed, and kept; the new file takes the next free name.
    WriteFile(pair.inbox.Path() / "c.bin.tmp",
              std::vector<char>(content.begin(), content.begin() + 4095));
    // Same first bytes, but another file's partial: not taken for this one.
    WriteFile(pair.inbox.Path() / "other.bin.tmp",
              std::vector<char>(content.begin(), content.begin() + 6000));
    pair.Send(pair.outbox.Path() / "c.bin");
    pair.Send(pair.outbox.Path() / "d.bin");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 2; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "c_[00].bin"), content);
    EXPECT_EQ(std::filesystem::file_size(pair.inbox.Path() / "c.bin.tmp"), 4095u);
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "d.bin"), content);
    EXPECT_EQ(std::filesystem::file_size(pair.inbox.Path() / "other.bin.tmp"), 6000u);
}

TEST(FileTransfer, UnreadablePathProducesNoOffer) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    pair.Send(pair.outbox.Path());  // a folder
    pair.Send(pair.outbox.Path() / "missing.bin");
    ASSERT_TRUE(pair.clientWindow.WaitFor([&] {
        return pair.clientWindow.Transfers().Cell(1, kColumnTransferred) == u"キャンセルしました";
    }));
    EXPECT_EQ(pair.clientWindow.Transfers().Cell(0, kColumnTransferred), u"キャンセルしました");
    EXPECT_NE(pair.clientWindow.LogText().find(u"SystemError:: \r\n"), WString::npos);
    // An offer would go out before a chat line queued after it: once the line is shown, the
    // server has read all there was to read.
    pair.client->QueueChatLine(u"after", u"client");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return pair.serverWindow.EventCount(LinkEvent::ChatArrived) == 1; }));
    EXPECT_EQ(pair.serverWindow.Transfers().Count(), 0);
    EXPECT_EQ(TaskManagerTestSeam::NextTaskId(*pair.client), 0);
}

}  // namespace
}  // namespace mirka
