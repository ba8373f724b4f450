#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "cli_fixture.h"
#include "link/delivery_frames.h"
#include "support/frames.h"
#include "support/wait.h"

namespace mirka::test {
namespace {

using namespace mirka::cli;

class CliInterop : public CliPair {
protected:
    // The core's window-less link manager in this process, as a window copy runs it.
    CliInterop() {
        manager.SetCapabilities(kKnownCapabilities);
        manager.ownerWindow = &window;
        values.SetReceiveFolder(FromFsPath(inbox()) + kPathSeparator);
        values.SetSoundOn(false);
    }
    ~CliInterop() override { manager.DetachWindow(&window); }

    ProgramValues values;
    WindowRecorder window;
    TaskManager manager{&values};
};

// The terminal end against the window's core in both roles: a mirka-cli that connects and
// sends to the window's server, and a waiting mirka-cli that the window connects and sends
// to; each file arrives verified and the terminal end ends with 0.
TEST_F(CliInterop, SendsToAndReceivesFromTheWindowsCore) {
    auto file = outbox() / "to-window.bin";
    WriteFile(file, RandomBytes(200 * 1024, 11));
    {
        std::atomic<bool> linked{false};
        std::thread server([&] { linked = manager.StartServer(std::stoi(port)); });
        auto connecting = Connect({"--send", file.string()});
        server.join();
        ASSERT_TRUE(linked);
        EXPECT_EQ(connecting->Wait(), kExitOk) << connecting->Said();
        ASSERT_TRUE(window.WaitFor([&] { return FinishedRows(window.Transfers()) == 1; }));
        EXPECT_EQ(window.Transfers().Rows().at(0).stage, TransferStage::Verified);
        EXPECT_EQ(ReadFile(inbox() / "to-window.bin"), ReadFile(file));
    }
    auto back = outbox() / "from-window.bin";
    WriteFile(back, RandomBytes(150 * 1024, 12));
    std::string otherPort = std::to_string(FreeLoopbackPort());
    auto receiving = std::make_unique<CliProcess>(
        work.Path(), "cli-wait",
        std::vector<std::string>{"wait", "--port", otherPort, "--accept", "--receive-to",
                                 (work.Path() / "cli-inbox").string()});
    std::filesystem::create_directory(work.Path() / "cli-inbox");
    bool connected = false;
    for (int attempt = 0; attempt < 3000 && !connected; ++attempt) {
        MessageRecorder quiet;  // refusals until the terminal end listens
        connected = manager.ConnectToServer("127.0.0.1", std::stoi(otherPort));
        if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(connected) << receiving->Said();
    int row = window.Transfers().AddTransferRow(FromFsPath(back));
    manager.SendFile(FromFsPath(back), row);
    ASSERT_TRUE(window.WaitFor([&] { return FinishedRows(window.Transfers()) == 2; },
                               std::chrono::seconds(60)));
    EXPECT_EQ(window.Transfers().Rows().at(row).stage, TransferStage::Verified);
    manager.Disconnect();
    EXPECT_EQ(receiving->Wait(), kExitOk) << receiving->Said();
    EXPECT_EQ(ReadFile(work.Path() / "cli-inbox" / "from-window.bin"), ReadFile(back));
}

// A peer that speaks only the original frames: the terminal end takes its offer, writes its
// data, and ends with 0 once the peer leaves, warning that nothing proved the file; sending
// to such a peer ends with 0 once every byte went out.
TEST_F(CliInterop, AnOriginalPeerInBothDirections) {
    std::vector<char> bytes = RandomBytes(10000, 13);
    {
        auto receiving = Wait({"--accept"});
        FakePeer peer;
        bool connected = false;
        for (int attempt = 0; attempt < 3000 && !connected; ++attempt) {
            connected = peer.Connect(static_cast<std::uint16_t>(std::stoi(port)));
            if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(connected);
        SendOffer(peer, u"original.bin", 5, static_cast<std::int64_t>(bytes.size()));
        FrameHeader header;
        do {
            ASSERT_TRUE(peer.ReadHeader(header, 30000)) << receiving->Said();
        } while (header.code != NET_FILE_ACCEPT);
        std::vector<std::uint8_t> record;
        ASSERT_TRUE(peer.Read(record, FileRecord::kBytes));
        for (std::size_t at = 0; at < bytes.size(); at += 2048) {
            std::size_t n = std::min<std::size_t>(2048, bytes.size() - at);
            FrameHeader data;
            data.code = NET_FILE_DATA;
            data.taskField = 5;
            data.lengthField = static_cast<std::uint32_t>(n);
            peer.SendFrame(data,
                           std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(at),
                                                     bytes.begin() + static_cast<long>(at + n)));
        }
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(inbox() / "original.bin"); },
                              std::chrono::seconds(60)));
        FrameHeader goodbye;
        goodbye.code = NET_DISCONNECT;
        peer.SendFrame(goodbye);
        EXPECT_EQ(receiving->Wait(), kExitOk) << receiving->Said();
        EXPECT_EQ(ReadFile(inbox() / "original.bin"), bytes);
        EXPECT_NE(receiving->Err().find("注意"), std::string::npos) << receiving->Said();
    }
    {
        auto file = outbox() / "to-original.bin";
        WriteFile(file, bytes);
        FakePeer peer;
        std::uint16_t listening = peer.Listen();
        auto sending = std::make_unique<CliProcess>(
            work.Path(), "to-original",
            std::vector<std::string>{"connect", "127.0.0.1:" + std::to_string(listening), "--send",
                                     file.string()});
        ASSERT_TRUE(peer.Accept());
        FrameHeader header;
        do {
            ASSERT_TRUE(peer.ReadHeader(header, 30000)) << sending->Said();
        } while (header.code != NET_FILE_OFFER);
        std::vector<std::uint8_t> record;
        ASSERT_TRUE(peer.Read(record, FileRecord::kBytes));
        FrameHeader accept;
        accept.code = NET_FILE_ACCEPT;
        peer.SendFrame(accept, record);
        std::vector<char> got;
        while (got.size() < bytes.size()) {
            ASSERT_TRUE(peer.ReadHeader(header, 30000)) << sending->Said();
            if (header.code != NET_FILE_DATA) continue;
            std::vector<std::uint8_t> data;
            ASSERT_TRUE(peer.Read(data, header.lengthField));
            got.insert(got.end(), data.begin(), data.end());
        }
        EXPECT_EQ(got, bytes);
        do {
            ASSERT_TRUE(peer.ReadHeader(header, 30000)) << sending->Said();
        } while (header.code != NET_DISCONNECT);
        peer.Close();
        EXPECT_EQ(sending->Wait(), kExitOk) << sending->Said();
        EXPECT_NE(sending->Err().find("注意"), std::string::npos) << sending->Said();
    }
}

}  // namespace
}  // namespace mirka::test
