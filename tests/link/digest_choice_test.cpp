// Which digest a copy proves a file with (two copies that differ in it are in
// frame_seam_test.cpp), what a sender does with each receipt, and
// verified delivery and folders on a private link.
#include <gtest/gtest.h>

#include <optional>

#include "link/wire/delivery_frames.h"
#include "raw_peer_link.h"
#include "secure/file_digest.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using secure::DigestKind;
using test::FinishedRows;
using test::WaitUntil;

// What a copy announced before SHA-256 was known.
constexpr std::uint32_t kBlake2bOnly = kVerifiedDelivery | kFolders;

using test::Count;
using test::DigestOf;

// A raw peer that takes a file from the manager or gives it one.
struct RawPeerLink : test::RawPeerLink {
    using test::RawPeerLink::RawPeerLink;

    // The manager sends `bytes` as a file: the peer accepts it at 0, takes every data frame
    // and returns the digest that follows them.
    std::optional<DigestFrame> TakeFile(const std::vector<char>& bytes) {
        auto path = outbox.Path() / "out.bin";
        test::WriteFile(path, bytes);
        manager.SendFile(FromFsPath(path), window.Transfers().AddTransferRow(FromFsPath(path)));
        FrameHeader header;
        std::vector<std::uint8_t> got;
        if (!peer.ReadHeader(header) || header.code != NET_FILE_OFFER ||
            !peer.Read(got, FileRecord::kBytes))
            return std::nullopt;
        FrameHeader reply;
        reply.code = NET_FILE_ACCEPT;
        peer.SendFrame(reply, got);
        std::vector<char> data;
        while (data.size() < bytes.size()) {
            if (!peer.ReadHeader(header) || header.code != NET_FILE_DATA ||
                !peer.Read(got, header.lengthField))
                return std::nullopt;
            data.insert(data.end(), got.begin(), got.end());
        }
        if (data != bytes || !peer.Read(got, FrameHeader::kBytes) ||
            GetU16(got.data()) != kDigestCode)
            return std::nullopt;
        return DecodeDigest(got.data());
    }

    // The peer offers a file (or, with `again`, sends it once more after a receipt asked for
    // it), sends all its bytes and then `digest`; the receipt that answers.
    std::optional<ReceiptFrame> GiveFile(std::int32_t id, const std::vector<char>& bytes,
                                         const secure::FileDigest& digest, bool again = false) {
        std::vector<std::uint8_t> got;
        if (!again) {
            test::SendOffer(peer, u"in.bin", id, static_cast<std::int64_t>(bytes.size()));
            FrameHeader header;
            if (!peer.ReadHeader(header) || header.code != NET_FILE_ACCEPT ||
                !peer.Read(got, FileRecord::kBytes))
                return std::nullopt;
        }
        for (std::size_t at = 0; at < bytes.size(); at += 2048) {
            std::size_t n = std::min<std::size_t>(2048, bytes.size() - at);
            peer.Send(test::EncodeFrame(
                NET_FILE_DATA, static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(n),
                std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                          bytes.begin() + static_cast<std::ptrdiff_t>(at + n))));
        }
        auto frame = EncodeDigest({id, digest});
        peer.Send({frame.begin(), frame.end()});
        if (!peer.Read(got, FrameHeader::kBytes) || GetU16(got.data()) != kReceiptCode)
            return std::nullopt;
        return DecodeReceipt(got.data());
    }

    // Frames are read in order: once an offer sent now is accepted, all before it were read.
    bool Sync(std::int32_t id) {
        test::SendOffer(peer, u"sync.bin", id, 10);
        FrameHeader header;
        std::vector<std::uint8_t> record;
        return peer.ReadHeader(header) && header.code == NET_FILE_ACCEPT &&
               peer.Read(record, FileRecord::kBytes);
    }

    WString SendRow() {
        TaskManagerTestSeam::RefreshTransfers(manager);
        return window.Transfers().Cell(0, kColumnTransferred);
    }
};

TEST(DigestChoice, Sha256WhereBothAnnounceItAndBlake2bWithACopyThatAnnouncedOnlyThat) {
    auto bytes = test::RandomBytes(70000, 11);
    for (std::uint32_t peerBits : {kKnownCapabilities, kBlake2bOnly}) {
        SCOPED_TRACE(peerBits);
        DigestKind chosen =
            peerBits == kKnownCapabilities ? DigestKind::Sha256 : DigestKind::Blake2b256;
        DigestKind other =
            chosen == DigestKind::Sha256 ? DigestKind::Blake2b256 : DigestKind::Sha256;
        RawPeerLink side(peerBits);
        ASSERT_TRUE(side.linked);
        // Sending: the digest after the data is the chosen one's, and its receipt completes.
        auto digest = side.TakeFile(bytes);
        ASSERT_TRUE(digest);
        EXPECT_EQ(digest->digest, DigestOf(chosen, bytes));
        auto verified = EncodeReceipt({digest->taskId, ReceiptResult::Verified});
        side.peer.Send({verified.begin(), verified.end()});
        EXPECT_TRUE(
            side.window.WaitFor([&] { return FinishedRows(side.window.Transfers()) == 1; }));
        // Receiving: the other algorithm's digest does not prove the file, the chosen one's
        // does.
        auto receipt = side.GiveFile(40, bytes, DigestOf(other, bytes));
        ASSERT_TRUE(receipt);
        EXPECT_EQ(receipt->result, ReceiptResult::SendAgain);
        receipt = side.GiveFile(40, bytes, DigestOf(chosen, bytes), true);
        ASSERT_TRUE(receipt);
        EXPECT_EQ(receipt->taskId, 40);
        EXPECT_EQ(receipt->result, ReceiptResult::Verified);
        EXPECT_EQ(test::ReadFile(side.inbox.Path() / "in.bin"), bytes);
    }
}

TEST(DigestChoice, AFailedReceiptEndsTheSendAsUnmatchedAndAnUnknownOneChangesNothing) {
    auto bytes = test::RandomBytes(5000, 12);
    {
        // No receipt is overdue for an hour: only the receipt ends the send, and at once.
        RawPeerLink side(kKnownCapabilities);
        ASSERT_TRUE(side.linked);
        auto digest = side.TakeFile(bytes);
        ASSERT_TRUE(digest);
        auto failed = EncodeReceipt({digest->taskId, ReceiptResult::Failed});
        side.peer.Send({failed.begin(), failed.end()});
        EXPECT_TRUE(WaitUntil([&] { return side.SendRow() == kRowUnverified; }));
        WString log = side.window.LogText();
        EXPECT_EQ(Count(log, u"相手が受信したファイルの内容が一致しないため、送信を中止しました"),
                  1u);
        // A verified receipt after it finds no send waiting.
        auto late = EncodeReceipt({digest->taskId, ReceiptResult::Verified});
        side.peer.Send({late.begin(), late.end()});
        ASSERT_TRUE(side.Sync(41));
        EXPECT_EQ(side.SendRow(), kRowUnverified);
        EXPECT_EQ(Count(side.window.LogText(), u"送信が完了"), 0u);
    }
    {
        // Every result outside the three, then the verified one: only that one counts.
        RawPeerLink side(kKnownCapabilities);
        ASSERT_TRUE(side.linked);
        auto digest = side.TakeFile(bytes);
        ASSERT_TRUE(digest);
        for (int result = 0; result < 256; ++result) {
            if (result >= 1 && result <= 3) continue;
            auto odd = EncodeReceipt({digest->taskId, ReceiptResult::Verified});
            odd[8] = static_cast<std::uint8_t>(result);
            side.peer.Send({odd.begin(), odd.end()});
        }
        auto verified = EncodeReceipt({digest->taskId, ReceiptResult::Verified});
        side.peer.Send({verified.begin(), verified.end()});
        // The completion line reaches the window just after the row does.
        EXPECT_TRUE(side.window.WaitFor([&] {
            return FinishedRows(side.window.Transfers()) == 1 &&
                   Count(side.window.LogText(), u"ファイルの送信が完了しました") == 1;
        }));
        WString log = side.window.LogText();
        EXPECT_EQ(Count(log, u"SystemError"), 0u);
        EXPECT_NE(side.SendRow(), kRowUnverified);
    }
}

TEST(DigestChoice, APrivateLinkVerifiesAndCarriesFoldersAsAPlainOneDoes) {
    // An older version of the file kept as a partial (same size and first 2 KiB): only
    // verified delivery finds it stale, and the proof of the kept part before the rest.
    constexpr std::size_t kSize = 300 * 1024;
    auto fresh = test::RandomBytes(kSize, 13);
    auto older = test::RandomBytes(kSize, 14);
    std::copy(fresh.begin(), fresh.begin() + 2048, older.begin());
    for (const WString& passphrase : {WString(), WString(u"合言葉")}) {
        SCOPED_TRACE(ToUtf8(passphrase));
        test::TransferPair pair;
        pair.server->SetCapabilities(kKnownCapabilities);
        pair.client->SetCapabilities(kKnownCapabilities);
        pair.server->SetPassphrase(passphrase);
        pair.client->SetPassphrase(passphrase);
        test::LeavePartialFile(pair.inbox.Path() / "doc.bin.tmp",
                               std::vector<char>(older.begin(), older.begin() + 100 * 1024), kSize);
        test::WriteFile(pair.outbox.Path() / "doc.bin", fresh);
        fs::path root = pair.outbox.Path() / "tree";
        fs::create_directories(root / "sub");
        auto member = test::RandomBytes(9000, 15);
        test::WriteFile(root / "sub" / "m.bin", member);
        ASSERT_TRUE(pair.Link());
        pair.Send(pair.outbox.Path() / "doc.bin");
        pair.Send(root);
        ASSERT_TRUE(pair.serverWindow.WaitFor([&] {
            return FinishedRows(pair.serverWindow.Transfers()) == 2;
        })) << ToUtf8(pair.serverWindow.LogText());
        ASSERT_TRUE(pair.clientWindow.WaitFor(
            [&] { return FinishedRows(pair.clientWindow.Transfers()) == 2; }));
        EXPECT_EQ(test::ReadFile(pair.inbox.Path() / "doc.bin"), fresh);
        EXPECT_EQ(test::ReadFile(pair.inbox.Path() / "tree" / "sub" / "m.bin"), member);
        WString received = pair.serverWindow.LogText();
        // The stale kept part is found before the rest is sent: the kept part and the start
        // over crossed the link (sealed in records on the private one).
        EXPECT_EQ(Count(received, u"途中まで受信していた内容が送信元のファイルと一致しないため"),
                  1u);
        EXPECT_EQ(Count(received, u"最初から受信し直します"), 1u);
        EXPECT_EQ(Count(pair.clientWindow.LogText(), u"一致しないため、最初から送信します"), 1u);
        EXPECT_EQ(Count(received, u"フォルダの受信が完了しました"), 1u);
        // The sender's line may follow its row.
        EXPECT_TRUE(pair.clientWindow.WaitFor([&] {
            return Count(pair.clientWindow.LogText(), u"ファイルの送信が完了しました") == 1;
        }));
    }
}

}  // namespace
}  // namespace mirka
