// Folders: what a hostile peer cannot do (two copies' folders are in frame_seam_test.cpp).
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
