#include <sys/resource.h>

#include <csignal>
#include <thread>

#include <gtest/gtest.h>

#include "link/wire/delivery_frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

// A disk that refuses the file: the one transfer ends with a message in the log, the link
// and the other transfers go on. Tests run as root, so folders are never unwritable by
// their permission bits; /dev/full and a file in place of a folder stand in for a full or
// broken disk.
namespace mirka {
namespace {

using test::FinishedRows;
using test::ReadFile;
using test::TransferPair;
using test::WaitUntil;
using test::WriteFile;

bool Has(const WString& text, WStringView part) {
    return text.find(part) != WString::npos;
}

// The link still carries chat in both directions.
void ExpectChatFlows(TransferPair& pair) {
    EXPECT_EQ(pair.server->LinkState(), LINK_SERVER);
    EXPECT_EQ(pair.client->LinkState(), LINK_CLIENT);
    pair.client->QueueChatLine(u"still here", u"client");
    pair.server->QueueChatLine(u"me too", u"server");
    EXPECT_TRUE(pair.serverWindow.WaitFor(
        [&] { return Has(pair.serverWindow.LogText(), u"still here\r\n"); }));
    EXPECT_TRUE(
        pair.clientWindow.WaitFor([&] { return Has(pair.clientWindow.LogText(), u"me too\r\n"); }));
}

// Files of this process may not grow past the limit while it lives: writes beyond it fail
// (EFBIG) as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit previous{};
    void (*previousHandler)(int) = nullptr;
};

std::size_t Count(const WString& text, WStringView part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(FaultDisk, FullDiskCancelsThatTransferOnceAndOthersGoOn) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto good = test::RandomBytes(100 * 1024, 1);
    WriteFile(pair.outbox.Path() / "full.bin", test::RandomBytes(2 * 1024 * 1024, 2));
    WriteFile(pair.outbox.Path() / "ok.bin", good);
    pair.client->sendBufSize = 256 * 1024;  // many data frames still arrive after the error
    // Eight passes for the whole file: the receiver's cancel comes back before the sender has
    // written it all (and called it sent), even on a loaded machine.
    pair.client->sendWait = 20;
    {
        FileSizeLimit limit(128 * 1024);
        pair.Send(pair.outbox.Path() / "full.bin");
        pair.Send(pair.outbox.Path() / "ok.bin");
        ASSERT_TRUE(pair.serverWindow.WaitFor(
            [&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
        ASSERT_TRUE(pair.clientWindow.WaitFor([&] {
            return pair.clientWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
        }));
    }
    EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_EQ(Count(pair.serverWindow.LogText(), u"SystemError::"), 1u);
    EXPECT_TRUE(Has(pair.serverWindow.LogText(),
                    u"SystemError:: \r\nファイルの書き込みに失敗したため、転送を中止します\r\n"
                    u"ファイル名 > full.bin.tmp\r\n"));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "ok.bin"), good);
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "full.bin"));
    EXPECT_TRUE(pair.clientWindow.WaitFor(
        [&] { return FinishedRows(pair.clientWindow.Transfers()) == 1; }));
    EXPECT_TRUE(TaskManagerTestSeam::Figures(*pair.server).empty());
    EXPECT_TRUE(WaitUntil([&] { return TaskManagerTestSeam::Figures(*pair.client).empty(); }));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, AVerifiedSendCancelledAfterItsLastByteIsNeverCalledSent) {
    // At full speed the sender has put out every byte long before the receiver's cancel comes
    // back; with verified delivery it waits for a receipt, and the cancel ends its row.
    TransferPair pair;
    pair.server->SetCapabilities(kKnownCapabilities);
    pair.client->SetCapabilities(kKnownCapabilities);
    ASSERT_TRUE(pair.Link());
    WriteFile(pair.outbox.Path() / "full.bin", test::RandomBytes(2 * 1024 * 1024, 2));
    pair.client->sendWait = 0;
    pair.client->sendBufSize = 4 * 1024 * 1024;
    {
        FileSizeLimit limit(128 * 1024);
        pair.Send(pair.outbox.Path() / "full.bin");
        ASSERT_TRUE(pair.clientWindow.WaitFor([&] {
            return pair.clientWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
        }));
    }
    EXPECT_FALSE(Has(pair.clientWindow.LogText(), u"送信が完了"));
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "full.bin"));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, AFolderWhoseFileCannotBeWrittenEndsOnBothRows) {
    // One file of a folder fails on the full disk: the folder is not complete on either side,
    // and what arrived stays under the temporary name for a later resume.
    TransferPair pair;
    pair.server->SetCapabilities(kKnownCapabilities);
    pair.client->SetCapabilities(kKnownCapabilities);
    ASSERT_TRUE(pair.Link());
    auto folder = pair.outbox.Path() / "album";
    std::filesystem::create_directory(folder);
    WriteFile(folder / "small.txt", test::RandomBytes(1000, 1));
    WriteFile(folder / "large.bin", test::RandomBytes(1024 * 1024, 2));
    pair.client->sendBufSize = 1 << 20;
    {
        FileSizeLimit limit(128 * 1024);
        pair.Send(folder);
        for (auto* window : {&pair.clientWindow, &pair.serverWindow})
            EXPECT_TRUE(window->WaitFor(
                [&] { return window->Transfers().Cell(0, kColumnTransferred) == kRowCancelled; }));
    }
    EXPECT_FALSE(Has(pair.clientWindow.LogText(), u"フォルダの送信が完了"));
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "album"));
    EXPECT_TRUE(std::filesystem::is_directory(pair.inbox.Path() / "album.tmp"));
}

TEST(FaultDisk, ReceiveFolderGoneBeforeTheEndIsNotReportedAsReceived) {
    TransferPair pair;
    std::filesystem::create_directory(pair.inbox.Path() / "in");
    pair.serverValues.SetReceiveFolder(FromFsPath(pair.inbox.Path() / "in") + kPathSeparator);
    ASSERT_TRUE(pair.Link());
    WriteFile(pair.outbox.Path() / "moved.bin", test::RandomBytes(1024 * 1024, 5));
    pair.client->sendWait = 5;
    pair.Send(pair.outbox.Path() / "moved.bin");
    ASSERT_TRUE(WaitUntil(
        [&] { return std::filesystem::exists(pair.inbox.Path() / "in" / "moved.bin.tmp"); }));
    std::filesystem::rename(pair.inbox.Path() / "in", pair.inbox.Path() / "elsewhere");
    pair.client->sendWait = 1;
    pair.client->sendBufSize = 64 * 1024;
    ASSERT_TRUE(pair.serverWindow.WaitFor([&] {
        return pair.serverWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
    }));
    const WString log = pair.serverWindow.LogText();
    EXPECT_FALSE(Has(log, u"受信が完了しました"));
    EXPECT_EQ(Count(log, u"SystemError::"), 1u);
    EXPECT_TRUE(
        Has(log, u"ファイルの保存に失敗したため、転送を中止します\r\nファイル名 > moved.bin.tmp"));
    EXPECT_EQ(FinishedRows(pair.serverWindow.Transfers()), 0);
    // The sender hears a cancel; whether it saw its last pass first is a race of the wire.
    EXPECT_TRUE(WaitUntil([&] { return TaskManagerTestSeam::Figures(*pair.client).empty(); }));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, ReceiveFolderThatCannotHoldFilesCancelsWithAMessage) {
    TransferPair pair;
    WriteFile(pair.inbox.Path() / "not-a-folder", {'x'});
    pair.serverValues.SetReceiveFolder(FromFsPath(pair.inbox.Path() / "not-a-folder") +
                                       kPathSeparator);
    ASSERT_TRUE(pair.Link());
    WriteFile(pair.outbox.Path() / "a.txt", {'a', 'b'});
    pair.Send(pair.outbox.Path() / "a.txt");
    ASSERT_TRUE(pair.clientWindow.WaitFor([&] {
        return pair.clientWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
    }));
    EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_TRUE(Has(pair.serverWindow.LogText(),
                    u"SystemError:: \r\nファイルの作成に失敗したため、転送を中止します\r\n"
                    u"ファイル名 > a.txt.tmp\r\n"));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, SourceFileCutShortWhileSendingCancelsWithAMessage) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto content = test::RandomBytes(4 * 1024 * 1024, 3);
    auto source = pair.outbox.Path() / "shrinks.bin";
    WriteFile(source, content);
    pair.client->sendBufSize = 8192;
    pair.Send(source);
    auto partial = pair.inbox.Path() / "shrinks.bin.tmp";
    ASSERT_TRUE(WaitUntil([&] {
        std::error_code error;
        std::uintmax_t size = std::filesystem::file_size(partial, error);
        return !error && size >= 512 * 1024;
    }));
    std::filesystem::resize_file(source, 256 * 1024);
    ASSERT_TRUE(pair.serverWindow.WaitFor([&] {
        return pair.serverWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
    }));
    EXPECT_EQ(pair.clientWindow.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_TRUE(Has(pair.clientWindow.LogText(),
                    u"SystemError:: \r\nファイルの読み込みに失敗したため、転送を中止します\r\n"
                    u"ファイル名 > shrinks.bin\r\n"));
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "shrinks.bin"));
    EXPECT_EQ(FinishedRows(pair.serverWindow.Transfers()), 0);
    ExpectChatFlows(pair);
}

TEST(FaultDisk, FinalNameTakenMeanwhileGoesToTheNextFreeName) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto content = test::RandomBytes(1024 * 1024, 4);
    WriteFile(pair.outbox.Path() / "taken.bin", content);
    pair.client->sendWait = 5;  // about 400 KB/s: the file appears while the transfer runs
    pair.Send(pair.outbox.Path() / "taken.bin");
    auto temporary = pair.inbox.Path() / "taken.bin.tmp";
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(temporary); }));
    WriteFile(pair.inbox.Path() / "taken.bin", {'m', 'i', 'n', 'e'});
    pair.client->sendWait = 1;
    pair.client->sendBufSize = 64 * 1024;
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "taken.bin"), (std::vector<char>{'m', 'i', 'n', 'e'}));
    auto placed = pair.inbox.Path() / "taken_[00].bin";
    EXPECT_EQ(ReadFile(placed), content);
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnPath), FromFsPath(placed));
    // The message follows the row.
    EXPECT_TRUE(pair.serverWindow.WaitFor([&] {
        return Has(pair.serverWindow.LogText(),
                   u"ファイルの受信が完了しました\r\nファイル名 > taken_[00].bin\r\n");
    }));
}

}  // namespace
}  // namespace mirka
