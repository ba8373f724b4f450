#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "link/task_manager.h"
#include "link/transfer_support.h"
#include "link/wire/delivery_frames.h"
#include "link/wire/folder_frames.h"
#include "support/frames.h"
#include "support/loopback.h"
#include "support/wait.h"

// The offer question as the terminal end uses it: an offer waits for its answer while the
// link goes on, and a peer cannot make this side hold more than a bounded number of them.
namespace mirka::test {
namespace {

constexpr auto kPatience = std::chrono::seconds(60);

// Keeps every question; answers none by itself.
class Questions {
public:
    TransferEngine::OfferQuestion Asker() {
        return [this](const TransferEngine::OfferAsked& asked) {
            std::lock_guard<std::mutex> guard(lock);
            (asked.withdrawn ? withdrawn : asks).push_back(asked);
        };
    }
    std::vector<TransferEngine::OfferAsked> Asks() {
        std::lock_guard<std::mutex> guard(lock);
        return asks;
    }
    std::vector<TransferEngine::OfferAsked> Withdrawn() {
        std::lock_guard<std::mutex> guard(lock);
        return withdrawn;
    }
    bool WaitForAsks(std::size_t n) {
        return WaitUntil([&] { return Asks().size() >= n; }, kPatience);
    }
    bool WaitForWithdrawn(std::size_t n) {
        return WaitUntil([&] { return Withdrawn().size() >= n; }, kPatience);
    }

private:
    std::mutex lock;
    std::vector<TransferEngine::OfferAsked> asks;
    std::vector<TransferEngine::OfferAsked> withdrawn;
};

std::size_t Count(const WString& text, WStringView part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != WString::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct AskingPair : TransferPair {
    AskingPair() {
        server->SetCapabilities(kKnownCapabilities);
        client->SetCapabilities(kKnownCapabilities);
        server->SetOfferQuestion(questions.Asker());
    }
    bool ChatArrives(const WString& line) {
        client->QueueChatLine(line, u"送る側");
        return WaitUntil([&] { return serverWindow.LogText().find(line) != WString::npos; },
                         kPatience);
    }
    bool RowEnds(std::size_t row, TransferStage stage) {
        return WaitUntil(
            [&] {
                auto rows = clientWindow.Transfers().Rows();
                return rows.size() > row && rows[row].stage == stage;
            },
            kPatience);
    }
    Questions questions;
};

// Files and folders, taken and refused: while an offer waits for its answer the peer's chat
// still arrives; a taken one arrives verified, a refused one ends cancelled with nothing
// left in the receive folder; an offer still waiting when the link ends is withdrawn.
TEST(OfferQuestion, WaitsWithoutHoldingTheLink) {
    AskingPair pair;
    ASSERT_TRUE(pair.Link());
    auto taken = pair.outbox.Path() / "taken.bin";
    auto refused = pair.outbox.Path() / "refused.bin";
    WriteFile(taken, RandomBytes(200 * 1024, 1));
    WriteFile(refused, RandomBytes(1000, 2));
    auto tree = pair.outbox.Path() / "tree";
    std::filesystem::create_directories(tree / "sub");
    WriteFile(tree / "a.txt", RandomBytes(3000, 3));
    WriteFile(tree / "sub" / "b.bin", RandomBytes(70 * 1024, 4));
    auto other = pair.outbox.Path() / "other";
    std::filesystem::create_directories(other / "deep");
    WriteFile(other / "deep" / "c.txt", RandomBytes(100, 5));

    pair.Send(taken);
    ASSERT_TRUE(pair.questions.WaitForAsks(1));
    auto ask = pair.questions.Asks()[0];
    EXPECT_EQ(ask.name, u"taken.bin");
    EXPECT_EQ(ask.bytes, 200 * 1024);
    EXPECT_FALSE(ask.folder);
    EXPECT_TRUE(pair.ChatArrives(u"答えを待つ間の発言"));
    pair.server->AnswerOffer(ask.ticket, true);
    ASSERT_TRUE(pair.RowEnds(0, TransferStage::Verified));
    EXPECT_EQ(ReadFile(pair.inbox.Path() / "taken.bin"), ReadFile(taken));
    // A second answer for the same ticket finds nothing.
    pair.server->AnswerOffer(ask.ticket, true);

    pair.Send(refused);
    ASSERT_TRUE(pair.questions.WaitForAsks(2));
    pair.server->AnswerOffer(pair.questions.Asks()[1].ticket, false);
    ASSERT_TRUE(pair.RowEnds(1, TransferStage::Cancelled));
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "refused.bin"));

    // A folder's entries and files come before its answer; they wait with it.
    pair.Send(tree);
    ASSERT_TRUE(pair.questions.WaitForAsks(3));
    ask = pair.questions.Asks()[2];
    EXPECT_EQ(ask.name, u"tree");
    EXPECT_TRUE(ask.folder);
    EXPECT_EQ(ask.bytes, 3000 + 70 * 1024);
    EXPECT_TRUE(pair.ChatArrives(u"フォルダの答えを待つ間"));
    pair.server->AnswerOffer(ask.ticket, true);
    ASSERT_TRUE(pair.RowEnds(2, TransferStage::Verified));
    EXPECT_EQ(TreeOf(pair.inbox.Path() / "tree"), TreeOf(tree));

    pair.Send(other);
    ASSERT_TRUE(pair.questions.WaitForAsks(4));
    pair.server->AnswerOffer(pair.questions.Asks()[3].ticket, false);
    ASSERT_TRUE(pair.RowEnds(3, TransferStage::Cancelled));
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "other"));
    EXPECT_EQ(Count(pair.serverWindow.LogText(), u"受け取らないことにした"), 1u);

    pair.Send(refused);
    ASSERT_TRUE(pair.questions.WaitForAsks(5));
    EXPECT_TRUE(pair.questions.Withdrawn().empty());
    pair.client->Disconnect();
    ASSERT_TRUE(pair.questions.WaitForWithdrawn(1));
    EXPECT_EQ(pair.questions.Withdrawn()[0].ticket, pair.questions.Asks()[4].ticket);
    // An answer after the link's end changes nothing.
    pair.server->AnswerOffer(pair.questions.Asks()[4].ticket, true);
    EXPECT_FALSE(std::filesystem::exists(pair.inbox.Path() / "refused.bin"));
}

using Bytes = std::vector<std::uint8_t>;

// Reads frames until a cancel for `id`; false when the link gives nothing more.
bool ReadsCancel(FakePeer& peer, std::int32_t id) {
    FrameHeader header;
    for (;;) {
        if (!peer.ReadHeader(header, 60000)) return false;
        Bytes body;
        std::size_t payload = header.code == NET_CHAT ? CharFormat::kBytes + header.lengthField
                              : header.code == NET_FILE_OFFER || header.code == NET_FILE_ACCEPT
                                  ? FileRecord::kBytes
                                  : 0;
        if (payload > 0 && !peer.Read(body, payload, 60000)) return false;
        if (header.code == NET_FILE_CANCEL && header.lengthField == static_cast<std::uint32_t>(id))
            return true;
    }
}

// A manager with the question set, linked as the client to a raw peer; both announce every
// capability.
struct AskedRawPeer {
    AskedRawPeer() {
        values.SetReceiveFolder(inbox.WithSeparator());
        manager.SetCapabilities(kKnownCapabilities);
        manager.SetOfferQuestion(questions.Asker());
        manager.ownerWindow = &window;
        std::uint16_t port = peer.Listen();
        std::thread accepter([&] { peer.Accept(); });
        linked = manager.ConnectToServer("127.0.0.1", port);
        accepter.join();
        auto announcement = EncodeCapabilities(kKnownCapabilities);
        peer.Send({announcement.begin(), announcement.end()});
    }
    ~AskedRawPeer() { manager.DetachWindow(&window); }
    void Send(const std::string& bytes) { peer.Send({bytes.begin(), bytes.end()}); }

    TempFolder inbox;
    Questions questions;
    ProgramValues values;
    WindowRecorder window;
    TaskManager manager{&values};
    FakePeer peer;
    bool linked = false;
};

// A peer that offers without end: the offers waiting for an answer count among the 64
// receptions, so the next one is refused at once; a folder whose waiting entries pass their
// bound is refused and withdrawn; a peer's cancel withdraws what it offered.
TEST(OfferQuestion, APeerCannotMakeItHoldWithoutBound) {
    AskedRawPeer side;
    ASSERT_TRUE(side.linked);
    for (std::int32_t id = 0; id < static_cast<std::int32_t>(kMaxReceptions); ++id)
        SendOffer(side.peer, u"f" + FromUtf8(std::to_string(id)), id, 10);
    ASSERT_TRUE(side.questions.WaitForAsks(kMaxReceptions));
    SendOffer(side.peer, u"one-too-many", 1000, 10);
    EXPECT_TRUE(ReadsCancel(side.peer, 1000));
    EXPECT_EQ(side.questions.Asks().size(), kMaxReceptions);

    // The peer takes one back: it is withdrawn, and its id is free again.
    side.peer.SendFrame([] {
        FrameHeader header;
        header.code = NET_FILE_CANCEL;
        header.lengthField = 0;
        return header;
    }());
    ASSERT_TRUE(side.questions.WaitForWithdrawn(1));
    EXPECT_EQ(side.questions.Withdrawn()[0].ticket, side.questions.Asks()[0].ticket);

    // A folder whose sub-folders pile up while it waits.
    FolderOfferFrame pile;
    pile.folderId = 2000;
    pile.folderCount = 100000;
    pile.name = "pile";
    side.Send(EncodeFolderOffer(pile));
    ASSERT_TRUE(side.questions.WaitForAsks(kMaxReceptions + 1));
    std::string entries;
    for (int i = 0; i < 2500; ++i)
        entries += RawFolderPeer::Entry(2000, std::to_string(i) + std::string(3990, 'x'));
    side.Send(entries);
    EXPECT_TRUE(ReadsCancel(side.peer, 2000));
    ASSERT_TRUE(side.questions.WaitForWithdrawn(2));
    EXPECT_EQ(side.questions.Withdrawn()[1].ticket, side.questions.Asks()[kMaxReceptions].ticket);
    EXPECT_FALSE(std::filesystem::exists(side.inbox.Path() / "pile"));
    // Answering it now changes nothing.
    side.manager.AnswerOffer(side.questions.Asks()[kMaxReceptions].ticket, true);
    EXPECT_FALSE(std::filesystem::exists(side.inbox.Path() / "pile"));
}

}  // namespace
}  // namespace mirka::test
