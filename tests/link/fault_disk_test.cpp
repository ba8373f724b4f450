#include <sys/resource.h>

#include <csignal>
#include <thread>

#include <gtest/gtest.h>

#include "link/wire/delivery_frames.h"
#include "support/frame_seam.h"
#include "transfer_support.h"

// A disk that refuses the file: the one transfer ends with a message in the log, the link
// and the other transfers go on. Two copies back to back in memory (FramePair): b sends,
// a receives, and each step is taken in turn, so a fault lands where the test puts it. Tests run as
// root, so folders are never unwritable by their permission bits; /dev/full and a file in place of
// a folder stand in for a full or broken disk.
namespace mirka {
namespace {

using test::FinishedRows;
using test::ReadFile;
using test::WriteFile;

struct DiskPair : test::FramePair {
    explicit DiskPair(std::uint32_t capabilities = 0) {
        a.capabilities = b.capabilities = capabilities;
    }
    test::TempFolder outbox;
};

bool Has(const WString& text, WStringView part) {
    return text.find(part) != WString::npos;
}

// The link still carries chat in both directions.
void ExpectChatFlows(DiskPair& pair) {
    EXPECT_FALSE(pair.a.Closed());
    EXPECT_FALSE(pair.b.Closed());
    pair.b.Chat().QueueChatLine(u"still here", u"client");
    pair.a.Chat().QueueChatLine(u"me too", u"server");
    EXPECT_TRUE(pair.RunUntil([&] {
        return Has(pair.a.window.LogText(), u"still here\r\n") &&
               Has(pair.b.window.LogText(), u"me too\r\n");
    }));
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
    DiskPair pair;
    pair.Start();
    auto good = test::RandomBytes(100 * 1024, 1);
    WriteFile(pair.outbox.Path() / "full.bin", test::RandomBytes(2 * 1024 * 1024, 2));
    WriteFile(pair.outbox.Path() / "ok.bin", good);
    // Eight passes for the whole file: many data frames still arrive after the error, and the
    // receiver's cancel comes back before the sender has written it all (and called it sent).
    pair.b.sendBudget = 256 * 1024;
    {
        FileSizeLimit limit(128 * 1024);
        pair.b.Send(pair.outbox.Path() / "full.bin");
        pair.b.Send(pair.outbox.Path() / "ok.bin");
        ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 1; }));
        ASSERT_TRUE(pair.RunUntil([&] {
            return pair.b.window.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
        }));
    }
    EXPECT_EQ(pair.a.window.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_EQ(Count(pair.a.window.LogText(), u"SystemError::"), 1u);
    EXPECT_TRUE(Has(pair.a.window.LogText(),
                    u"SystemError:: \r\nファイルの書き込みに失敗したため、転送を中止します\r\n"
                    u"ファイル名 > full.bin.tmp\r\n"));
    EXPECT_EQ(ReadFile(pair.a.inbox.Path() / "ok.bin"), good);
    EXPECT_FALSE(std::filesystem::exists(pair.a.inbox.Path() / "full.bin"));
    EXPECT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.b.window.Transfers()) == 1; }));
    EXPECT_TRUE(pair.a.Figures().empty());
    EXPECT_TRUE(pair.RunUntil([&] { return pair.b.Figures().empty(); }));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, AVerifiedSendCancelledAfterItsLastByteIsNeverCalledSent) {
    // At full speed the sender has put out every byte long before the receiver's cancel comes
    // back; with verified delivery it waits for a receipt, and the cancel ends its row.
    DiskPair pair(kKnownCapabilities);
    pair.Start();
    WriteFile(pair.outbox.Path() / "full.bin", test::RandomBytes(2 * 1024 * 1024, 2));
    pair.b.sendBudget = 4 * 1024 * 1024;  // every byte out in the first pass
    {
        FileSizeLimit limit(128 * 1024);
        pair.b.Send(pair.outbox.Path() / "full.bin");
        ASSERT_TRUE(pair.RunUntil([&] {
            return pair.b.window.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
        }));
    }
    EXPECT_FALSE(Has(pair.b.window.LogText(), u"送信が完了"));
    EXPECT_FALSE(std::filesystem::exists(pair.a.inbox.Path() / "full.bin"));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, AFolderWhoseFileCannotBeWrittenEndsOnBothRows) {
    // One file of a folder fails on the full disk: the folder is not complete on either side,
    // and what arrived stays under the temporary name for a later resume.
    DiskPair pair(kKnownCapabilities);
    pair.Start();
    auto folder = pair.outbox.Path() / "album";
    std::filesystem::create_directory(folder);
    WriteFile(folder / "small.txt", test::RandomBytes(1000, 1));
    WriteFile(folder / "large.bin", test::RandomBytes(1024 * 1024, 2));
    pair.b.sendBudget = 1 << 20;
    {
        FileSizeLimit limit(128 * 1024);
        pair.b.Send(folder);
        for (auto* window : {&pair.b.window, &pair.a.window})
            EXPECT_TRUE(pair.RunUntil(
                [&] { return window->Transfers().Cell(0, kColumnTransferred) == kRowCancelled; }));
    }
    EXPECT_FALSE(Has(pair.b.window.LogText(), u"フォルダの送信が完了"));
    EXPECT_FALSE(std::filesystem::exists(pair.a.inbox.Path() / "album"));
    EXPECT_TRUE(std::filesystem::is_directory(pair.a.inbox.Path() / "album.tmp"));
}

TEST(FaultDisk, ReceiveFolderGoneBeforeTheEndIsNotReportedAsReceived) {
    DiskPair pair;
    std::filesystem::create_directory(pair.a.inbox.Path() / "in");
    pair.a.values.SetReceiveFolder(FromFsPath(pair.a.inbox.Path() / "in") + kPathSeparator);
    pair.Start();
    WriteFile(pair.outbox.Path() / "moved.bin", test::RandomBytes(1024 * 1024, 5));
    pair.b.sendBudget = kDefaultSendBufSize;
    pair.b.Send(pair.outbox.Path() / "moved.bin");
    ASSERT_TRUE(pair.RunUntil(
        [&] { return std::filesystem::exists(pair.a.inbox.Path() / "in" / "moved.bin.tmp"); }));
    std::filesystem::rename(pair.a.inbox.Path() / "in", pair.a.inbox.Path() / "elsewhere");
    pair.b.sendBudget = 64 * 1024;
    ASSERT_TRUE(pair.RunUntil(
        [&] { return pair.a.window.Transfers().Cell(0, kColumnTransferred) == kRowCancelled; }));
    const WString log = pair.a.window.LogText();
    EXPECT_FALSE(Has(log, u"受信が完了しました"));
    EXPECT_EQ(Count(log, u"SystemError::"), 1u);
    EXPECT_TRUE(
        Has(log, u"ファイルの保存に失敗したため、転送を中止します\r\nファイル名 > moved.bin.tmp"));
    EXPECT_EQ(FinishedRows(pair.a.window.Transfers()), 0);
    // The sender hears a cancel; whether it saw its last pass first is a race of the wire.
    EXPECT_TRUE(pair.RunUntil([&] { return pair.b.Figures().empty(); }));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, ReceiveFolderThatCannotHoldFilesCancelsWithAMessage) {
    DiskPair pair;
    WriteFile(pair.a.inbox.Path() / "not-a-folder", {'x'});
    pair.a.values.SetReceiveFolder(FromFsPath(pair.a.inbox.Path() / "not-a-folder") +
                                   kPathSeparator);
    pair.Start();
    WriteFile(pair.outbox.Path() / "a.txt", {'a', 'b'});
    pair.b.Send(pair.outbox.Path() / "a.txt");
    ASSERT_TRUE(pair.RunUntil(
        [&] { return pair.b.window.Transfers().Cell(0, kColumnTransferred) == kRowCancelled; }));
    EXPECT_EQ(pair.a.window.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_TRUE(Has(pair.a.window.LogText(),
                    u"SystemError:: \r\nファイルの作成に失敗したため、転送を中止します\r\n"
                    u"ファイル名 > a.txt.tmp\r\n"));
    ExpectChatFlows(pair);
}

TEST(FaultDisk, SourceFileCutShortWhileSendingCancelsWithAMessage) {
    DiskPair pair;
    pair.Start();
    auto content = test::RandomBytes(4 * 1024 * 1024, 3);
    auto source = pair.outbox.Path() / "shrinks.bin";
    WriteFile(source, content);
    pair.b.sendBudget = 8192;
    pair.b.Send(source);
    auto partial = pair.a.inbox.Path() / "shrinks.bin.tmp";
    ASSERT_TRUE(pair.RunUntil([&] {
        std::error_code error;
        std::uintmax_t size = std::filesystem::file_size(partial, error);
        return !error && size >= 512 * 1024;
    }));
    std::filesystem::resize_file(source, 256 * 1024);
    ASSERT_TRUE(pair.RunUntil(
        [&] { return pair.a.window.Transfers().Cell(0, kColumnTransferred) == kRowCancelled; }));
    EXPECT_EQ(pair.b.window.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_TRUE(Has(pair.b.window.LogText(),
                    u"SystemError:: \r\nファイルの読み込みに失敗したため、転送を中止します\r\n"
                    u"ファイル名 > shrinks.bin\r\n"));
    EXPECT_FALSE(std::filesystem::exists(pair.a.inbox.Path() / "shrinks.bin"));
    EXPECT_EQ(FinishedRows(pair.a.window.Transfers()), 0);
    ExpectChatFlows(pair);
}

TEST(FaultDisk, FinalNameTakenMeanwhileGoesToTheNextFreeName) {
    DiskPair pair;
    pair.Start();
    auto content = test::RandomBytes(1024 * 1024, 4);
    WriteFile(pair.outbox.Path() / "taken.bin", content);
    pair.b.sendBudget = kDefaultSendBufSize;  // the file appears while the transfer runs
    pair.b.Send(pair.outbox.Path() / "taken.bin");
    auto temporary = pair.a.inbox.Path() / "taken.bin.tmp";
    ASSERT_TRUE(pair.RunUntil([&] { return std::filesystem::exists(temporary); }));
    WriteFile(pair.a.inbox.Path() / "taken.bin", {'m', 'i', 'n', 'e'});
    pair.b.sendBudget = 64 * 1024;
    ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 1; }));
    EXPECT_EQ(ReadFile(pair.a.inbox.Path() / "taken.bin"), (std::vector<char>{'m', 'i', 'n', 'e'}));
    auto placed = pair.a.inbox.Path() / "taken_[00].bin";
    EXPECT_EQ(ReadFile(placed), content);
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(pair.a.window.Transfers().Cell(0, kColumnPath), FromFsPath(placed));
    // The message follows the row.
    EXPECT_TRUE(pair.RunUntil([&] {
        return Has(pair.a.window.LogText(),
                   u"ファイルの受信が完了しました\r\nファイル名 > taken_[00].bin\r\n");
    }));
}

}  // namespace
}  // namespace mirka
