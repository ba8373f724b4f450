// What a folder's entries may claim: one path on this side per entry, no more entries
// waiting, folders made or bytes than the folder's offer allows, and a folder complete only
// once its last file is proven and its end has come.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "link/wire/delivery_frames.h"
#include "link/wire/folder_frames.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "transfer_support.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;
using test::FinishedRows;
using Bytes = std::vector<std::uint8_t>;

std::size_t Count(const WString& text, WStringView part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != WString::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A raw peer sending folders to a real engine, frame by frame, and reading its answers.
struct RawSender : test::RawFolderPeer {
    RawSender() { values.SetReceiveFolder(inbox.WithSeparator()); }

    // A file's entry, its offer, its bytes and their digest.
    void File(std::int32_t folderId, const std::string& path, std::int32_t taskId,
              const std::string& content) {
        Send(Entry(folderId, path, taskId, static_cast<std::int64_t>(content.size())));
        test::SendOffer(peer, u"f", taskId, static_cast<std::int64_t>(content.size()));
        FrameHeader data;
        data.code = NET_FILE_DATA;
        data.taskField = static_cast<std::uint32_t>(taskId);
        data.lengthField = static_cast<std::uint32_t>(content.size());
        peer.SendFrame(data, {content.begin(), content.end()});
        auto digest = EncodeDigest({taskId, test::DigestOf(content.data(), content.size())});
        peer.Send({digest.begin(), digest.end()});
    }
    void End(std::int32_t folderId) {
        auto end = EncodeFolderEnd(folderId);
        peer.Send({end.begin(), end.end()});
    }
    // Every frame before this line has been handled once it shows.
    bool Handled() {
        static int n = 0;
        WString line = u"sync " + FromUtf8(std::to_string(++n));
        peer.Send(test::ChatFrame(u"peer (01:02:03): \r\n" + line + u"\r\n"));
        return window.WaitFor([&] { return window.LogText().find(line) != WString::npos; });
    }
    // Reads the engine's frames (headers kept) until one with `code` for `id`.
    bool ReadUntil(std::uint16_t code, std::int32_t id) {
        for (;;) {
            FrameHeader header;
            if (!peer.ReadHeader(header)) return false;
            std::size_t payload = 0;
            if (header.code == NET_FILE_ACCEPT || header.code == NET_FILE_OFFER)
                payload = FileRecord::kBytes;
            else if (header.code == NET_CHAT)
                payload = CharFormat::kBytes + header.lengthField;
            else if (header.code == NET_STATUS)
                payload = header.lengthField + 256;
            Bytes body;
            if (payload > 0 && !peer.Read(body, payload)) return false;
            // The id: in the record of an accept, at 8 in a control frame, else at 4.
            std::uint32_t about = header.taskField;
            if (header.code == NET_FILE_ACCEPT)
                about = static_cast<std::uint32_t>(FileRecord::Decode(body.data()).taskId);
            else if (header.code >= NET_FILE_CANCEL && header.code <= NET_FILE_PAUSE)
                about = header.lengthField;
            heard.emplace_back(header.code, static_cast<std::int32_t>(about));
            if (header.code == code && static_cast<std::int32_t>(about) == id) return true;
        }
    }
    bool Heard(std::uint16_t code, std::int32_t id) const {
        return std::find(heard.begin(), heard.end(), std::make_pair(code, id)) != heard.end();
    }
    // Every file below the receive folder with its bytes.
    std::multimap<std::string, std::string> Files() const {
        std::multimap<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(inbox.Path())) {
            if (!entry.is_regular_file() || entry.is_symlink()) continue;
            auto bytes = test::ReadFile(entry.path());
            files.emplace(std::string(bytes.begin(), bytes.end()),
                          fs::relative(entry.path(), inbox.Path()).generic_string());
        }
        return files;
    }
    std::vector<std::pair<std::uint16_t, std::int32_t>> heard;  // code and id
    test::TempFolder inbox;
};

TEST(FolderBounds, TwoEntriesThatAreOneNameHereNeverShareAFile) {
    RawSender side;
    ASSERT_TRUE(side.linked);
    struct Case {
        std::string first, second;
        bool secondIsFolder;
    };
    // The second of each pair is one path with the first on this side: the folder ends
    // there, after the first was proven, and the second's bytes land nowhere.
    const Case cases[] = {
        {"x", " x", false}, {"x", "x.", false},     {"a?", "a*", false},
        {"a", "a.", true},  {"d/y", "d/y ", false},
    };
    std::int32_t folderId = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.second);
        folderId += 100;
        std::int32_t first = folderId + 1, second = folderId + 2;
        bool nested = c.first.find('/') != std::string::npos;
        side.Offer(folderId, "pair" + std::to_string(folderId), c.secondIsFolder ? 1 : 2,
                   (c.secondIsFolder ? 1 : 0) + (nested ? 1 : 0), 8);
        if (nested) side.Send(RawSender::Entry(folderId, "d"));
        side.File(folderId, c.first, first, "one!");
        ASSERT_TRUE(side.ReadUntil(kReceiptCode, first)) << "the first is proven";
        if (c.secondIsFolder) {
            side.Send(RawSender::Entry(folderId, c.second));
            side.File(folderId, c.second + "/inner", second, "two!");
        } else {
            side.File(folderId, c.second, second, "two!");
        }
        side.End(folderId);
        ASSERT_TRUE(side.ReadUntil(NET_FILE_CANCEL, folderId)) << "the folder ends";
        if (!c.secondIsFolder) {
            ASSERT_TRUE(side.ReadUntil(NET_FILE_CANCEL, second));
            EXPECT_FALSE(side.Heard(NET_FILE_ACCEPT, second));
            EXPECT_FALSE(side.Heard(kReceiptCode, second));
        }
    }
    ASSERT_TRUE(side.Handled());
    WString log = side.window.LogText();
    EXPECT_EQ(Count(log, u"ほかの項目と同じ名前になる"), std::size(cases)) << ToUtf8(log);
    auto files = side.Files();
    EXPECT_EQ(files.count("one!"), std::size(cases)) << "every first file kept";
    EXPECT_EQ(files.count("two!"), 0u) << "no second's byte landed";
    EXPECT_EQ(FinishedRows(side.window.Transfers()), 0);
}

TEST(FolderBounds, APeerCannotMakeWaitingEntriesFoldersOrBytesGrowPastTheOffer) {
    RawSender side;
    ASSERT_TRUE(side.linked);
    // 64 files may wait for their offers; the 65th ends the folder, and what follows of
    // 100,000 entries is dropped without a line each.
    side.Offer(1, "waiting", kMaxFolderEntries, 0, 0);
    std::string entries;
    for (std::int32_t i = 0; i < 64; ++i)
        entries += RawSender::Entry(1, "w" + std::to_string(i), 1000000 + i);
    side.Send(entries);
    ASSERT_TRUE(side.Handled());
    EXPECT_EQ(Count(side.window.LogText(), u"フォルダの受信を中止しました"), 0u);
    entries.clear();
    for (std::int32_t i = 64; i < static_cast<std::int32_t>(kMaxFolderEntries); ++i)
        entries += RawSender::Entry(1, "w" + std::to_string(i), 1000000 + i);
    side.Send(entries);
    ASSERT_TRUE(side.ReadUntil(NET_FILE_CANCEL, 1));
    ASSERT_TRUE(side.Handled());
    EXPECT_EQ(Count(side.window.LogText(), u"申し出の来ないファイルが多すぎる"), 1u);
    EXPECT_EQ(Count(side.window.LogText(), u"フォルダの受信を中止しました"), 1u);

    // A parent that was never announced as a folder of this folder is not made: not for a
    // file deep down, not for a folder, not below a file.
    side.Offer(2, "deep", 1, 0, 0);
    std::string deep;
    for (int i = 0; i < 60; ++i) deep += "p" + std::to_string(i) + "/";
    side.Send(RawSender::Entry(2, deep + "f", 2001));
    side.Offer(3, "nested", 0, 1, 0);
    side.Send(RawSender::Entry(3, "q/r"));
    side.Offer(4, "underfile", 2, 0, 0);
    side.Send(RawSender::Entry(4, "a", 4001) + RawSender::Entry(4, "a/b", 4002));
    // No more folders than the offer counted, though entries are left.
    side.Offer(5, "folders", 1, 1, 0);
    side.Send(RawSender::Entry(5, "d1") + RawSender::Entry(5, "d2"));
    // Sizes adding up past the offer: the file that would pass it is refused before a byte.
    side.Offer(6, "bytes", 2, 0, 8);
    side.File(6, "six", 6001, "aaaaaa");
    ASSERT_TRUE(side.ReadUntil(kReceiptCode, 6001));
    side.File(6, "four", 6002, "bbbb");
    ASSERT_TRUE(side.ReadUntil(NET_FILE_CANCEL, 6002));
    EXPECT_FALSE(side.Heard(NET_FILE_ACCEPT, 6002));
    ASSERT_TRUE(side.Handled());

    WString log = side.window.LogText();
    EXPECT_EQ(Count(log, u"親のフォルダが先に届いていない"), 3u) << ToUtf8(log);
    EXPECT_EQ(Count(log, u"申し出より多いフォルダ"), 1u);
    EXPECT_EQ(Count(log, u"申し出より大きいファイル"), 1u);
    EXPECT_EQ(Count(log, u"フォルダの受信を中止しました"), 6u);
    auto files = side.Files();
    EXPECT_EQ(files.count("aaaaaa"), 1u);
    EXPECT_EQ(files.count("bbbb"), 0u);
    // Of the sub-folders only the one announced within the offer's count was made.
    std::vector<std::string> folders;
    for (const auto& entry : fs::recursive_directory_iterator(side.inbox.Path()))
        if (entry.is_directory() && entry.path().parent_path() != side.inbox.Path())
            folders.push_back(fs::relative(entry.path(), side.inbox.Path()).generic_string());
    EXPECT_EQ(folders, (std::vector<std::string>{"folders.tmp/d1"}));
}

TEST(FolderBounds, AFolderIsCompleteOnlyAfterItsLastFileAndItsEnd) {
    // Between two engines: more files than go in flight at once, in sub-folders.
    test::TransferPair pair;
    pair.server->SetCapabilities(kKnownCapabilities);
    pair.client->SetCapabilities(kKnownCapabilities);
    fs::path root = pair.outbox.Path() / "batches";
    std::map<std::string, std::vector<char>> sent;
    for (int i = 0; i < 100; ++i) {
        std::string relative = "s" + std::to_string(i % 7) + "/f" + std::to_string(i);
        fs::create_directories(root / ("s" + std::to_string(i % 7)));
        auto bytes = test::RandomBytes(1000 + static_cast<std::size_t>(i) * 37, i);
        test::WriteFile(root / relative, bytes);
        sent[relative] = bytes;
    }
    ASSERT_TRUE(pair.Link());
    pair.Send(root);
    ASSERT_TRUE(pair.serverWindow.WaitFor([&] {
        return FinishedRows(pair.serverWindow.Transfers()) == 1;
    })) << ToUtf8(pair.serverWindow.LogText());
    std::map<std::string, std::vector<char>> got;
    for (const auto& entry : fs::recursive_directory_iterator(pair.inbox.Path() / "batches"))
        if (entry.is_regular_file())
            got[fs::relative(entry.path(), pair.inbox.Path() / "batches").generic_string()] =
                test::ReadFile(entry.path());
    EXPECT_EQ(got, sent);
    EXPECT_EQ(pair.serverWindow.Transfers().Cell(0, kColumnName), u"batches (100/100)");
    ASSERT_TRUE(pair.serverWindow.WaitFor(
        [&] { return Count(pair.serverWindow.LogText(), u"フォルダの受信が完了しました") > 0; }));
    ASSERT_TRUE(pair.clientWindow.WaitFor(
        [&] { return FinishedRows(pair.clientWindow.Transfers()) == 1; }));
    EXPECT_EQ(Count(pair.serverWindow.LogText(), u"フォルダの受信が完了しました"), 1u);

    // From a raw sender, in the orders an honest one may take: with nothing in flight and
    // no end yet, then with the end come and a file still to prove.
    RawSender side;
    ASSERT_TRUE(side.linked);
    side.Offer(1, "order", 2, 0, 8);
    side.File(1, "a", 11, "aaaa");
    ASSERT_TRUE(side.ReadUntil(kReceiptCode, 11));
    ASSERT_TRUE(side.Handled());
    EXPECT_EQ(Count(side.window.LogText(), u"フォルダの受信が完了しました"), 0u);
    side.Send(RawSender::Entry(1, "b", 12, 4));
    test::SendOffer(side.peer, u"b", 12, 4);
    side.End(1);
    ASSERT_TRUE(side.Handled());
    EXPECT_EQ(Count(side.window.LogText(), u"フォルダの受信が完了しました"), 0u);
    EXPECT_FALSE(fs::exists(side.inbox.Path() / "order"));
    FrameHeader data;
    data.code = NET_FILE_DATA;
    data.taskField = 12;
    data.lengthField = 4;
    side.peer.SendFrame(data, {'b', 'b', 'b', 'b'});
    auto digest = EncodeDigest({12, test::DigestOf("bbbb", 4)});
    side.peer.Send({digest.begin(), digest.end()});
    ASSERT_TRUE(side.ReadUntil(kReceiptCode, 1)) << "the folder's own receipt";
    ASSERT_TRUE(side.Handled());
    EXPECT_EQ(Count(side.window.LogText(), u"フォルダの受信が完了しました"), 1u);
    EXPECT_EQ(test::ReadFile(side.inbox.Path() / "order" / "b"),
              (std::vector<char>{'b', 'b', 'b', 'b'}));
}

}  // namespace
}  // namespace mirka
