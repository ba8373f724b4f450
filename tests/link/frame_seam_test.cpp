// The chat and transfer logic between two copies, frame by frame in memory (FramePair): no
// socket and no wait on other threads but the digest worker. The link's transport has its
// own tests over loopback.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>

#include "link/wire/delivery_frames.h"
#include "raw_peer_link.h"
#include "support/frame_seam.h"
#include "support/frames.h"
#include "support/text_matchers.h"
#include "transfer_support.h"

// Received lengths must be bounded before anything is allocated for them. In this test
// program an allocation above 1 GiB fails as if memory ran out and is counted, so a missing
// bound shows without taking the memory.
namespace {
std::atomic<int> refusedAllocations{0};
constexpr std::size_t kLargestAllocation = std::size_t{1} << 30;
}  // namespace

void* operator new(std::size_t size) {
    if (size > kLargestAllocation) {
        ++refusedAllocations;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
// The replaced operator new takes its memory from malloc, so free is the matching release;
// gcc cannot see that through the replacement and warns.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace mirka {
namespace {

namespace fs = std::filesystem;
using test::Count;
using test::FinishedRows;
using test::FramePair;
using test::ReadFile;
using test::SeamSide;
using test::TextEndsWith;
using test::WriteFile;

bool Has(const WString& text, WStringView part) {
    return text.find(part) != WString::npos;
}

std::vector<std::uint8_t> Frame(std::uint16_t code, std::uint32_t length,
                                const std::vector<std::uint8_t>& payload = {}) {
    return test::EncodeFrame(code, 0, length, payload);
}

std::vector<std::uint8_t> ChatPayload(const WString& text) {
    auto style = MakeChatFont(u"Face", -240, 0x0000FF).Encode();
    std::vector<std::uint8_t> payload(style.begin(), style.end());
    auto bytes = test::Utf16LeBytes(text);
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    return payload;
}

std::vector<std::uint8_t> ChatLine(const WString& line) {
    return Frame(NET_CHAT, static_cast<std::uint32_t>(line.size() * 2), ChatPayload(line));
}

bool BothFinish(FramePair& pair, int rows) {
    return pair.RunUntil([&] {
        return FinishedRows(pair.a.window.Transfers()) == rows &&
               FinishedRows(pair.b.window.Transfers()) == rows;
    });
}

// Chat and status frames as a peer may send them: unknown codes around them, edge cases of
// their payloads, forged marks, lengths no copy sends, and the peer's disconnect.
TEST(SeamChat, LinesAndStatusFromThePeer) {
    {
        FramePair pair;
        pair.Start();
        SeamSide& side = pair.a;
        for (std::uint16_t code : {0, 11, 65535}) {
            auto bytes = Frame(code, 0);
            bytes[2] = 0xAB;  // reserved bytes are ignored
            bytes[3] = 0xCD;
            side.Inject(bytes);
        }
        side.Inject(ChatLine(u"peer の発言 (01:02:03): \r\nhello\r\n"));
        ASSERT_TRUE(pair.RunUntil([&] { return !side.window.Events().empty(); }));
        ASSERT_EQ(side.window.Messages().size(), 1u);
        auto runs = side.window.Messages()[0];
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[0].text, u"peer の発言 (01:02:03): \r\n");
        EXPECT_TRUE(runs[0].style.bold);
        EXPECT_EQ(runs[1].text, u"hello\r\n");
        EXPECT_EQ(runs[1].style.face, u"Face");
        EXPECT_EQ(runs[1].style.height, -240);
        EXPECT_EQ(runs[1].style.color, 0x0000FFu);
        EXPECT_EQ(runs[1].style.indentTwips, 200);
        EXPECT_EQ(side.window.Events(), std::vector<LinkEvent>{LinkEvent::ChatArrived});

        // lengthField 0: no line break, so the error line and the dump; still a chat line.
        side.Inject(Frame(NET_CHAT, 0, ChatPayload(u"")));
        ASSERT_TRUE(pair.RunUntil([&] { return side.window.Events().size() == 2; }));
        ASSERT_EQ(side.window.Messages().size(), 2u);
        WString log = side.window.LogText();
        EXPECT_NE(log.find(u"Error: Null Pointer\r\nPROGRAM_SOURCE:.\\main LINE118\r\n"),
                  WString::npos);
        EXPECT_NE(log.find(u"00 01 02 03"), WString::npos);
        EXPECT_EQ(side.window.Events().back(), LinkEvent::ChatArrived);

        // A status: odd length (the last byte dropped), a name using all 128 units.
        WString status = u"離席中";
        auto payload = test::Utf16LeBytes(status);
        payload.push_back('!');
        std::vector<std::uint8_t> name(256, 0);
        for (std::size_t i = 0; i < 128; ++i) name[2 * i] = 'n';
        payload.insert(payload.end(), name.begin(), name.end());
        side.Inject(Frame(NET_STATUS, static_cast<std::uint32_t>(status.size() * 2 + 1), payload));
        ASSERT_TRUE(pair.RunUntil([&] { return side.window.Events().size() == 3; }));
        EXPECT_EQ(side.window.StatusText(), status);
        EXPECT_EQ(side.window.Title(), u"ミルカ Ver.T100a - " + WString(128, u'n'));
        EXPECT_EQ(side.window.Events().back(), LinkEvent::StatusChanged);
        // A name cannot carry the mark of an encrypted link into the title.
        auto forged = test::Utf16LeBytes(u"x [暗号化された接続][暗号化された接続]");
        forged.resize(256, 0);
        side.Inject(Frame(NET_STATUS, 0, forged));
        ASSERT_TRUE(pair.RunUntil([&] { return side.window.Events().size() == 4; }));
        EXPECT_EQ(side.window.Title(), u"ミルカ Ver.T100a - x ");
        EXPECT_FALSE(side.Closed());

        // A line from the other copy, as the window queues it.
        pair.b.Chat().QueueChatLine(u"abc", u"b");
        ASSERT_TRUE(pair.RunUntil([&] { return side.window.Events().size() == 5; }));
        EXPECT_TRUE(Has(side.window.LogText(), u"\r\nabc\r\n"));

        // The disconnect ends reading: a frame behind it is never shown.
        side.Inject(Frame(NET_DISCONNECT, 0));
        side.Inject(ChatLine(u"late\r\nx\r\n"));
        ASSERT_TRUE(pair.RunIdle());
        EXPECT_TRUE(side.Closed());
        EXPECT_TRUE(pair.b.Closed());
        EXPECT_THAT(
            side.window.LogText(),
            TextEndsWith(u"SystemMessage:: \r\n切断要求命令を受信したため、切断しました\r\n"));
        EXPECT_FALSE(Has(side.window.LogText(), u"late"));
    }
    // Lengths of about 4 GiB (the chat's leaves room for the terminator's addition) end the
    // link before anything is allocated for them.
    for (auto [code, length] :
         {std::pair<NETCODE, std::uint32_t>{NET_CHAT, 0xFFFFFFF0u}, {NET_STATUS, 0xFFFFFFFFu}}) {
        SCOPED_TRACE(code);
        FramePair pair;
        pair.Start();
        int refusedBefore = refusedAllocations;
        pair.a.Inject(Frame(code, length));
        EXPECT_TRUE(pair.RunIdle());
        EXPECT_EQ(refusedAllocations, refusedBefore);
        EXPECT_TRUE(pair.a.Closed());
        EXPECT_TRUE(pair.a.window.Messages().empty());
        EXPECT_TRUE(pair.a.window.StatusText().empty());
    }
}

// Single files between two copies of the original wire: sizes, names, partial files.
TEST(SeamFiles, FilesArriveWhole) {
    {
        FramePair pair;
        pair.Start();
        test::TempFolder outbox;
        std::vector<std::size_t> sizes = {0, 1, 2047, 2048, 2049, 3 * 1024 * 1024 + 17};
        for (std::size_t i = 0; i < sizes.size(); ++i)
            WriteFile(outbox.Path() / ("f" + std::to_string(i) + ".bin"),
                      test::RandomBytes(sizes[i], static_cast<unsigned>(i)));
        for (std::size_t i = 0; i < sizes.size(); ++i)
            pair.b.Send(outbox.Path() / ("f" + std::to_string(i) + ".bin"));
        const std::size_t count = sizes.size();
        // The event is the last call a finished transfer makes, after its row and message.
        ASSERT_TRUE(pair.RunUntil([&] {
            return pair.a.window.EventCount(LinkEvent::TransferFinished) == count &&
                   pair.b.window.EventCount(LinkEvent::TransferFinished) == count;
        }));
        EXPECT_EQ(FinishedRows(pair.a.window.Transfers()), static_cast<int>(count));
        EXPECT_EQ(FinishedRows(pair.b.window.Transfers()), static_cast<int>(count));
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            std::string name = "f" + std::to_string(i) + ".bin";
            EXPECT_EQ(ReadFile(pair.a.inbox.Path() / name), ReadFile(outbox.Path() / name)) << name;
            EXPECT_FALSE(fs::exists(pair.a.inbox.Path() / (name + ".tmp")));
        }
        auto rows = pair.a.window.Transfers().Rows();
        ASSERT_EQ(rows.size(), sizes.size());
        EXPECT_EQ(rows[5].cells[kColumnSize], u"3145 KB");
        EXPECT_EQ(rows[5].cells[kColumnTransferred], u"3145 KB");
        EXPECT_EQ(rows[0].cells[kColumnPath], pair.a.inbox.WithSeparator() + u"f0.bin");
        WString log = pair.a.window.LogText();
        EXPECT_TRUE(Has(log, u"ファイルの受信を開始します\r\nファイル名 > f5.bin (3,145,745 B)"));
        EXPECT_TRUE(Has(log, u"ファイルの受信が完了しました\r\nファイル名 > f5.bin\r\n"));
        EXPECT_TRUE(
            Has(pair.b.window.LogText(), u"ファイルの送信が完了しました\r\nファイル名 > f0.bin"));
    }
    {
        // Name clashes get suffixes.
        FramePair pair;
        pair.Start();
        test::TempFolder outbox;
        const fs::path& inbox = pair.a.inbox.Path();
        WriteFile(inbox / "a.txt", {'o', 'l', 'd'});
        WriteFile(inbox / "a", {'o'});
        WriteFile(outbox.Path() / "a.txt", {'n', 'e', 'w'});
        WriteFile(outbox.Path() / "a", {'n'});
        pair.b.Send(outbox.Path() / "a.txt");
        ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 1; }));
        pair.b.Send(outbox.Path() / "a.txt");
        pair.b.Send(outbox.Path() / "a");
        ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 3; }));
        EXPECT_EQ(ReadFile(inbox / "a.txt"), (std::vector<char>{'o', 'l', 'd'}));
        EXPECT_EQ(ReadFile(inbox / "a_[00].txt"), (std::vector<char>{'n', 'e', 'w'}));
        EXPECT_EQ(ReadFile(inbox / "a_[01].txt"), (std::vector<char>{'n', 'e', 'w'}));
        EXPECT_EQ(ReadFile(inbox / "a_[00]"), (std::vector<char>{'n'}));
    }
    {
        // A partial file under another clash name is resumed, its stale bytes replaced; one
        // under 4,096 bytes is kept and not resumed, and another file's is not taken.
        FramePair pair;
        pair.Start();
        test::TempFolder outbox;
        const fs::path& inbox = pair.a.inbox.Path();
        auto content = test::RandomBytes(20000, 7);
        WriteFile(outbox.Path() / "big.bin", content);
        std::vector<char> partial(content.begin(), content.begin() + 9000);
        for (std::size_t i = 8000; i < partial.size(); ++i) partial[i] = 'x';
        test::LeavePartialFile(inbox / "big_[03].bin.tmp", partial, 20000);
        auto other = test::RandomBytes(10000, 9);
        WriteFile(outbox.Path() / "c.bin", other);
        WriteFile(outbox.Path() / "d.bin", other);
        WriteFile(inbox / "c.bin.tmp", std::vector<char>(other.begin(), other.begin() + 4095));
        WriteFile(inbox / "other.bin.tmp", std::vector<char>(other.begin(), other.begin() + 6000));
        pair.b.Send(outbox.Path() / "big.bin");
        pair.b.Send(outbox.Path() / "c.bin");
        pair.b.Send(outbox.Path() / "d.bin");
        ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 3; }));
        EXPECT_EQ(ReadFile(inbox / "big_[03].bin"), content);
        EXPECT_FALSE(fs::exists(inbox / "big.bin"));
        EXPECT_EQ(ReadFile(inbox / "c_[00].bin"), other);
        EXPECT_EQ(fs::file_size(inbox / "c.bin.tmp"), 4095u);
        EXPECT_EQ(ReadFile(inbox / "d.bin"), other);
        EXPECT_EQ(fs::file_size(inbox / "other.bin.tmp"), 6000u);
    }
    {
        // A folder on the original wire and a missing file: no offer, each row cancelled.
        FramePair pair;
        pair.Start();
        test::TempFolder outbox;
        pair.b.Send(outbox.Path());
        pair.b.Send(outbox.Path() / "missing.bin");
        ASSERT_TRUE(pair.RunIdle());
        EXPECT_EQ(pair.b.window.Transfers().Cell(0, kColumnTransferred), u"キャンセルしました");
        EXPECT_EQ(pair.b.window.Transfers().Cell(1, kColumnTransferred), u"キャンセルしました");
        EXPECT_TRUE(Has(pair.b.window.LogText(), u"SystemError:: \r\n"));
        EXPECT_EQ(pair.a.window.Transfers().Count(), 0);
        EXPECT_EQ(pair.b.NextTaskId(), 0);
    }
}

// Receptions that run at once never share a file, and a resume never completes one file with
// another's bytes: a partial file is taken up only by an offer of the size first offered.
TEST(SeamFiles, ReceptionsNeverMixFiles) {
    {
        FramePair pair;
        pair.Start();
        test::TempFolder outbox;
        const fs::path& inbox = pair.a.inbox.Path();
        auto first = outbox.Path() / "1";
        auto second = outbox.Path() / "2";
        fs::create_directories(first);
        fs::create_directories(second);
        // Two different files of one name; one file offered twice; an edited version whose
        // first 4 KiB are the same. The second of each comes while the first is half on disk,
        // where a resume would find it.
        auto report = test::RandomBytes(1024 * 1024, 1),
             corrected = test::RandomBytes(1000 * 1024, 2);
        auto same = test::RandomBytes(1024 * 1024, 3);
        auto edited = test::RandomBytes(1024 * 1024, 4), original = edited;
        std::copy(report.begin(), report.begin() + 4096, corrected.begin());
        for (std::size_t i = 4096; i < edited.size(); i += 7) edited[i] ^= 0x5A;
        WriteFile(first / "report.pdf", report);
        WriteFile(second / "report.pdf", corrected);
        WriteFile(first / "same.bin", same);
        WriteFile(first / "notes.txt", original);
        WriteFile(second / "notes.txt", edited);
        pair.b.sendBudget = kDefaultSendBufSize;  // the three go side by side for a while
        for (const auto& path : {first / "report.pdf", first / "same.bin", first / "notes.txt"})
            pair.b.Send(path);
        ASSERT_TRUE(pair.RunUntil([&] {
            std::error_code error;
            for (const char* name : {"report.pdf.tmp", "same.bin.tmp", "notes.txt.tmp"})
                if (fs::file_size(inbox / name, error) < 8192 || error) return false;
            return true;
        }));
        for (const auto& path : {second / "report.pdf", first / "same.bin", second / "notes.txt"})
            pair.b.Send(path);
        ASSERT_TRUE(BothFinish(pair, 6));
        std::map<std::string, std::vector<char>> received;
        for (const auto& entry : fs::directory_iterator(inbox))
            received[entry.path().filename().string()] = ReadFile(entry.path());
        std::map<std::string, std::vector<char>> expected = {
            {"report.pdf", report},  {"report_[00].pdf", corrected}, {"same.bin", same},
            {"same_[00].bin", same}, {"notes.txt", original},        {"notes_[00].txt", edited}};
        EXPECT_EQ(received.size(), expected.size());  // no temporary file or note left behind
        for (const auto& [name, bytes] : expected) EXPECT_EQ(received[name], bytes) << name;
    }
    {
        FramePair pair;
        pair.Start();
        test::TempFolder outbox;
        const fs::path& inbox = pair.a.inbox.Path();
        auto original = test::RandomBytes(40000, 7);
        // Another file of the same name whose first 2,048 bytes (all the checksum sees) match.
        auto other = test::RandomBytes(30000, 8);
        std::copy(original.begin(), original.begin() + kChecksumBytes, other.begin());
        auto partial = inbox / "r.bin.tmp";
        test::LeavePartialFile(partial, {original.begin(), original.begin() + 9000}, 40000);
        WriteFile(outbox.Path() / "r.bin", other);
        pair.b.Send(outbox.Path() / "r.bin");
        ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 1; }));
        EXPECT_EQ(ReadFile(inbox / "r_[00].bin"), other);
        EXPECT_EQ(fs::file_size(partial), 9000u);
        // The file it was first offered for resumes it.
        WriteFile(outbox.Path() / "r.bin", original);
        pair.b.Send(outbox.Path() / "r.bin");
        ASSERT_TRUE(pair.RunUntil([&] { return FinishedRows(pair.a.window.Transfers()) == 2; }));
        EXPECT_EQ(ReadFile(inbox / "r.bin"), original);
        EXPECT_TRUE(Has(pair.a.window.LogText(), u"ファイル名 > r.bin (40,000 B)"));
    }
}

// Verified delivery between two copies: a resumed file over a partial of its own bytes is
// proven, one over an older version's is found at the end and fetched again; with the proof
// of kept parts the stale part is found before the rest is sent, in a folder too.
TEST(SeamVerified, ResumesAreProven) {
    constexpr std::size_t kSize = 400 * 1024;
    constexpr std::size_t kKept = 150 * 1024;
    auto fresh = test::RandomBytes(kSize, 3);
    auto older = test::RandomBytes(kSize, 4);
    std::copy(fresh.begin(), fresh.begin() + 2048, older.begin());
    constexpr WStringView kSenderStartsOver = u"一致しないため、最初から送信します";
    constexpr WStringView kReceiverStartsOver = u"途中まで受信していた内容が送信元のファイルと";
    constexpr WStringView kSentAgain = u"最初から送り直します";
    constexpr std::uint32_t kBlake2bOnly = kVerifiedDelivery | kFolders;
    for (std::uint32_t receiverBits : {kKnownCapabilities & ~kKeptPartProof, kKnownCapabilities,
                                       kBlake2bOnly | kKeptPartProof, kBlake2bOnly}) {
        for (bool stale : {false, true}) {
            SCOPED_TRACE(testing::Message() << receiverBits << (stale ? " stale" : " equal"));
            FramePair pair;
            pair.a.capabilities = receiverBits;
            pair.b.capabilities = kKnownCapabilities;
            pair.Start();
            test::TempFolder outbox;
            const auto& partial = stale ? older : fresh;
            test::LeavePartialFile(pair.a.inbox.Path() / "doc.bin.tmp",
                                   std::vector<char>(partial.begin(), partial.begin() + kKept),
                                   kSize);
            WriteFile(outbox.Path() / "doc.bin", fresh);
            pair.b.Send(outbox.Path() / "doc.bin");
            ASSERT_TRUE(BothFinish(pair, 1)) << ToUtf8(pair.b.window.LogText()) << "\n--\n"
                                             << ToUtf8(pair.a.window.LogText());
            EXPECT_EQ(ReadFile(pair.a.inbox.Path() / "doc.bin"), fresh);
            EXPECT_FALSE(fs::exists(pair.a.inbox.Path() / "doc.bin.tmp"));
            WString sent = pair.b.window.LogText();
            WString received = pair.a.window.LogText();
            bool proves = (receiverBits & kKeptPartProof) != 0;
            EXPECT_EQ(Count(sent, u"ファイルの送信が完了しました"), 1u);
            EXPECT_EQ(Count(sent, kSenderStartsOver), stale && proves ? 1u : 0u);
            EXPECT_EQ(Count(received, kReceiverStartsOver), stale && proves ? 1u : 0u);
            EXPECT_EQ(Count(sent + received, u"中止"), 0u);
            if (!stale || proves) {
                EXPECT_EQ(Count(sent, kSentAgain), 0u);
                continue;
            }
            // The older proof at the end: one line on each side, and the sender called it
            // sent only after the second round.
            std::size_t again = sent.find(kSentAgain);
            ASSERT_NE(again, WString::npos);
            EXPECT_LT(again, sent.find(u"ファイルの送信が完了しました"));
            EXPECT_LT(received.find(u"最初から受信し直します"),
                      received.find(u"受信が完了しました"));
        }
    }
    {
        // A folder's files: one kept whole, one cut short of its own bytes, one cut short of
        // another version's. Only the last starts over, at once, with one line a side.
        FramePair pair;
        pair.a.capabilities = pair.b.capabilities = kKnownCapabilities;
        pair.Start();
        test::TempFolder outbox;
        fs::path root = outbox.Path() / "tree";
        fs::create_directories(root / "sub");
        auto whole = test::RandomBytes(50000, 23);
        WriteFile(root / "whole.bin", whole);
        WriteFile(root / "sub" / "cut.bin", fresh);
        WriteFile(root / "sub" / "stale.bin", fresh);
        test::LeaveCutTree(pair.a.inbox.Path(), u"tree.tmp",
                           {{{u"whole.bin"}, whole},
                            {{u"sub", u"cut.bin"}, {fresh.begin(), fresh.begin() + kKept}},
                            {{u"sub", u"stale.bin"}, {older.begin(), older.begin() + kKept}}});
        pair.b.Send(root);
        ASSERT_TRUE(BothFinish(pair, 1)) << ToUtf8(pair.b.window.LogText()) << "\n--\n"
                                         << ToUtf8(pair.a.window.LogText());
        EXPECT_EQ(test::TreeOf(pair.a.inbox.Path() / "tree"), test::TreeOf(root));
        WString sent = pair.b.window.LogText();
        WString received = pair.a.window.LogText();
        EXPECT_EQ(Count(sent, kSenderStartsOver), 1u);
        EXPECT_EQ(Count(received, kReceiverStartsOver), 1u);
        EXPECT_EQ(Count(sent + received, kSentAgain), 0u);
        EXPECT_EQ(Count(received, u"フォルダの受信が完了しました"), 1u);
    }
}

// A tree with Japanese names, an empty folder, a 0-byte file and a larger file.
fs::path MakeTree(const fs::path& outbox) {
    fs::path root = outbox / u8"写真";
    fs::create_directories(root / u8"2024年" / u8"空");
    fs::create_directories(root / "a" / "b");
    WriteFile(root / u8"2024年" / u8"夏.jpg", test::RandomBytes(300 * 1024, 1));
    WriteFile(root / "a" / "b" / "note.txt", test::RandomBytes(5000, 2));
    WriteFile(root / "zero.bin", {});
    WriteFile(root / "big.bin", test::RandomBytes(3 * 1024 * 1024 + 7, 3));
#ifndef _WIN32
    // The times a received tree keeps (a Windows file time has no nanoseconds to compare).
    timespec times[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
    utimensat(AT_FDCWD, (root / "a" / "b" / "note.txt").c_str(), times, 0);
    timespec folderTimes[2] = {{1600000000, 5}, {1600000000, 5}};
    utimensat(AT_FDCWD, (root / "a" / "b").c_str(), folderTimes, 0);
#endif
    return root;
}

// Two copies that announce folders: b sends, a receives.
struct FolderPair : FramePair {
    explicit FolderPair(std::uint32_t receiverBits = kKnownCapabilities) {
        a.capabilities = receiverBits;
        b.capabilities = kKnownCapabilities;
        Start();
    }
    test::TempFolder outbox;
};

TEST(SeamFolders, ATreeArrivesWholeOnOneRowAndAPartialOneIsCompletedInPlace) {
    for (bool partial : {false, true}) {
        SCOPED_TRACE(partial);
        FolderPair pair;
        fs::path root = MakeTree(pair.outbox.Path());
        const fs::path& inbox = pair.a.inbox.Path();
        fs::path kept = inbox / (std::u8string(u8"写真") + u8".tmp");
        if (partial) {
            // What a cut leaves: one file whole, one cut short, one of the same size with
            // other bytes, and no trace of the rest.
            auto big = ReadFile(root / "big.bin");
            test::LeaveCutTree(inbox, u"写真.tmp",
                               {{{u"2024年", u"夏.jpg"}, ReadFile(root / u8"2024年" / u8"夏.jpg")},
                                {{u"big.bin"}, {big.begin(), big.begin() + 1000000}},
                                {{u"a", u"b", u"note.txt"}, test::RandomBytes(5000, 9)}});
        }
        pair.b.sendBudget = 1 << 20;
        pair.b.Send(root);
        ASSERT_TRUE(BothFinish(pair, 1)) << ToUtf8(pair.b.window.LogText()) << "\n----\n"
                                         << ToUtf8(pair.a.window.LogText());
        fs::path received = inbox / u8"写真";
        EXPECT_EQ(test::TreeOf(received), test::TreeOf(root));
        EXPECT_FALSE(fs::exists(kept));
        EXPECT_FALSE(fs::exists(inbox / u8"写真_[00]")) << "no second copy";
#ifndef _WIN32
        struct stat facts {};
        ASSERT_EQ(stat((received / "a" / "b" / "note.txt").c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mtim.tv_sec, 1700000000);
        EXPECT_EQ(facts.st_mtim.tv_nsec, 123456789);
        ASSERT_EQ(stat((received / "a" / "b").c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mtim.tv_sec, 1600000000) << "a sub-folder keeps its time too";
#endif
        // One row and two lines a side, whatever the number of files.
        EXPECT_EQ(pair.b.window.Transfers().Count(), 1);
        EXPECT_EQ(pair.a.window.Transfers().Count(), 1);
        EXPECT_EQ(pair.a.window.Transfers().Cell(0, kColumnName), u"写真 (4/4)");
        WString sent = pair.b.window.LogText();
        WString got = pair.a.window.LogText();
        EXPECT_EQ(Count(sent, u"フォルダの送信が完了しました"), 1u);
        EXPECT_EQ(Count(got, u"フォルダの受信が完了しました"), 1u);
        EXPECT_FALSE(Has(sent + got, u"ファイルの送信が完了しました"));
        EXPECT_EQ(Has(got, u"最初から受信し直します"), partial)
            << "the stale file is fetched again";
    }
}

TEST(SeamFolders, TheRowActsOnTheWholeFolderAndACutFolderIsTakenUpAgain) {
    FolderPair pair;
    fs::path root = pair.outbox.Path() / "many";
    fs::create_directories(root / "sub");
    for (int i = 0; i < 40; ++i)
        WriteFile(root / "sub" / ("f" + std::to_string(i)), test::RandomBytes(100000, i));
    const fs::path& inbox = pair.a.inbox.Path();
    fs::path kept = inbox / "many.tmp";
    test::WindowRecorder& sender = pair.b.window;
    test::WindowRecorder& receiver = pair.a.window;
    pair.b.sendBudget = 1024;  // many passes, so the folder is acted on while it goes
    auto rowOf = [](test::WindowRecorder& window) {
        return window.Transfers().Count() == 1 ? window.Transfers().Row(0)->taskId : -1;
    };
    auto started = [&] {
        pair.a.Refresh();
        WString name = receiver.Transfers().Cell(0, kColumnName);
        return !name.empty() && name != u"many (0/40)" && name != u"many";
    };
    auto reads = [&](test::WindowRecorder& window, WStringView text) {
        return pair.RunUntil(
            [&] { return window.Transfers().Cell(0, kColumnTransferred) == text; });
    };
    // Paused and resumed by the sender, then cancelled by the receiver: both rows read
    // cancelled, and what arrived stays for the next time.
    pair.b.Send(root);
    ASSERT_TRUE(pair.RunUntil(started));
    // The window hears one set of figures for the folder, none for its files.
    auto figures = pair.a.Figures();
    ASSERT_EQ(figures.size(), 1u);
    EXPECT_EQ(figures[0].filesTotal, 40);
    pair.b.SetFileStatus(rowOf(sender), FILE_PAUSE, TransferDirection::Sending);
    pair.b.SetFileStatus(rowOf(sender), FILE_RESEND, TransferDirection::Sending);
    pair.a.SetFileStatus(rowOf(receiver), FILE_CANCEL, TransferDirection::Receiving);
    EXPECT_TRUE(reads(receiver, kRowCancelled));
    EXPECT_TRUE(reads(sender, kRowCancelled));
    EXPECT_TRUE(fs::is_directory(kept));
    // Dropped again: completed in the same folder, not a second one.
    pair.b.sendBudget = 1 << 20;
    int before = sender.Transfers().Count();
    pair.b.Send(root);
    ASSERT_TRUE(pair.RunUntil([&] {
        return FinishedRows(sender.Transfers()) == 1 && FinishedRows(receiver.Transfers()) == 1;
    }));
    EXPECT_EQ(sender.Transfers().Count(), before + 1);
    EXPECT_EQ(test::TreeOf(inbox / "many"), test::TreeOf(root));
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(inbox / "many_[00]"));
    // Deleted by the sender while it goes: the receiver's partial tree goes with it.
    pair.b.sendBudget = 1024;
    fs::remove_all(inbox / "many");
    pair.b.Send(root);
    ASSERT_TRUE(pair.RunUntil([&] {
        pair.a.Refresh();
        return receiver.Transfers().Count() == 3 &&
               receiver.Transfers().Cell(2, kColumnName) != u"many (0/40)" && fs::exists(kept);
    }));
    std::int32_t sending = sender.Transfers().Row(sender.Transfers().Count() - 1)->taskId;
    pair.b.SetFileStatus(sending, FILE_DELETE, TransferDirection::Sending);
    EXPECT_TRUE(pair.RunUntil(
        [&] { return receiver.Transfers().Cell(2, kColumnTransferred) == kRowDeleted; }));
    EXPECT_EQ(sender.Transfers().Cell(sender.Transfers().Count() - 1, kColumnTransferred),
              kRowDeleted);
    EXPECT_FALSE(fs::exists(kept));
}

// A copy that does not announce folders is sent none: the user hears why in one line and the
// peer sees nothing of it.
TEST(SeamFolders, APeerWithoutFoldersGetsNothingAndTheUserOneLine) {
    FolderPair pair(kVerifiedDelivery);
    pair.b.Send(MakeTree(pair.outbox.Path()));
    ASSERT_TRUE(pair.RunIdle());
    EXPECT_EQ(pair.b.window.Transfers().Cell(0, kColumnTransferred), kRowCancelled);
    EXPECT_TRUE(Has(pair.b.window.LogText(), u"相手のプログラムはフォルダを受け取れない"));
    EXPECT_EQ(pair.a.window.Transfers().Count(), 0);
    EXPECT_TRUE(fs::is_empty(pair.a.inbox.Path()));
}

}  // namespace
}  // namespace mirka
