#include <thread>

#include <gtest/gtest.h>

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
    EXPECT_TRUE(WaitUntil([&] { return Has(pair.serverWindow.LogText(), u"still here\r\n"); }));
    EXPECT_TRUE(WaitUntil([&] { return Has(pair.clientWindow.LogText(), u"me too\r\n"); }));
}

TEST(FaultDisk, FullDiskCancelsThatTransferAndOthersGoOn) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto good = test::RandomBytes(300 * 1024, 1);
    WriteFile(pair.outbox.Path() / "full.bin", test::RandomBytes(200 * 1024, 2));
    WriteFile(pair.outbox.Path() / "ok.bin", good);
    // The temporary file the receiver picks leads to a device on which every write fails.
    std::filesystem::create_symlink("/dev/full", pair.inbox.Path() / "full.bin.tmp");
    pair.client->sendBufSize = 16 * 1024;
    pair.Send(pair.outbox.Path() / "full.bin");
    pair.Send(pair.outbox.Path() / "ok.bin");
    ASSERT_TRUE(WaitUntil([&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    ASSERT_TRUE(WaitUntil([&] {
        return pair.clientWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
    }));
    EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_TRUE(Has(pair.serverWindow.LogText(),
                    u"SystemError:: \r\nファイルの書き込みに失敗したため、転送を中止します\r\n"
                    u"ファイル名 > full.bin.tmp\r\n"));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "ok.bin"), good);
    EXPECT_EQ(FinishedRows(pair.clientWindow.Transfers()), 1);
    EXPECT_TRUE(pair.server->TransferFiguresSnapshot().empty());
    EXPECT_TRUE(WaitUntil([&] { return pair.client->TransferFiguresSnapshot().empty(); }));
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
    ASSERT_TRUE(WaitUntil([&] {
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
    ASSERT_TRUE(WaitUntil([&] {
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

TEST(FaultDisk, FinalNameTakenMeanwhileKeepsTheTemporaryName) {
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
    ASSERT_TRUE(WaitUntil([&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "taken.bin"), (std::vector<char>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(ReadFile(temporary), content);
    EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnPath), FromFsPath(temporary));
    EXPECT_TRUE(Has(pair.serverWindow.LogText(),
                    u"ファイルの受信が完了しました\r\nファイル名 > taken.bin.tmp\r\n"));
}

}  // namespace
}  // namespace mirka
