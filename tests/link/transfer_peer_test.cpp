#include <algorithm>
#include <chrono>
#include <iterator>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "link/wire/file_record.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "toolkit/little_endian.h"
#include "transfer_support.h"

namespace mirka {
namespace {

using test::FakePeer;
using test::WaitUntil;

// A TaskManager waiting as server with a receive folder, and a raw peer connected to it.
// The receive folder is one level down in a folder the test owns, so a name that escapes
// it by one level still lands in that folder and goes with it.
struct ReceiverWithFakePeer {
    ReceiverWithFakePeer() : manager(&values) {
        std::filesystem::create_directory(receive);
        values.SetReceiveFolder(FromFsPath(receive / ""));
        manager.ownerWindow = &window;
        std::uint16_t port = test::FreeLoopbackPort();
        std::thread waiter([&] { manager.StartServer(port); });
        connected = peer.Connect(port);
        waiter.join();
    }
    void Offer(const WString& name, std::int32_t id, std::int64_t size,
               std::uint32_t checksum = 0) {
        test::SendOffer(peer, name, id, size, checksum);
    }
    bool ReadAccept(FileRecord& record) {
        FrameHeader header;
        do {
            if (!peer.ReadHeader(header)) return false;
        } while (header.code == NET_KEEPALIVE);
        std::vector<std::uint8_t> bytes;
        if (header.code != NET_FILE_ACCEPT || !peer.Read(bytes, FileRecord::kBytes)) return false;
        record = FileRecord::Decode(bytes.data());
        return true;
    }
    void Data(std::int32_t id, const std::vector<std::uint8_t>& bytes) {
        FrameHeader header;
        header.code = NET_FILE_DATA;
        header.taskField = static_cast<std::uint32_t>(id);
        header.lengthField = static_cast<std::uint32_t>(bytes.size());
        peer.SendFrame(header, bytes);
    }
    void Control(std::uint16_t code, std::int32_t id) {
        FrameHeader header;
        header.code = code;
        header.lengthField = static_cast<std::uint32_t>(id);
        peer.SendFrame(header);
    }
    std::vector<std::string> InboxNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(receive))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ProgramValues values;
    test::WindowRecorder window;
    test::TempFolder inbox;
    std::filesystem::path receive = inbox.Path() / "in";
    TaskManager manager;
    FakePeer peer;
    bool connected = false;
};

TEST(TransferPeer, HostileNamesStayInsideTheReceiveFolder) {
    ReceiverWithFakePeer link;
    ASSERT_TRUE(link.connected);
    // clang-format off
    std::vector<WString> names = {u"../x", u"/etc/x", u"a/b", u"C:\\x", u"..", u"a\x01" u"b:c"};
    // clang-format on
    for (std::size_t i = 0; i < names.size(); ++i) {
        link.Offer(names[i], static_cast<std::int32_t>(i), 1);
        FileRecord accept;
        ASSERT_TRUE(link.ReadAccept(accept)) << testing::PrintToString(names[i]);
        link.Data(static_cast<std::int32_t>(i), {'z'});
    }
    // A name field without its terminating zero gets a substitute name.
    std::vector<std::uint8_t> record(FileRecord::kBytes, 0);
    for (std::size_t i = 0; i < FileRecord::kNameBytes; i += 2) record[i] = 'A';
    record[532] = 50;  // task id
    record[536] = 1;   // size
    FrameHeader header;
    header.code = NET_FILE_OFFER;
    link.peer.SendFrame(header, record);
    FileRecord accept;
    ASSERT_TRUE(link.ReadAccept(accept));
    link.Data(50, {'z'});
    // A reception's event comes after its file got its final name.
    std::size_t count = names.size() + 1;
    ASSERT_TRUE(link.window.WaitFor(
        [&] { return link.window.EventCount(LinkEvent::TransferFinished) == count; }));
    EXPECT_EQ(link.InboxNames(),
              (std::vector<std::string>{"a_b_c", "b", "received_file", "received_file_[00]", "x",
                                        "x_[00]", "x_[01]"}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(link.inbox.Path()),
                            std::filesystem::directory_iterator()),
              1);  // nothing beside the receive folder
}

TEST(TransferPeer, DataBeyondTheOfferedSizeAndForUnknownTasksIsDropped) {
    ReceiverWithFakePeer link;
    ASSERT_TRUE(link.connected);
    // Nobody asked: read and dropped, and the sender hears one cancel, however much comes.
    link.Data(99, std::vector<std::uint8_t>(5000, 'u'));
    link.Data(99, std::vector<std::uint8_t>(100, 'u'));
    FrameHeader cancel;
    ASSERT_TRUE(link.peer.ReadHeader(cancel));
    EXPECT_EQ(cancel.code, NET_FILE_CANCEL);
    EXPECT_EQ(cancel.lengthField, 99u);
    link.Offer(u"f.txt", 5, 3);
    FileRecord accept;
    ASSERT_TRUE(link.ReadAccept(accept));
    EXPECT_EQ(accept.taskId, 5);
    EXPECT_EQ(accept.offset, 0);
    link.Data(5, {'a', 'b', 'c', 'd', 'e'});
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(link.receive / "f.txt"); }));
    EXPECT_EQ(test::ReadFile(link.receive / "f.txt"), (std::vector<char>{'a', 'b', 'c'}));
    // The offer of id 5 moves this side's numbering on to 6.
    EXPECT_EQ(TaskManagerTestSeam::NextTaskId(link.manager), 6);
    EXPECT_EQ(link.manager.LinkState(), LINK_SERVER);  // still in step
}

// Partial files of zero bytes: worked out apart from the program, CRC-16/CCITT-FALSE of
// 2,048 zero bytes is 0xC584.
TEST(TransferPeer, ResumeOffsetOnTheWireAndALongerPartialIsCutBack) {
    ReceiverWithFakePeer link;
    ASSERT_TRUE(link.connected);
    test::LeavePartialFile(link.receive / "p.bin.tmp", std::vector<char>(5000, 0), 10000);
    test::LeavePartialFile(link.receive / "q.bin.tmp", std::vector<char>(9000, 0), 8000);
    link.Offer(u"p.bin", 1, 10000, 0xC584);
    FileRecord accept;
    ASSERT_TRUE(link.ReadAccept(accept));
    EXPECT_EQ(accept.offset, 5000 - 2048);  // the partial's last 2,048 bytes come again
    std::int64_t pOffset = std::clamp<std::int64_t>(accept.offset, 0, 10000);
    link.Data(1, std::vector<std::uint8_t>(10000 - pOffset, 'p'));
    // A partial longer than the file now offered: the received file ends at the new size.
    link.Offer(u"q.bin", 2, 8000, 0xC584);
    ASSERT_TRUE(link.ReadAccept(accept));
    std::int64_t qOffset = std::clamp<std::int64_t>(accept.offset, 0, 8000);
    link.Data(2, std::vector<std::uint8_t>(8000 - qOffset, 'q'));
    ASSERT_TRUE(WaitUntil([&] {
        return std::filesystem::exists(link.receive / "p.bin") &&
               std::filesystem::exists(link.receive / "q.bin");
    }));
    auto expected = [](std::int64_t offset, std::int64_t size, char fill) {
        std::vector<char> bytes(size, fill);
        std::fill(bytes.begin(), bytes.begin() + offset, 0);
        return bytes;
    };
    EXPECT_TRUE(test::ReadFile(link.receive / "p.bin") == expected(pOffset, 10000, 'p'));
    EXPECT_TRUE(test::ReadFile(link.receive / "q.bin") == expected(qOffset, 8000, 'q'));
}

TEST(TransferPeer, HostileTaskIdsLeaveRowsAndNumberingWorking) {
    ReceiverWithFakePeer link;
    ASSERT_TRUE(link.connected);
    // The last id is taken, its row works, and the numbering starts again at 0.
    link.Offer(u"last.bin", 0x7FFFFFFF, 1);
    FileRecord accept;
    ASSERT_TRUE(link.ReadAccept(accept));
    EXPECT_EQ(accept.taskId, 0x7FFFFFFF);
    link.Data(0x7FFFFFFF, {'z'});
    ASSERT_TRUE(
        link.window.WaitFor([&] { return test::FinishedRows(link.window.Transfers()) == 1; }));
    EXPECT_EQ(TaskManagerTestSeam::NextTaskId(link.manager), 0);
    // Negative ids are refused with one line (a cancel answers each), and change nothing.
    for (std::int32_t id : {-5, std::numeric_limits<std::int32_t>::min()}) {
        link.Offer(u"neg.bin", id, 10);
        FrameHeader header;
        do {
            ASSERT_TRUE(link.peer.ReadHeader(header));
        } while (header.code == NET_KEEPALIVE);
        EXPECT_EQ(header.code, NET_FILE_CANCEL);
        EXPECT_EQ(static_cast<std::int32_t>(header.lengthField), id);
        link.Data(id, std::vector<std::uint8_t>(10, 'n'));
    }
    link.Offer(u"after.bin", 7, 1);
    ASSERT_TRUE(link.ReadAccept(accept));
    EXPECT_EQ(TaskManagerTestSeam::NextTaskId(link.manager), 8);
    EXPECT_EQ(link.window.Transfers().Count(), 2);
    EXPECT_EQ(link.InboxNames(),
              (std::vector<std::string>{".after.bin.tmp.size", "after.bin.tmp", "last.bin"}));
    WString log = link.window.LogText();
    std::size_t line = log.find(u"転送番号 -5 は使えない");
    ASSERT_NE(line, WString::npos);
    EXPECT_EQ(log.find(u"は使えない", line + 10), WString::npos);
}

TEST(TransferPeer, ControlsFromTheSenderSide) {
    ReceiverWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.Offer(u"keep.bin", 1, 100);
    link.Offer(u"gone.bin", 2, 100);
    FileRecord accept;
    ASSERT_TRUE(link.ReadAccept(accept));
    ASSERT_TRUE(link.ReadAccept(accept));
    link.Data(1, std::vector<std::uint8_t>(10, 'k'));
    link.Control(NET_FILE_CANCEL, 1);  // cancel keeps the partial file for a later resume
    link.Control(NET_FILE_DELETE, 2);  // delete removes it
    auto& rows = link.window.Transfers();
    ASSERT_TRUE(WaitUntil([&] { return rows.Cell(1, kColumnTransferred) == u"削除しました"; }));
    EXPECT_EQ(rows.Cell(0, kColumnTransferred), u"キャンセルしました");
    // The partial file keeps the note of the size first offered for it.
    EXPECT_EQ(link.InboxNames(), (std::vector<std::string>{".keep.bin.tmp.size", "keep.bin.tmp"}));
    EXPECT_EQ(std::filesystem::file_size(link.receive / "keep.bin.tmp"), 10u);  // all it got
}

TEST(TransferPeer, ReceiverStatusChangesSendTheirCodes) {
    ReceiverWithFakePeer link;
    ASSERT_TRUE(link.connected);
    link.Offer(u"r.bin", 4, 100);
    FileRecord accept;
    ASSERT_TRUE(link.ReadAccept(accept));
    auto expectCode = [&](std::uint16_t code) {
        FrameHeader header;
        do {
            ASSERT_TRUE(link.peer.ReadHeader(header));
        } while (header.code == NET_KEEPALIVE);
        EXPECT_EQ(header.code, code);
        EXPECT_EQ(header.lengthField, 4u);
        EXPECT_EQ(header.taskField, 0u);
    };
    link.Data(4, std::vector<std::uint8_t>(30, 'r'));
    ASSERT_TRUE(
        WaitUntil([&] { return TaskManagerTestSeam::Figures(link.manager)[0].transferred == 30; }));
    link.manager.SetFileStatus(4, FILE_PAUSE, TransferDirection::Receiving);
    expectCode(NET_FILE_PAUSE);
    // A pause puts all that was received on disk.
    EXPECT_EQ(std::filesystem::file_size(link.receive / "r.bin.tmp"), 30u);
    link.manager.SetFileStatus(4, FILE_RESEND, TransferDirection::Receiving);
    expectCode(NET_FILE_RESEND);
    // The receiver's delete reaches the sender as a cancel and removes the temporary file.
    link.manager.SetFileStatus(4, FILE_DELETE, TransferDirection::Receiving);
    expectCode(NET_FILE_CANCEL);
    ASSERT_TRUE(WaitUntil([&] { return link.InboxNames().empty(); }));
    EXPECT_EQ(link.window.Transfers().Cell(0, kColumnTransferred), u"削除しました");
}

TEST(TransferPeer, SenderChunksPerPassFollowTheBudget) {
    for (auto [budget, expected] :
         std::vector<std::pair<int, int>>{{2048, 1}, {4096, 1}, {4097, 2}, {8192, 3}}) {
        test::TempFolder folder;
        test::WriteFile(folder.Path() / "s.bin", test::RandomBytes(64 * 1024, 3));
        FakePeer peer;
        std::uint16_t port = peer.Listen();
        test::WindowRecorder window;  // outlives the manager that reports to it
        TaskManager manager;
        manager.ownerWindow = &window;
        manager.sendBufSize = budget;
        manager.sendWait = 400;
        std::thread accepter([&] { peer.Accept(); });
        ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
        accepter.join();
        manager.SendFile(FromFsPath(folder.Path() / "s.bin"));
        FrameHeader header;
        ASSERT_TRUE(peer.ReadHeader(header));
        ASSERT_EQ(header.code, NET_FILE_OFFER);
        std::vector<std::uint8_t> record;
        ASSERT_TRUE(peer.Read(record, FileRecord::kBytes));
        FrameHeader accept;
        accept.code = NET_FILE_ACCEPT;
        peer.SendFrame(accept, record);
        // The first pass may start up to 400 ms after the accept; its frames then arrive
        // together, and the next pass is 400 ms after it.
        int frames = 0;
        int waitMs = 5000;
        while (peer.ReadHeader(header, waitMs)) {
            waitMs = 200;
            ASSERT_EQ(header.code, NET_FILE_DATA);
            std::vector<std::uint8_t> data;
            ASSERT_TRUE(peer.Read(data, header.lengthField));
            ++frames;
        }
        EXPECT_EQ(frames, expected) << "budget " << budget;
    }
}

}  // namespace
}  // namespace mirka

namespace mirka {
namespace {

TEST(TransferPeer, SenderStatusChangesActLocallyOrSendTheirCodes) {
    test::TempFolder folder;
    test::WriteFile(folder.Path() / "s.bin", test::RandomBytes(200 * 1024, 5));
    FakePeer peer;
    std::uint16_t port = peer.Listen();
    TaskManager manager;
    test::WindowRecorder window;
    manager.ownerWindow = &window;
    manager.sendWait = 50;
    std::thread accepter([&] { peer.Accept(); });
    ASSERT_TRUE(manager.ConnectToServer("127.0.0.1", port));
    accepter.join();
    manager.SendFile(FromFsPath(folder.Path() / "s.bin"));
    manager.SendFile(FromFsPath(folder.Path() / "s.bin"));
    FrameHeader header;
    std::vector<std::uint8_t> record;
    for (int i = 0; i < 2; ++i) {
        // The first file's data may come before the second offer: the pump can take the two
        // offers in separate passes.
        do {
            ASSERT_TRUE(peer.ReadHeader(header));
            if (header.code == NET_FILE_DATA) {
                ASSERT_TRUE(peer.Read(record, header.lengthField));
            }
        } while (header.code == NET_FILE_DATA);
        ASSERT_EQ(header.code, NET_FILE_OFFER);
        ASSERT_TRUE(peer.Read(record, FileRecord::kBytes));
        FrameHeader accept;
        accept.code = NET_FILE_ACCEPT;
        peer.SendFrame(accept, record);
    }
    // Pausing the sender sends nothing and stops its data; resending starts it again.
    manager.SetFileStatus(0, FILE_PAUSE, TransferDirection::Sending);
    manager.SetFileStatus(1, FILE_PAUSE, TransferDirection::Sending);
    std::vector<std::uint8_t> data;
    while (peer.ReadHeader(header, 300)) {
        ASSERT_EQ(header.code, NET_FILE_DATA);
        ASSERT_TRUE(peer.Read(data, header.lengthField));
    }
    manager.SetFileStatus(0, FILE_RESEND, TransferDirection::Sending);
    ASSERT_TRUE(peer.ReadHeader(header));
    EXPECT_EQ(header.code, NET_FILE_DATA);
    EXPECT_EQ(header.taskField, 0u);
    ASSERT_TRUE(peer.Read(data, header.lengthField));
    // The sender's delete says code 8 and never deletes its own file; cancel says code 7.
    manager.SetFileStatus(0, FILE_DELETE, TransferDirection::Sending);
    manager.SetFileStatus(1, FILE_CANCEL, TransferDirection::Sending);
    std::vector<std::uint16_t> controls;
    while (controls.size() < 2 && peer.ReadHeader(header)) {
        if (header.code == NET_FILE_DATA) {
            ASSERT_TRUE(peer.Read(data, header.lengthField));
            continue;
        }
        controls.push_back(header.code);
    }
    EXPECT_EQ(controls, (std::vector<std::uint16_t>{NET_FILE_DELETE, NET_FILE_CANCEL}));
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "s.bin"));
    ASSERT_TRUE(window.WaitFor([&] { return window.Transfers().Count() == 2; }));
    EXPECT_EQ(window.Transfers().Cell(0, kColumnTransferred), u"削除しました");
    EXPECT_EQ(window.Transfers().Cell(1, kColumnTransferred), u"キャンセルしました");
}

}  // namespace
}  // namespace mirka

namespace mirka {
namespace {

// A TaskManager connected to a raw peer, sending files from its own folder.
struct SenderWithFakePeer {
    SenderWithFakePeer() {
        manager.ownerWindow = &window;
        std::uint16_t port = peer.Listen();
        std::thread accepter([&] { peer.Accept(); });
        connected = manager.ConnectToServer("127.0.0.1", port);
        accepter.join();
    }
    // Reads the next offer's record as it stands on the wire.
    bool ReadOffer(std::vector<std::uint8_t>& record) {
        FrameHeader header;
        do {
            if (!peer.ReadHeader(header)) return false;
        } while (header.code == NET_KEEPALIVE);
        return header.code == NET_FILE_OFFER && peer.Read(record, FileRecord::kBytes);
    }
    void Control(std::uint16_t code, std::int32_t id) {
        FrameHeader header;
        header.code = code;
        header.lengthField = static_cast<std::uint32_t>(id);
        peer.SendFrame(header);
    }
    // Reads data frames until none comes for 300 ms; false when they keep coming or a frame
    // of another kind comes.
    bool DrainData(std::size_t& bytes) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        FrameHeader header;
        std::vector<std::uint8_t> body;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!peer.ReadHeader(header, 300)) return true;
            if (header.code == NET_KEEPALIVE) continue;
            if (header.code != NET_FILE_DATA || !peer.Read(body, header.lengthField)) return false;
            bytes += header.lengthField;
        }
        return false;
    }

    test::TempFolder folder;
    test::WindowRecorder window;
    TaskManager manager;
    FakePeer peer;
    bool connected = false;
};

// Worked out apart from the program: CRC-16/CCITT-FALSE of 2,048 zero bytes is 0xC584, of
// "123456789" followed by 2,039 zero bytes 0x54DE. Only the first 2,048 bytes count.
TEST(TransferPeer, OfferCarriesTheChecksumOfTheFirst2048Bytes) {
    SenderWithFakePeer link;
    ASSERT_TRUE(link.connected);
    test::WriteFile(link.folder.Path() / "empty.bin", {});
    std::vector<char> digits(3000, 'x');
    std::fill(digits.begin(), digits.begin() + 2048, 0);
    std::copy_n("123456789", 9, digits.begin());
    test::WriteFile(link.folder.Path() / "digits.bin", digits);
    link.manager.SendFile(FromFsPath(link.folder.Path() / "empty.bin"));
    link.manager.SendFile(FromFsPath(link.folder.Path() / "digits.bin"));
    std::vector<std::uint8_t> empty, first;
    ASSERT_TRUE(link.ReadOffer(empty));
    ASSERT_TRUE(link.ReadOffer(first));
    auto field = [](const std::vector<std::uint8_t>& record, std::size_t at, std::size_t n) {
        return std::vector<std::uint8_t>(record.begin() + at, record.begin() + at + n);
    };
    EXPECT_EQ(field(empty, 528, 4), (std::vector<std::uint8_t>{0x84, 0xC5, 0, 0}));
    EXPECT_EQ(field(first, 528, 4), (std::vector<std::uint8_t>{0xDE, 0x54, 0, 0}));
    EXPECT_EQ(field(first, 536, 8), (std::vector<std::uint8_t>{0xB8, 0x0B, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(FileRecord::Decode(first.data()).name, u"digits.bin");
}

// The receiver's pause (code 10) and resume (code 9) act on this side's sending.
TEST(TransferPeer, PeerPauseAndResumeReachTheSender) {
    SenderWithFakePeer link;
    ASSERT_TRUE(link.connected);
    test::WriteFile(link.folder.Path() / "s.bin", test::RandomBytes(4 * 1024 * 1024, 8));
    link.manager.sendWait = 10;  // about 200 KB/s
    link.manager.SendFile(FromFsPath(link.folder.Path() / "s.bin"));
    std::vector<std::uint8_t> record;
    ASSERT_TRUE(link.ReadOffer(record));
    FrameHeader accept;
    accept.code = NET_FILE_ACCEPT;
    link.peer.SendFrame(accept, record);
    std::int32_t id = FileRecord::Decode(record.data()).taskId;
    FrameHeader header;
    std::vector<std::uint8_t> body;
    ASSERT_TRUE(link.peer.ReadHeader(header));
    ASSERT_EQ(header.code, NET_FILE_DATA);
    ASSERT_TRUE(link.peer.Read(body, header.lengthField));

    link.Control(NET_FILE_PAUSE, id);
    std::size_t bytes = 0;
    EXPECT_TRUE(link.DrainData(bytes)) << "data still flows after a pause";
    link.Control(NET_FILE_RESEND, id);
    ASSERT_TRUE(link.peer.ReadHeader(header, 3000)) << "no data after a resume";
    EXPECT_EQ(header.code, NET_FILE_DATA);
    EXPECT_EQ(header.taskField, static_cast<std::uint32_t>(id));
}

// A peer may ask for data past the end (an original peer does so for a partial file longer
// than the offered one plus 2,048 bytes) or, broken, before the start: the sender keeps
// within the file and the transfer still ends well.
TEST(TransferPeer, AcceptOffsetsOutsideTheFileAreClamped) {
    SenderWithFakePeer link;
    ASSERT_TRUE(link.connected);
    test::WriteFile(link.folder.Path() / "s.bin", test::RandomBytes(5000, 9));
    link.manager.sendBufSize = 64 * 1024;
    for (std::int64_t offset : {std::int64_t{-100}, std::int64_t{1} << 40}) {
        SCOPED_TRACE(offset);
        link.manager.SendFile(FromFsPath(link.folder.Path() / "s.bin"));
        std::vector<std::uint8_t> record;
        ASSERT_TRUE(link.ReadOffer(record));
        PutI64(&record[544], offset);
        FrameHeader accept;
        accept.code = NET_FILE_ACCEPT;
        link.peer.SendFrame(accept, record);
        std::size_t bytes = 0;
        EXPECT_TRUE(link.DrainData(bytes));
        EXPECT_EQ(bytes, offset < 0 ? 5000u : 0u);
    }
    EXPECT_TRUE(
        link.window.WaitFor([&] { return test::FinishedRows(link.window.Transfers()) == 2; }));
}

}  // namespace
}  // namespace mirka
