// Folders between two copies that both announce them, and what a hostile peer cannot do.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <map>

#include "link/wire/delivery_frames.h"
#include "link/wire/folder_frames.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::FakePeer;
using test::FinishedRows;

bool Has(const WString& text, WStringView part) {
    return text.find(part) != WString::npos;
}

std::size_t Count(const WString& text, WStringView part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != WString::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

auto Tree(const fs::path& root) {
    return test::TreeOf(root);
}

struct FolderPair : test::TransferPair {
    explicit FolderPair(std::uint32_t serverBits = kKnownCapabilities) {
        server->SetCapabilities(serverBits);
        client->SetCapabilities(kKnownCapabilities);
    }
    // A tree with Japanese names, an empty folder, a 0-byte file and a larger file.
    fs::path MakeTree() {
        fs::path root = outbox.Path() / u8"写真";
        fs::create_directories(root / u8"2024年" / u8"空");
        fs::create_directories(root / "a" / "b");
        test::WriteFile(root / u8"2024年" / u8"夏.jpg", test::RandomBytes(300 * 1024, 1));
        test::WriteFile(root / "a" / "b" / "note.txt", test::RandomBytes(5000, 2));
        test::WriteFile(root / "zero.bin", {});
        test::WriteFile(root / "big.bin", test::RandomBytes(3 * 1024 * 1024 + 7, 3));
        timespec times[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
        utimensat(AT_FDCWD, (root / "a" / "b" / "note.txt").c_str(), times, 0);
        timespec folderTimes[2] = {{1600000000, 5}, {1600000000, 5}};
        utimensat(AT_FDCWD, (root / "a" / "b").c_str(), folderTimes, 0);
        return root;
    }
    bool BothFinish(int rows = 1) {
        return clientWindow.WaitFor([&] {
            return FinishedRows(clientWindow.Transfers()) == rows;
        }) && serverWindow.WaitFor([&] { return FinishedRows(serverWindow.Transfers()) == rows; });
    }
};

TEST(Folders, ATreeArrivesWholeOnOneRowAndAPartialOneIsCompletedInPlace) {
    for (bool partial : {false, true}) {
        SCOPED_TRACE(partial);
        FolderPair pair;
        fs::path root = pair.MakeTree();
        fs::path kept = pair.inbox.Path() / (std::u8string(u8"写真") + u8".tmp");
        if (partial) {
            // What a cut leaves: one file whole, one cut short, one of the same size with
            // other bytes, and no trace of the rest.
            auto big = test::ReadFile(root / "big.bin");
            test::LeaveCutTree(
                pair.inbox.Path(), u"写真.tmp",
                {{{u"2024年", u"夏.jpg"}, test::ReadFile(root / u8"2024年" / u8"夏.jpg")},
                 {{u"big.bin"}, {big.begin(), big.begin() + 1000000}},
                 {{u"a", u"b", u"note.txt"}, test::RandomBytes(5000, 9)}});
        }
        ASSERT_TRUE(pair.Link());
        pair.client->sendBufSize = 1 << 20;
        pair.Send(root);
        ASSERT_TRUE(pair.BothFinish()) << ToUtf8(pair.clientWindow.LogText()) << "\n----\n"
                                       << ToUtf8(pair.serverWindow.LogText());
        fs::path received = pair.inbox.Path() / u8"写真";
        EXPECT_EQ(Tree(received), Tree(root));
        EXPECT_FALSE(fs::exists(kept));
        EXPECT_FALSE(fs::exists(pair.inbox.Path() / u8"写真_[00]")) << "no second copy";
        struct stat facts {};
        ASSERT_EQ(stat((received / "a" / "b" / "note.txt").c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mtim.tv_sec, 1700000000);
        EXPECT_EQ(facts.st_mtim.tv_nsec, 123456789);
        ASSERT_EQ(stat((received / "a" / "b").c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mtim.tv_sec, 1600000000) << "a sub-folder keeps its time too";
        // One row and two lines a side, whatever the number of files.
        EXPECT_EQ(pair.clientWindow.Transfers().Count(), 1);
        EXPECT_EQ(pair.serverWindow.Transfers().Count(), 1);
        EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnName), u"写真 (4/4)");
        WString sent = pair.clientWindow.LogText();
        WString got = pair.serverWindow.LogText();
        EXPECT_EQ(Count(sent, u"フォルダの送信が完了しました"), 1u);
        EXPECT_EQ(Count(got, u"フォルダの受信が完了しました"), 1u);
        EXPECT_FALSE(Has(sent + got, u"ファイルの送信が完了しました"));
        EXPECT_EQ(Has(got, u"最初から受信し直します"), partial)
            << "the stale file is fetched again";
    }
}

TEST(Folders, TheRowActsOnTheWholeFolderAndACutFolderIsTakenUpAgain) {
    FolderPair pair;
    fs::path root = pair.outbox.Path() / "many";
    fs::create_directories(root / "sub");
    for (int i = 0; i < 40; ++i)
        test::WriteFile(root / "sub" / ("f" + std::to_string(i)), test::RandomBytes(100000, i));
    fs::path kept = pair.inbox.Path() / "many.tmp";
    ASSERT_TRUE(pair.Link());
    pair.client->sendBufSize = 1024;  // slow enough to act on the folder while it goes
    auto rowOf = [](test::WindowRecorder& window) {
        return window.Transfers().Count() == 1 ? window.Transfers().Row(0)->taskId : -1;
    };
    auto started = [&](test::WindowRecorder& window, TaskManager& manager) {
        return window.WaitFor([&] {
            TaskManagerTestSeam::RefreshTransfers(manager);
            WString name = window.Transfers().Cell(0, kColumnName);
            return !name.empty() && name != u"many (0/40)" && name != u"many";
        });
    };
    auto reads = [](test::WindowRecorder& window, WStringView text) {
        return window.WaitFor(
            [&] { return window.Transfers().Cell(0, kColumnTransferred) == text; });
    };
    // Paused and resumed by the sender, then cancelled by the receiver: both rows read
    // cancelled, and what arrived stays for the next time.
    pair.Send(root);
    ASSERT_TRUE(started(pair.serverWindow, *pair.server));
    // The window hears one set of figures for the folder, none for its files.
    auto figures = TaskManagerTestSeam::Figures(*pair.server);
    ASSERT_EQ(figures.size(), 1u);
    EXPECT_EQ(figures[0].filesTotal, 40);
    pair.client->SetFileStatus(rowOf(pair.clientWindow), FILE_PAUSE, TransferDirection::Sending);
    pair.client->SetFileStatus(rowOf(pair.clientWindow), FILE_RESEND, TransferDirection::Sending);
    pair.server->SetFileStatus(rowOf(pair.serverWindow), FILE_CANCEL, TransferDirection::Receiving);
    EXPECT_TRUE(reads(pair.serverWindow, kRowCancelled));
    EXPECT_TRUE(reads(pair.clientWindow, kRowCancelled));
    EXPECT_TRUE(fs::is_directory(kept));
    // Dropped again: completed in the same folder, not a second one.
    pair.client->sendBufSize = 1 << 20;
    test::WindowRecorder& sender = pair.clientWindow;
    int before = sender.Transfers().Count();
    pair.Send(root);
    ASSERT_TRUE(sender.WaitFor([&] { return FinishedRows(sender.Transfers()) == 1; }));
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return FinishedRows(pair.serverWindow.Transfers()) == 1; }));
    EXPECT_EQ(sender.Transfers().Count(), before + 1);
    EXPECT_EQ(Tree(pair.inbox.Path() / "many"), Tree(root));
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(pair.inbox.Path() / "many_[00]"));
    // Deleted by the sender while it goes: the receiver's partial tree goes with it.
    pair.client->sendBufSize = 1024;
    fs::remove_all(pair.inbox.Path() / "many");
    pair.Send(root);
    ASSERT_TRUE(pair.serverWindow.WaitFor([&] {
        TaskManagerTestSeam::RefreshTransfers(*pair.server);
        return pair.serverWindow.Transfers().Count() == 3 &&
               pair.serverWindow.Transfers().Cell(2, kColumnName) != u"many (0/40)" &&
               fs::exists(kept);
    }));
    std::int32_t sending = sender.Transfers().Row(sender.Transfers().Count() - 1)->taskId;
    pair.client->SetFileStatus(sending, FILE_DELETE, TransferDirection::Sending);
    EXPECT_TRUE(pair.serverWindow.WaitFor(
        [&] { return pair.serverWindow.Transfers().Cell(2, kColumnTransferred) == kRowDeleted; }));
    EXPECT_EQ(sender.Transfers().Cell(sender.Transfers().Count() - 1, kColumnTransferred),
              kRowDeleted);
    EXPECT_FALSE(fs::exists(kept));
}

TEST(Folders, APeerWithoutFoldersGetsNothingAndTheUserOneLine) {
    FolderPair pair(kVerifiedDelivery);
    fs::path root = pair.MakeTree();
    ASSERT_TRUE(pair.Link());
    pair.Send(root);
    ASSERT_TRUE(pair.clientWindow.WaitFor([&] {
        return pair.clientWindow.Transfers().Cell(0, kColumnTransferred) == kRowCancelled;
    }));
    EXPECT_TRUE(Has(pair.clientWindow.LogText(), u"相手のプログラムはフォルダを受け取れない"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(pair.serverWindow.Transfers().Count(), 0);
    EXPECT_TRUE(fs::is_empty(pair.inbox.Path()));
}

// A raw peer that announces folders and sends what it likes.
struct HostileSender : test::AnnouncingRawPeer {
    HostileSender() { values.SetReceiveFolder(inbox.WithSeparator()); }
    void Send(const std::string& bytes) { peer.Send({bytes.begin(), bytes.end()}); }
    // A folder of one file at `path`, its offer and its data.
    void SendFolder(std::int32_t id, const std::string& name, const std::string& path,
                    std::uint32_t files = 1) {
        FolderOfferFrame offer;
        offer.folderId = id;
        offer.fileCount = files;
        offer.totalBytes = 4;
        offer.name = name;
        Send(EncodeFolderOffer(offer));
        FolderEntryFrame entry;
        entry.folderId = id;
        entry.taskId = id + 1000;
        entry.size = 4;
        entry.path = path;
        Send(EncodeFolderEntry(entry));
        test::SendOffer(peer, u"x", id + 1000, 4);
        FrameHeader data;
        data.code = NET_FILE_DATA;
        data.taskField = static_cast<std::uint32_t>(id + 1000);
        data.lengthField = 4;
        peer.SendFrame(data, {'e', 'v', 'i', 'l'});
    }
    test::TempFolder inbox;
    test::TempFolder outside;
};

TEST(Folders, HostilePathsNeverLeaveTheReceiveFolder) {
    HostileSender side;
    ASSERT_TRUE(side.linked);
    // Links planted in partial folders, pointing outside: as a folder on the way, and where
    // a received file would be written.
    test::LeaveCutTree(side.inbox.Path(), u"kept.tmp", {});
    fs::create_directory_symlink(side.outside.Path(), side.inbox.Path() / "kept.tmp" / "out");
    test::LeaveCutTree(side.inbox.Path(), u"leaf.tmp", {});
    test::WriteFile(side.outside.Path() / "target", {'k', 'e', 'e', 'p'});
    fs::create_symlink(side.outside.Path() / "target", side.inbox.Path() / "leaf.tmp" / "x");
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"t", "../x"},
        {"t", "/etc/x"},
        {"t", "a/../../x"},
        {"t", "a\\..\\x"},
        {"t", std::string(300, 'n')},
        {"kept", "out/x"},
        {"leaf", "x"},
        {"t", "a/\x01/x"},
        {"..", "x"},
        {"a/b", "x"},
    };
    std::int32_t id = 1;
    for (const auto& [name, path] : hostile) side.SendFolder(id++, name, path);
    side.SendFolder(id++, "t", "one-too-many", 0);  // more entries than announced
    // More entries than any folder may hold.
    FolderOfferFrame huge;
    huge.folderId = id++;
    huge.fileCount = kMaxFolderEntries + 1;
    huge.name = "huge";
    side.Send(EncodeFolderOffer(huge));
    // A chat line after all of it: once it shows, every frame before it was handled.
    side.peer.Send(test::ChatFrame(u"peer (01:02:03): \r\nまだ動いています\r\n"));
    ASSERT_TRUE(side.window.WaitFor([&] {
        return Has(side.window.LogText(), u"まだ動いています");
    })) << ToUtf8(side.window.LogText());
    WString log = side.window.LogText();
    EXPECT_EQ(Count(log, u"フォルダの受信を中止しました"), hostile.size() - 1) << ToUtf8(log);
    // Each for its own reason, found before the disk was touched.
    for (auto fault : {PeerPathFault::DotDot, PeerPathFault::Absolute, PeerPathFault::Backslash,
                       PeerPathFault::ComponentTooLong, PeerPathFault::ControlCharacter})
        EXPECT_TRUE(Has(log, PeerPathFaultText(fault))) << static_cast<int>(fault);
    EXPECT_TRUE(Has(log, u"申し出より多い項目"));
    EXPECT_EQ(test::ReadFile(side.outside.Path() / "target"),
              (std::vector<char>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(Has(log, u"フォルダの申し出を断りました"));
    EXPECT_EQ(std::distance(fs::directory_iterator(side.outside.Path()), fs::directory_iterator()),
              1);
    for (const auto& entry : fs::recursive_directory_iterator(side.inbox.Path()))
        if (entry.is_regular_file() && !entry.is_symlink() &&
            !entry.path().filename().string().ends_with(".made"))  // a tree's note
            ADD_FAILURE() << "a file was written: " << entry.path();
}

TEST(Folders, AReceiptBeforeTheFilesAreProvenCompletesNothing) {
    // A raw receiver that announces folders and answers the folder's offer with a receipt.
    test::AnnouncingRawPeer side;
    ASSERT_TRUE(side.linked);
    auto& [values, window, manager, peer, linked] = side;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes));
    test::TempFolder outbox;
    fs::create_directory(outbox.Path() / "f");
    test::WriteFile(outbox.Path() / "f" / "a.txt", {'a'});
    WString path = FromFsPath(outbox.Path() / "f");
    manager.SendFile(path, window.Transfers().AddTransferRow(path));
    FrameHeader header;
    ASSERT_TRUE(peer.ReadHeader(header));
    ASSERT_EQ(header.code, kFolderOfferCode);
    auto receipt =
        EncodeReceipt({static_cast<std::int32_t>(header.taskField), ReceiptResult::Verified});
    peer.Send({receipt.begin(), receipt.end()});
    peer.Send(test::ChatFrame(u"peer (01:02:03): \r\nthen\r\n"));
    ASSERT_TRUE(window.WaitFor([&] { return Has(window.LogText(), u"then"); }));
    EXPECT_EQ(FinishedRows(window.Transfers()), 0);
    EXPECT_FALSE(Has(window.LogText(), u"フォルダの送信が完了しました"));
}

}  // namespace
}  // namespace mirka
