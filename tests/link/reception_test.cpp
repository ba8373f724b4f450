#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "link/transfer/receive_paths.h"
#include "link/wire/file_record.h"
#include "support/wait.h"
#include "transfer_support.h"

// A flood of offers cannot exhaust this side (receptions that run at once and resumes
// between two copies are in frame_seam_test.cpp).
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

}  // namespace
}  // namespace mirka
