// The receive folder is the user's: folders arrive under any setting, and a peer touches
// only what a reception of this program wrote.
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "common/settings_place.h"
#include "link/wire/folder_frames.h"
#include "secure/file_digest.h"
#include "support/frames.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;
using test::FinishedRows;

bool Has(const WString& text, WStringView part) {
    return text.find(part) != WString::npos;
}

auto Tree(const fs::path& root) {
    return test::TreeOf(root);
}

struct FolderPair : test::TransferPair {
    FolderPair() {
        server->SetCapabilities(kKnownCapabilities);
        client->SetCapabilities(kKnownCapabilities);
    }
    fs::path MakeTree(const char* name = "proj") {
        fs::path root = outbox.Path() / name;
        fs::create_directories(root / "sub" / "deeper");
        for (int i = 0; i < 12; ++i)
            test::WriteFile(root / "sub" / ("f" + std::to_string(i)), test::RandomBytes(3000, i));
        test::WriteFile(root / "sub" / "deeper" / "big.bin", test::RandomBytes(700000, 99));
        return root;
    }
    bool BothFinish(int rows) {
        return clientWindow.WaitFor([&] {
            return FinishedRows(clientWindow.Transfers()) == rows;
        }) && serverWindow.WaitFor([&] { return FinishedRows(serverWindow.Transfers()) == rows; });
    }
};

// Runs in `folder` as its working folder, and goes back after.
struct WorkingFolder {
    explicit WorkingFolder(const fs::path& folder) : before(fs::current_path()) {
        fs::current_path(folder);
    }
    ~WorkingFolder() { fs::current_path(before); }
    fs::path before;
};

TEST(ReceiveFolder, AFolderAndAFileArriveUnderEverySetting) {
    test::TempFolder work;
    fs::create_directories(work.Path() / "in" / "rel");
    fs::create_directories(work.Path() / "abs");
    WorkingFolder inWork(work.Path());
    // A copy started as the README starts it chooses no receive folder: the working folder.
    const std::vector<std::pair<WString, fs::path>> settings = {
        {DefaultReceiveFolder(), work.Path()},
        {u"in/rel", work.Path() / "in" / "rel"},
        {FromFsPath(work.Path() / "abs"), work.Path() / "abs"},
    };
    for (const auto& [setting, place] : settings) {
        SCOPED_TRACE(ToUtf8(setting));
        FolderPair pair;
        pair.serverValues.SetReceiveFolder(setting);
        fs::path root = pair.MakeTree();
        test::WriteFile(pair.outbox.Path() / "one.bin", test::RandomBytes(9000, 5));
        ASSERT_TRUE(pair.Link());
        pair.Send(root);
        pair.Send(pair.outbox.Path() / "one.bin");
        ASSERT_TRUE(pair.BothFinish(2)) << ToUtf8(pair.serverWindow.LogText());
        EXPECT_EQ(Tree(place / "proj"), Tree(root));
        EXPECT_EQ(test::ReadFile(place / "one.bin"),
                  test::ReadFile(pair.outbox.Path() / "one.bin"));
        // No note of a finished reception stays behind.
        for (const auto& entry : fs::directory_iterator(place))
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
        fs::remove_all(place / "proj");
        fs::remove(place / "one.bin");
    }
}

// A raw peer that announces every capability and sends what it likes.
struct HostilePeer : test::RawFolderPeer {
    HostilePeer() {
        values.SetReceiveFolder(inbox.WithSeparator());
        std::vector<std::uint8_t> announcement;
        peer.Read(announcement, FrameHeader::kBytes);
    }
    void Control(std::uint16_t code, std::int32_t id) {
        FrameHeader header;
        header.code = code;
        header.lengthField = static_cast<std::uint32_t>(id);  // where codes 7-10 carry it
        peer.SendFrame(header);
    }
    void Data(std::int32_t id, const std::vector<char>& bytes) {
        FrameHeader header;
        header.code = NET_FILE_DATA;
        header.taskField = static_cast<std::uint32_t>(id);
        header.lengthField = static_cast<std::uint32_t>(bytes.size());
        peer.SendFrame(header, {bytes.begin(), bytes.end()});
    }
    // Reads what follows a header this side does not look into; false when the link ended.
    bool Skip(const FrameHeader& header) {
        std::vector<std::uint8_t> bytes;
        if (header.code == NET_FILE_OFFER || header.code == NET_FILE_ACCEPT)
            return peer.Read(bytes, FileRecord::kBytes);
        bool payload = header.code == NET_FILE_DATA || header.code == kFolderOfferCode ||
                       header.code == kFolderEntryCode;
        return !payload || header.lengthField == 0 || peer.Read(bytes, header.lengthField);
    }
    // The offset of the accept for `id`, or -1 when the offer was cancelled.
    std::int64_t AnswerTo(std::int32_t id) {
        FrameHeader header;
        std::vector<std::uint8_t> bytes;
        while (peer.ReadHeader(header)) {
            if (header.code == NET_FILE_ACCEPT) {
                if (!peer.Read(bytes, FileRecord::kBytes)) return -2;
                FileRecord record = FileRecord::Decode(bytes.data());
                if (record.taskId == id) return record.offset;
            } else if (header.code == NET_FILE_CANCEL &&
                       static_cast<std::int32_t>(header.lengthField) == id) {
                return -1;
            } else if (!Skip(header)) {
                return -2;
            }
        }
        return -2;
    }
    // The result of the receipt for `id` (only the header's first 12 bytes carry anything).
    std::optional<ReceiptResult> ReceiptFor(std::int32_t id) {
        FrameHeader header;
        while (peer.ReadHeader(header)) {
            if (header.code == kReceiptCode) {
                auto receipt = DecodeReceipt(header.Encode().data());
                if (receipt && receipt->taskId == id) return receipt->result;
            } else if (!Skip(header)) {
                break;
            }
        }
        return std::nullopt;
    }
    // Once a chat line sent after them shows, every frame before it was handled.
    bool Settled(const char16_t* line) {
        peer.Send(test::ChatFrame(WString(u"peer (01:02:03): \r\n") + line + u"\r\n"));
        return window.WaitFor([&] { return Has(window.LogText(), line); });
    }
    test::TempFolder inbox;
    test::TempFolder outside;
};

std::uint16_t ChecksumOf(const std::vector<char>& bytes) {
    return ResumeChecksum(reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

TEST(ReceiveFolder, APeerNeverTakesUpCutsOrDeletesWhatNoReceptionMade) {
    HostilePeer side;
    ASSERT_TRUE(side.linked);
    const fs::path inbox = side.inbox.Path();
    // The user's own files that merely look like partial ones.
    auto report = test::RandomBytes(8192, 1);
    test::WriteFile(inbox / "report.bin.tmp", report);
    fs::create_directory(inbox / "proj.tmp");
    test::WriteFile(inbox / "proj.tmp" / "keep.txt", {'m', 'i', 'n', 'e'});
    // A note copied beside another file names the file it was written for, not this one.
    test::LeavePartialFile(inbox / "made.bin.tmp", report, 20000);
    fs::rename(inbox / ".made.bin.tmp.size", inbox / ".copy.bin.tmp.size");
    test::WriteFile(inbox / "copy.bin.tmp", report);
    // Likewise a tree's note beside the user's folder of that name.
    test::LeaveCutTree(inbox, u"old.tmp", {});
    fs::rename(inbox / ".old.tmp.made", inbox / ".proj.tmp.made");

    std::int32_t id = 1;
    for (const char16_t* name : {u"report.bin", u"copy.bin"}) {
        test::SendOffer(side.peer, name, id, 20000, ChecksumOf(report));
        EXPECT_EQ(side.AnswerTo(id), 0) << "taken up as a partial file";
        side.Control(NET_FILE_DELETE, id++);
    }
    // A wrong digest after the whole file: only the reception's own file is started over.
    test::SendOffer(side.peer, u"report.bin", id, 4, ChecksumOf(report));
    EXPECT_EQ(side.AnswerTo(id), 0);
    side.Data(id, {'a', 'b', 'c', 'd'});
    auto digest = EncodeDigest({id, secure::FileDigest{}});
    side.peer.Send({digest.begin(), digest.end()});
    side.Control(NET_FILE_DELETE, id++);
    // The user's "proj.tmp" is not a partial tree: a folder "proj" goes elsewhere, and its
    // delete takes only what it made.
    side.Offer(100, "proj", 1, 0, 4);
    side.Send(side.Entry(100, "keep.txt", 101, 4));
    test::SendOffer(side.peer, u"keep.txt", 101, 4);
    EXPECT_EQ(side.AnswerTo(101), 0);
    side.Data(101, {'p', 'e', 'e', 'r'});
    side.Control(NET_FILE_DELETE, 100);
    // A folder's file that fails its proof twice goes; the tree stays for a resume.
    side.Offer(200, "twice", 1, 0, 4);
    side.Send(side.Entry(200, "x", 201, 4));
    test::SendOffer(side.peer, u"x", 201, 4);
    EXPECT_EQ(side.AnswerTo(201), 0);
    // As a sender does, each round waits for the receiver's verdict on the one before.
    for (ReceiptResult verdict : {ReceiptResult::SendAgain, ReceiptResult::Failed}) {
        side.Data(201, {'b', 'a', 'd', '!'});
        auto wrong = EncodeDigest({201, {}});
        side.peer.Send({wrong.begin(), wrong.end()});
        EXPECT_EQ(side.ReceiptFor(201), verdict);
    }
    ASSERT_TRUE(side.Settled(u"すべて届いた"));
    EXPECT_TRUE(fs::is_directory(inbox / "twice.tmp"));
    EXPECT_FALSE(fs::exists(inbox / "twice.tmp" / "x"));

    EXPECT_EQ(test::ReadFile(inbox / "report.bin.tmp"), report);
    EXPECT_EQ(test::ReadFile(inbox / "copy.bin.tmp"), report);
    EXPECT_EQ(test::ReadFile(inbox / "made.bin.tmp"), report);
    EXPECT_EQ(test::ReadFile(inbox / "proj.tmp" / "keep.txt"),
              (std::vector<char>{'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(fs::exists(inbox / "proj_[00].tmp")) << "the peer's own tree goes on its delete";
    EXPECT_FALSE(fs::exists(inbox / "report_[00].bin.tmp"));
}

TEST(ReceiveFolder, AResumedFolderHoldsExactlyWhatWasAnnouncedAndProven) {
    FolderPair pair;
    fs::path root = pair.MakeTree();
    // A cut session left one file whole, one cut short, a file the sender has since deleted,
    // and the user put a file of their own into the partial tree.
    test::LeaveCutTree(pair.inbox.Path(), u"proj.tmp",
                       {{{u"sub", u"f1"}, test::ReadFile(root / "sub" / "f1")},
                        {{u"sub", u"deeper", u"big.bin"}, test::RandomBytes(1000, 99)},
                        {{u"gone", u"old.bin"}, test::RandomBytes(5000, 7)}});
    test::WriteFile(pair.inbox.Path() / "proj.tmp" / "sub" / "mine.txt", {'u'});
    // Where an announced file goes: not cut or overwritten, moved out of the way.
    test::WriteFile(pair.inbox.Path() / "proj.tmp" / "sub" / "f2", {'u', '2'});
    ASSERT_TRUE(pair.Link());
    pair.Send(root);
    ASSERT_TRUE(pair.BothFinish(1)) << ToUtf8(pair.serverWindow.LogText());
    EXPECT_EQ(Tree(pair.inbox.Path() / "proj"), Tree(root));
    EXPECT_EQ(test::ReadFile(pair.inbox.Path() / "proj.kept" / "sub" / "mine.txt"),
              std::vector<char>{'u'});
    EXPECT_EQ(test::ReadFile(pair.inbox.Path() / "proj.kept" / "sub" / "f2"),
              (std::vector<char>{'u', '2'}));
    EXPECT_FALSE(fs::exists(pair.inbox.Path() / ".proj.tmp.made"));
    WString log = pair.serverWindow.LogText();
    EXPECT_TRUE(Has(log, u"前の受信が残した2個の項目は送信元になかったため、取り除きました"))
        << ToUtf8(log);
    EXPECT_TRUE(Has(log, u"送信元にない2個の項目があったため、proj.keptに移しました"));
}

TEST(ReceiveFolder, AFolderSwappedForALinkIsNeitherWrittenThroughNorSent) {
    // Receiving: a sub-folder of the partial tree replaced by a link between its entry and
    // its file's offer.
    HostilePeer side;
    ASSERT_TRUE(side.linked);
    side.Offer(1, "s", 1, 1, 4);
    side.Send(side.Entry(1, "sub"));
    side.Send(side.Entry(1, "sub/x", 2, 4));
    ASSERT_TRUE(side.Settled(u"一つ目"));
    fs::path sub = side.inbox.Path() / "s.tmp" / "sub";
    ASSERT_TRUE(fs::is_directory(sub));
    fs::remove(sub);
    fs::create_directory_symlink(side.outside.Path(), sub);
    test::SendOffer(side.peer, u"x", 2, 4);
    EXPECT_EQ(side.AnswerTo(2), -1);
    side.Data(2, {'e', 'v', 'i', 'l'});
    ASSERT_TRUE(side.Settled(u"二つ目"));
    EXPECT_TRUE(fs::is_empty(side.outside.Path()));

    // Sending: a listed file replaced by a link to a secret, and a single file replaced by
    // another one, before the peer's accept.
    test::TempFolder outbox;
    fs::create_directories(outbox.Path() / "f");
    test::WriteFile(outbox.Path() / "f" / "a.txt", {'a'});
    test::WriteFile(outbox.Path() / "b.txt", {'b'});
    test::WriteFile(side.outside.Path() / "secret", {'s', 'e', 'c', 'r', 'e', 't'});
    for (const fs::path& sent : {outbox.Path() / "f", outbox.Path() / "b.txt"}) {
        WString path = FromFsPath(sent);
        side.manager.SendFile(path, side.window.Transfers().AddTransferRow(path));
        FrameHeader header;
        std::vector<std::uint8_t> bytes;
        FileRecord record;
        while (side.peer.ReadHeader(header)) {
            if (header.code == NET_FILE_OFFER) {
                ASSERT_TRUE(side.peer.Read(bytes, FileRecord::kBytes));
                record = FileRecord::Decode(bytes.data());
                break;
            }
            ASSERT_TRUE(side.Skip(header));
        }
        fs::path file = sent.filename() == "f" ? sent / "a.txt" : sent;
        ASSERT_EQ(record.name, FromFsPath(file.filename()));
        // Made beside it first and moved over it, as an editor saves a file.
        fs::path other = outbox.Path() / "other";
        if (sent.filename() == "f")
            fs::create_symlink(side.outside.Path() / "secret", other);
        else
            fs::copy_file(side.outside.Path() / "secret", other);
        fs::rename(other, file);
        FrameHeader accept;
        accept.code = NET_FILE_ACCEPT;
        auto encoded = record.Encode();
        side.peer.SendFrame(accept, {encoded.begin(), encoded.end()});
        bool cancelled = false;
        while (!cancelled && side.peer.ReadHeader(header)) {
            EXPECT_NE(header.code, NET_FILE_DATA) << "not the file offered was sent";
            cancelled = header.code == NET_FILE_CANCEL &&
                        static_cast<std::int32_t>(header.lengthField) == record.taskId;
            if (!side.Skip(header)) break;
        }
        EXPECT_TRUE(cancelled);
    }
}

}  // namespace
}  // namespace mirka
