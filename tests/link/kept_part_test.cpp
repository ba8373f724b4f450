// The proof of a resumed transfer's kept part before the rest is sent: a right, wrong or
// missing kept part from a raw peer, and a raw sender to a partial file.
#include <gtest/gtest.h>

#include <optional>

#include "link/wire/delivery_frames.h"
#include "raw_peer_link.h"
#include "secure/file_digest.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "toolkit/little_endian.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using secure::DigestKind;
using test::FinishedRows;

constexpr WStringView kSenderStartsOver = u"一致しないため、最初から送信します";
constexpr WStringView kSenderUnanswered = u"確かめられないため、最初から送信します";
constexpr WStringView kReceiverStartsOver = u"途中まで受信していた内容が送信元のファイルと";

using test::Count;
using test::DigestOf;

// A raw peer the manager sends to, which accepts at an offset.
struct RawSide : test::RawPeerLink {
    using test::RawPeerLink::RawPeerLink;

    // The manager offers `bytes`; the peer accepts at `offset` and, unless nothing, sends
    // `kept` right after the accept.
    bool OfferAcceptedAt(const std::vector<char>& bytes, std::int64_t offset,
                         const std::optional<KeptPartFrame>& kept, std::int32_t& id,
                         const std::optional<KeptPartFrame>& sample = std::nullopt) {
        auto path = outbox.Path() / "out.bin";
        test::WriteFile(path, bytes);
        manager.SendFile(FromFsPath(path), window.Transfers().AddTransferRow(FromFsPath(path)));
        FrameHeader header;
        std::vector<std::uint8_t> got;
        if (!peer.ReadHeader(header) || header.code != NET_FILE_OFFER ||
            !peer.Read(got, FileRecord::kBytes))
            return false;
        FileRecord record = FileRecord::Decode(got.data());
        id = record.taskId;
        record.offset = offset;
        auto accept = record.Encode();
        FrameHeader reply;
        reply.code = NET_FILE_ACCEPT;
        peer.SendFrame(reply, {accept.begin(), accept.end()});
        if (sample) {
            KeptPartFrame frame = *sample;
            frame.taskId = id;
            auto encoded = EncodeKeptSample(frame);
            peer.Send({encoded.begin(), encoded.end()});
        }
        if (kept) {
            KeptPartFrame frame = *kept;
            frame.taskId = id;
            auto encoded = EncodeKeptPart(frame);
            peer.Send({encoded.begin(), encoded.end()});
        }
        return true;
    }

    // The peer offers `bytes` (`size` of them) as `name` to the manager, which holds the
    // partial `kept`; the accept's offset, or -1 when no accept came.
    std::int64_t OfferToPartial(const WString& name, std::int32_t id,
                                const std::vector<char>& bytes, const std::vector<char>& kept,
                                std::size_t size) {
        test::LeavePartialFile(inbox.Path() / ToFsPath(name + u".tmp"), kept,
                               static_cast<std::int64_t>(size));
        test::SendOffer(peer, name, id, static_cast<std::int64_t>(size),
                        ResumeChecksum(reinterpret_cast<const std::uint8_t*>(bytes.data())));
        FrameHeader header;
        std::vector<std::uint8_t> got;
        if (!peer.ReadHeader(header) || header.code != NET_FILE_ACCEPT ||
            !peer.Read(got, FileRecord::kBytes))
            return -1;
        return FileRecord::Decode(got.data()).offset;
    }

    // What follows on the wire up to the digest: whether a start over came first, the data
    // bytes, and the digest. False on anything else.
    bool TakeUpToDigest(bool& startedOver, std::vector<char>& data, secure::FileDigest& digest) {
        startedOver = false;
        data.clear();
        for (;;) {
            std::vector<std::uint8_t> raw;
            std::vector<std::uint8_t> got;
            // The wait for a kept part that never comes is the pump's once-a-second look.
            if (!peer.Read(raw, FrameHeader::kBytes, 30000)) return false;
            FrameHeader header = FrameHeader::Decode(raw.data());
            if (header.code == NET_FILE_DATA) {
                if (!peer.Read(got, header.lengthField)) return false;
                data.insert(data.end(), got.begin(), got.end());
                continue;
            }
            if (header.code == kStartOverCode && data.empty() && !startedOver) {
                startedOver = true;
                continue;
            }
            if (header.code != kDigestCode) return false;
            digest = DecodeDigest(raw.data()).digest;
            return true;
        }
    }
};

// Two copies' proofs, over single files and a folder, are in frame_seam_test.cpp; these are
// what a raw peer sends and reads.
TEST(VerifiedKeptPart, AKeptPartIsProvenBeforeTheRestIsSent) {
    constexpr std::size_t kSize = 300 * 1024;
    constexpr std::size_t kKept = 120 * 1024;
    auto fresh = test::RandomBytes(kSize, 21);
    // An older version: same size and first 2 KiB, other bytes behind.
    auto older = test::RandomBytes(kSize, 22);
    std::copy(fresh.begin(), fresh.begin() + 2048, older.begin());
    constexpr std::uint32_t kBlake2bOnly = kVerifiedDelivery | kFolders;

    // A raw receiver: its true kept part (with a true sample before it) has only the rest
    // sent; a wrong one (a bad length or a bad digest) and a missing one have the whole file
    // sent from byte 0, each after a start over, and so has a wrong sample on its own, with
    // no kept part and the full wait for one ahead; the digest at the end is the whole
    // file's either way.
    enum class Kept { Right, WrongDigest, WrongLength, Missing, WrongSample };
    for (Kept kind :
         {Kept::Right, Kept::WrongDigest, Kept::WrongLength, Kept::Missing, Kept::WrongSample}) {
        SCOPED_TRACE(static_cast<int>(kind));
        RawSide side(kKnownCapabilities);
        ASSERT_TRUE(side.linked);
        if (kind == Kept::Missing) TaskManagerTestSeam::SetKeptPartWait(side.manager, 0ms);
        KeptPartFrame truth{0, static_cast<std::int64_t>(kKept),
                            DigestOf(DigestKind::Sha256, fresh, kKept)};
        std::optional<KeptPartFrame> kept;
        std::optional<KeptPartFrame> sample;
        if (kind == Kept::Right) sample = truth;  // a part this short is its own sample
        if (kind == Kept::WrongSample) {
            sample = truth;
            sample->digest[0] ^= 1;
        } else if (kind != Kept::Missing) {
            kept = truth;
            if (kind == Kept::WrongDigest) kept->digest[5] ^= 1;
            if (kind == Kept::WrongLength) kept->bytes = kKept - 1;
        }
        std::int32_t id = -1;
        ASSERT_TRUE(side.OfferAcceptedAt(fresh, kKept, kept, id, sample));
        bool startedOver = false;
        std::vector<char> data;
        secure::FileDigest digest{};
        ASSERT_TRUE(side.TakeUpToDigest(startedOver, data, digest));
        bool right = kind == Kept::Right;
        EXPECT_EQ(startedOver, !right);
        EXPECT_EQ(data.size(), right ? kSize - kKept : kSize);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), fresh.begin() + (right ? kKept : 0)));
        EXPECT_EQ(digest, DigestOf(DigestKind::Sha256, fresh, kSize));
        // A second kept part after the verdict changes nothing.
        auto late = EncodeKeptPart({id, 0, {}});
        side.peer.Send({late.begin(), late.end()});
        auto verified = EncodeReceipt({id, ReceiptResult::Verified});
        side.peer.Send({verified.begin(), verified.end()});
        EXPECT_TRUE(
            side.window.WaitFor([&] { return FinishedRows(side.window.Transfers()) == 1; }));
        WString log = side.window.LogText();
        bool judgedStale = kind != Kept::Right && kind != Kept::Missing;
        EXPECT_EQ(Count(log, kSenderStartsOver), judgedStale ? 1u : 0u);
        EXPECT_EQ(Count(log, kSenderUnanswered), kind == Kept::Missing ? 1u : 0u);
        EXPECT_EQ(test::ReadFile(side.outbox.Path() / "out.bin"), fresh) << "the source stays";
    }

    // A raw sender to a partial: the accept carries the kept part right behind it; a start
    // over cuts only the reception's own file, and the whole file then proves.
    for (std::uint32_t peerBits : {kKnownCapabilities, kBlake2bOnly | kKeptPartProof}) {
        SCOPED_TRACE(peerBits);
        DigestKind kind =
            peerBits == kKnownCapabilities ? DigestKind::Sha256 : DigestKind::Blake2b256;
        RawSide side(peerBits);
        ASSERT_TRUE(side.linked);
        test::WriteFile(side.inbox.Path() / "other.bin", older);
        std::int32_t id = 50;
        std::int64_t offset = side.OfferToPartial(u"in.bin", id, fresh,
                                                  {older.begin(), older.begin() + kKept}, kSize);
        std::vector<std::uint8_t> got;
        ASSERT_EQ(offset, static_cast<std::int64_t>(kKept - 2048)) << "the last 2 KiB again";
        if (peerBits & kKeptSample) {
            // The sample of the kept bytes comes first.
            ASSERT_TRUE(side.peer.Read(got, FrameHeader::kBytes));
            ASSERT_EQ(GetU16(got.data()), kKeptSampleCode);
            KeptPartFrame sample = DecodeKeptPart(got.data());
            EXPECT_EQ(sample.taskId, id);
            EXPECT_EQ(sample.bytes, offset);
            EXPECT_EQ(sample.digest, DigestOf(kind, older, static_cast<std::size_t>(offset)));
        }
        ASSERT_TRUE(side.peer.Read(got, FrameHeader::kBytes));
        ASSERT_EQ(GetU16(got.data()), kKeptPartCode);
        KeptPartFrame kept = DecodeKeptPart(got.data());
        EXPECT_EQ(kept.taskId, id);
        EXPECT_EQ(kept.bytes, offset);
        EXPECT_EQ(kept.digest, DigestOf(kind, older, static_cast<std::size_t>(offset)));
        auto over = EncodeStartOver(id);
        side.peer.Send({over.begin(), over.end()});
        for (std::size_t at = 0; at < kSize; at += 2048) {
            std::size_t n = std::min<std::size_t>(2048, kSize - at);
            side.peer.Send(test::EncodeFrame(
                NET_FILE_DATA, static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(n),
                std::vector<std::uint8_t>(fresh.begin() + static_cast<std::ptrdiff_t>(at),
                                          fresh.begin() + static_cast<std::ptrdiff_t>(at + n))));
            // A start over once data flows changes nothing.
            if (at == 4096) side.peer.Send({over.begin(), over.end()});
        }
        auto digest = EncodeDigest({id, DigestOf(kind, fresh, kSize)});
        side.peer.Send({digest.begin(), digest.end()});
        ASSERT_TRUE(side.peer.Read(got, FrameHeader::kBytes));
        ASSERT_EQ(GetU16(got.data()), kReceiptCode);
        auto receipt = DecodeReceipt(got.data());
        ASSERT_TRUE(receipt);
        EXPECT_EQ(receipt->result, ReceiptResult::Verified);
        EXPECT_EQ(test::ReadFile(side.inbox.Path() / "in.bin"), fresh);
        EXPECT_EQ(test::ReadFile(side.inbox.Path() / "other.bin"), older) << "not ours to cut";
        EXPECT_EQ(Count(side.window.LogText(), kReceiverStartsOver), 1u);
    }

    // A start over cut short: the new bytes go over the old ones, and meanwhile the partial
    // may not be continued (after a crash its end would be the older version's); once the
    // link ends, what is left of the old bytes is cut off and it may be again.
    {
        RawSide side(kKnownCapabilities);
        ASSERT_TRUE(side.linked);
        auto partial = side.inbox.Path() / "cut.bin.tmp";
        std::int32_t id = 51;
        std::int64_t kept = side.OfferToPartial(u"cut.bin", id, fresh,
                                                {older.begin(), older.begin() + kKept}, kSize);
        ASSERT_GT(kept, 0);
        auto place = ContainedFolder::Open(side.inbox.WithSeparator());
        ASSERT_TRUE(place);
        auto note = [&] { return ReceivePaths::ReadNote(*place, u"cut.bin.tmp"); };
        std::vector<std::uint8_t> got;
        do {
            ASSERT_TRUE(side.peer.Read(got, FrameHeader::kBytes));
        } while (GetU16(got.data()) != kKeptPartCode);
        auto over = EncodeStartOver(id);
        side.peer.Send({over.begin(), over.end()});
        constexpr std::size_t kSent = 10 * 1024;
        side.peer.Send(test::EncodeFrame(
            NET_FILE_DATA, static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(kSent),
            std::vector<std::uint8_t>(fresh.begin(), fresh.begin() + kSent)));
        ASSERT_TRUE(side.window.WaitFor([&] { return !note(); })) << "withheld";
        EXPECT_EQ(fs::file_size(partial), static_cast<std::uintmax_t>(kept))
            << "nothing cut while the link stands";
        side.peer.Close();
        ASSERT_TRUE(side.window.WaitFor([&] { return note().has_value(); }));
        EXPECT_EQ(note()->offeredSize, static_cast<std::int64_t>(kSize));
        EXPECT_EQ(test::ReadFile(partial), std::vector<char>(fresh.begin(), fresh.begin() + kSent));
    }
}

}  // namespace
}  // namespace mirka
