// Verified delivery with a raw peer that withholds its receipt, and what an original peer
// sees (two copies' resumes are in frame_seam_test.cpp).
#include <gtest/gtest.h>

#include "link/wire/delivery_frames.h"
#include "support/frames.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using namespace std::chrono_literals;
using test::FakePeer;
using test::FinishedRows;
using test::WaitUntil;

bool Has(const WString& text, WStringView part) {
    return text.find(part) != WString::npos;
}

// A raw peer that announces verified delivery, takes a file and never sends a receipt.
struct SilentReceiver : test::AnnouncingRawPeer {
    // The announcement, then an offer answered with an accept at 0 and all the data.
    bool TakeFile(std::size_t size) {
        std::vector<std::uint8_t> bytes;
        if (!peer.Read(bytes, FrameHeader::kBytes) || !DecodeCapabilities(bytes.data()))
            return false;
        auto path = folder.Path() / "f.bin";
        test::WriteFile(path, test::RandomBytes(size, 5));
        int row = window.Transfers().AddTransferRow(FromFsPath(path));
        manager.SendFile(FromFsPath(path), row);
        FrameHeader header;
        if (!peer.ReadHeader(header) || header.code != NET_FILE_OFFER ||
            !peer.Read(bytes, FileRecord::kBytes))
            return false;
        FileRecord record = FileRecord::Decode(bytes.data());
        record.offset = 0;
        auto accept = record.Encode();
        FrameHeader reply;
        reply.code = NET_FILE_ACCEPT;
        peer.SendFrame(reply, {accept.begin(), accept.end()});
        for (std::size_t got = 0; got < size; got += header.lengthField) {
            if (!peer.ReadHeader(header) || header.code != NET_FILE_DATA ||
                !peer.Read(bytes, header.lengthField))
                return false;
        }
        return true;
    }
    // The file taken, then its digest read: the send now waits for a receipt.
    bool TakeFileUpToItsDigest(std::chrono::milliseconds receiptWait) {
        TaskManagerTestSeam::SetReceiptWait(manager, receiptWait);
        FrameHeader header;
        return linked && TakeFile(5000) && peer.ReadHeader(header) && header.code == kDigestCode;
    }
    bool RowReads(const WString& text) {
        return WaitUntil([&] {
            TaskManagerTestSeam::RefreshTransfers(manager);
            return window.Transfers().Cell(0, kColumnTransferred) == text;
        });
    }
    test::TempFolder folder;
};

TEST(VerifiedDelivery, WithoutAReceiptASendIsNeverCalledComplete) {
    {
        // The digest follows the data; no receipt within the wait: unconfirmed.
        SilentReceiver side;
        ASSERT_TRUE(side.TakeFileUpToItsDigest(300ms));
        EXPECT_TRUE(side.RowReads(kRowUnconfirmed));
        EXPECT_TRUE(Has(side.window.LogText(), u"届いたことを確認できませんでした"));
        EXPECT_FALSE(Has(side.window.LogText(), u"送信が完了"));
    }
    {
        // The link goes while the send waits for its receipt.
        SilentReceiver side;
        ASSERT_TRUE(side.TakeFileUpToItsDigest(1h));
        side.peer.Close();
        EXPECT_TRUE(side.RowReads(kRowUnconfirmed));
        EXPECT_TRUE(Has(side.window.LogText(), u"接続が切れたため、ファイルが相手に届いたことを"));
    }
    {
        // A receipt for another task, and one with a result outside the three, change
        // nothing; the right one completes the send.
        SilentReceiver side;
        ASSERT_TRUE(side.TakeFileUpToItsDigest(1h));
        auto other = EncodeReceipt({77, ReceiptResult::Verified});
        auto odd = EncodeReceipt({0, ReceiptResult::Verified});
        odd[8] = 9;
        auto right = EncodeReceipt({0, ReceiptResult::Verified});
        side.peer.Send({other.begin(), other.end()});
        side.peer.Send({odd.begin(), odd.end()});
        TaskManagerTestSeam::RefreshTransfers(side.manager);
        EXPECT_EQ(FinishedRows(side.window.Transfers()), 0);
        side.peer.Send({right.begin(), right.end()});
        EXPECT_TRUE(
            side.window.WaitFor([&] { return FinishedRows(side.window.Transfers()) == 1; }));
    }
}

TEST(VerifiedDelivery, AnOriginalPeerSeesTheAnnouncementAndThenTodaysBytes) {
    // The same raw receiver without an announcement: after the data nothing more comes.
    FakePeer peer;
    std::uint16_t port = peer.Listen();
    ProgramValues values;
    test::WindowRecorder window;
    TaskManager manager(&values);
    manager.ownerWindow = &window;
    manager.SetCapabilities(kKnownCapabilities);
    TaskManagerTestSeam::SetKeepAliveInterval(manager, 1h);
    std::thread accepter([&] { peer.Accept(); });
    ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
    accepter.join();
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(peer.Read(bytes, FrameHeader::kBytes));
    auto announcement = EncodeCapabilities(kKnownCapabilities);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(announcement.begin(), announcement.end()));
    test::TempFolder folder;
    auto path = folder.Path() / "f.bin";
    test::WriteFile(path, test::RandomBytes(3000, 6));
    manager.SendFile(FromFsPath(path), window.Transfers().AddTransferRow(FromFsPath(path)));
    FrameHeader header;
    ASSERT_TRUE(peer.ReadHeader(header));
    ASSERT_EQ(header.code, NET_FILE_OFFER);
    ASSERT_TRUE(peer.Read(bytes, FileRecord::kBytes));
    FrameHeader reply;
    reply.code = NET_FILE_ACCEPT;
    peer.SendFrame(reply, bytes);
    ASSERT_TRUE(peer.ReadHeader(header));
    EXPECT_EQ(header.code, NET_FILE_DATA);
    EXPECT_EQ(header.lengthField, 2048u);
    ASSERT_TRUE(peer.Read(bytes, 2048));
    ASSERT_TRUE(peer.ReadHeader(header));
    EXPECT_EQ(header.lengthField, 952u);
    ASSERT_TRUE(peer.Read(bytes, 952));
    ASSERT_TRUE(window.WaitFor([&] { return FinishedRows(window.Transfers()) == 1; }));
    EXPECT_FALSE(peer.Read(bytes, 1, 300)) << "no digest for a peer that did not announce it";
}

}  // namespace
}  // namespace mirka
