#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "link/transfer/receive_paths.h"
#include "link/wire/file_record.h"
#include "support/wait.h"
#include "transfer_support.h"

// Receptions that run at once never share a file, a flood of offers cannot exhaust this
// side, and a resume never completes one file with another's bytes.
namespace mirka {
namespace {

using test::FakePeer;
using test::FinishedRows;
using test::RandomBytes;
using test::ReadFile;
using test::TransferPair;
using test::WaitUntil;
using test::WriteFile;

// Every file in the folder by name, with its bytes.
std::map<std::string, std::vector<char>> Contents(const std::filesystem::path& folder) {
    std::map<std::string, std::vector<char>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFile(entry.path());
    return files;
}

TEST(Reception, ReceptionsRunningAtOnceNeverShareAFile) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto first = pair.outbox.Path() / "1";
    auto second = pair.outbox.Path() / "2";
    std::filesystem::create_directories(first);
    std::filesystem::create_directories(second);
    // Two different files of one name; one file offered twice; an edited version whose first
    // 4 KiB are the same. The second of each comes while the first is half on disk, where a
    // resume would find it.
    auto report = RandomBytes(1024 * 1024, 1), corrected = RandomBytes(1000 * 1024, 2);
    auto same = RandomBytes(1024 * 1024, 3);
    auto edited = RandomBytes(1024 * 1024, 4), original = edited;
    std::copy(report.begin(), report.begin() + 4096, corrected.begin());
    for (std::size_t i = 4096; i < edited.size(); i += 7) edited[i] ^= 0x5A;
    WriteFile(first / "report.pdf", report);
    WriteFile(second / "report.pdf", corrected);
    WriteFile(first / "same.bin", same);
    WriteFile(first / "notes.txt", original);
    WriteFile(second / "notes.txt", edited);
    for (const auto& path : {first / "report.pdf", first / "same.bin", first / "notes.txt"})
        pair.Send(path);
    ASSERT_TRUE(WaitUntil([&] {
        std::error_code error;
        for (const char* name : {"report.pdf.tmp", "same.bin.tmp", "notes.txt.tmp"})
            if (std::filesystem::file_size(pair.inbox.Path() / name, error) < 8192 || error)
                return false;
        return true;
    }));
    for (const auto& path : {second / "report.pdf", first / "same.bin", second / "notes.txt"})
        pair.Send(path);
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 6; }));
    ASSERT_TRUE(pair.clientWindow.WaitFor(
        [&] { return FinishedRows(pair.clientWindow.Transfers()) == 6; }));
    auto received = Contents(pair.inbox.Path());
    std::map<std::string, std::vector<char>> expected = {
        {"report.pdf", report},  {"report_[00].pdf", corrected}, {"same.bin", same},
        {"same_[00].bin", same}, {"notes.txt", original},        {"notes_[00].txt", edited}};
    EXPECT_EQ(received.size(), expected.size());  // no temporary file or note left behind
    for (const auto& [name, bytes] : expected) EXPECT_EQ(received[name], bytes) << name;
}

TEST(Reception, AnOfferFloodStaysBoundedInFilesRowsAndLog) {
    test::TempFolder root;
    auto inbox = root.Path() / "inbox";
    std::filesystem::create_directory(inbox);
    ProgramValues values;
    values.SetReceiveFolder(FromFsPath(inbox) + kPathSeparator);
    test::WindowRecorder window;
    TaskManager manager(&values);
    manager.ownerWindow = &window;
    FakePeer peer;
    std::uint16_t port = test::FreeLoopbackPort();
    std::thread waiter([&] { manager.StartServer(port); });
    ASSERT_TRUE(peer.Connect(port));
    waiter.join();
    auto openFiles = [] {
#ifdef _WIN32
        // Windows keeps no list of a process's open files a test can read; under wine this
        // folder lists wine's own descriptors too, three for each thread alive.
        return std::ptrdiff_t{0};
#else
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
#endif
    };
    auto filesBefore = openFiles();

    auto offer = [&](const WString& name, std::int32_t id, std::int64_t size) {
        test::SendOffer(peer, name, id, size);
    };
    constexpr int kOffers = 1000;
    // Larger than any disk: refused for want of room before anything is created.
    offer(u"huge.bin", 5000, std::int64_t{1} << 60);
    for (int id = 0; id < kOffers; ++id) offer(u"flood.bin", id, 1000);
    // The answers (about 80 KB) wait in the socket until all offers are out.
    int accepts = 0, cancels = 0;
    FrameHeader header;
    std::vector<std::uint8_t> record;
    while (accepts + cancels < kOffers + 1 && peer.ReadHeader(header)) {
        if (header.code == NET_FILE_ACCEPT && peer.Read(record, FileRecord::kBytes)) ++accepts;
        if (header.code == NET_FILE_CANCEL) ++cancels;
    }
    EXPECT_EQ(accepts, static_cast<int>(kMaxReceptions));
    EXPECT_EQ(cancels, kOffers + 1 - static_cast<int>(kMaxReceptions));
    // Each running reception holds its file and the receive folder it is in.
    EXPECT_LE(openFiles(), filesBefore + 2 * static_cast<long>(kMaxReceptions) + 2);
    EXPECT_EQ(window.Transfers().Count(), static_cast<int>(kMaxReceptions));
    // A temporary file and its size note per running reception; nothing for the refused.
    EXPECT_EQ(Contents(inbox).size(), 2 * kMaxReceptions);
    EXPECT_FALSE(std::filesystem::exists(inbox / "huge.bin.tmp"));
    const WString log = window.LogText();
    auto count = [&](WStringView part) {
        std::size_t n = 0;
        for (std::size_t at = log.find(part); at != WString::npos; at = log.find(part, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(u"SystemError::"), 2u);
    EXPECT_EQ(count(u"受信フォルダの空き容量が足りないため"), 1u);
    EXPECT_EQ(count(u"受信中の転送が上限の64件に達したため"), 1u);
}

TEST(Reception, AResumeNeedsTheSizeFirstOfferedForThePartialFile) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    auto original = RandomBytes(40000, 7);
    // Another file of the same name whose first 2,048 bytes (all the checksum sees) match.
    auto other = RandomBytes(30000, 8);
    std::copy(original.begin(), original.begin() + kChecksumBytes, other.begin());
    auto partial = pair.inbox.Path() / "r.bin.tmp";
    WriteFile(partial, std::vector<char>(original.begin(), original.begin() + 9000));
    ASSERT_TRUE(ReceivePaths::MarkAsPartial(FromFsPath(partial), 40000));
    WriteFile(pair.outbox.Path() / "r.bin", other);
    pair.Send(pair.outbox.Path() / "r.bin");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "r_[00].bin"), other);
    EXPECT_EQ(std::filesystem::file_size(partial), 9000u);
    // The file it was first offered for resumes it.
    WriteFile(pair.outbox.Path() / "r.bin", original);
    pair.Send(pair.outbox.Path() / "r.bin");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 2; }));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "r.bin"), original);
    EXPECT_NE(pair.serverWindow.LogText().find(u"ファイル名 > r.bin (40,000 B)"), WString::npos);
}

}  // namespace
}  // namespace mirka
