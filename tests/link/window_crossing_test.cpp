#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "link/wire/file_record.h"
#include "support/task_manager_seam.h"
#include "support/wait.h"
#include "transfer_support.h"

// The window's crossing with the worker threads: a window that goes while a transfer runs is
// never called afterwards, and a finished row never gets older figures written over it.
namespace mirka {
namespace {

using test::FinishedRows;
using test::TransferPair;
using test::WaitUntil;

// A window whose calls take a moment, and that counts every call that runs after it was
// detached (as if its memory were gone).
class SlowWindow : public test::WindowRecorder {
public:
    explicit SlowWindow(std::chrono::microseconds delay = std::chrono::microseconds(300))
        : delay(delay) {}
    void PostTransferFact(TransferFact fact) override {
        Visit();
        WindowRecorder::PostTransferFact(std::move(fact));
    }
    void AppendLogMessage(std::vector<LogRun> runs) override {
        Visit();
        WindowRecorder::AppendLogMessage(std::move(runs));
    }
    void ShowLinkEvent(LinkEvent) override { Visit(); }
    void Close() { gone = true; }
    std::atomic<int> lateCalls{0};

private:
    void Visit() {
        if (gone) ++lateCalls;
        std::this_thread::sleep_for(delay);
        if (gone) ++lateCalls;
    }
    std::chrono::microseconds delay;
    std::atomic<bool> gone{false};
};

TEST(WindowCrossing, AWindowDetachedDuringATransferIsNeverCalledAgain) {
    TransferPair pair;
    ASSERT_TRUE(pair.Link());
    for (int i = 0; i < 40; ++i)
        test::WriteFile(pair.outbox.Path() / ("f" + std::to_string(i)), test::RandomBytes(6000, i));
    std::vector<std::unique_ptr<SlowWindow>> windows;
    windows.push_back(std::make_unique<SlowWindow>());
    pair.server->ownerWindow = windows.back().get();
    for (int i = 0; i < 40; ++i) pair.Send(pair.outbox.Path() / ("f" + std::to_string(i)));
    // The window thread's part: refresh, then replace the window, again and again.
    for (int round = 0; round < 12; ++round) {
        for (int tick = 0; tick < 5; ++tick) {
            TaskManagerTestSeam::RefreshTransfers(*pair.server);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        SlowWindow* old = windows.back().get();
        pair.server->DetachWindow(old);
        old->Close();
        windows.push_back(std::make_unique<SlowWindow>());
        pair.server->ownerWindow = windows.back().get();
    }
    EXPECT_TRUE(WaitUntil([&] {
        int whole = 0;
        std::error_code error;
        for (int i = 0; i < 40; ++i)
            whole += std::filesystem::file_size(pair.inbox.Path() / ("f" + std::to_string(i)),
                                                error) == 6000;
        return whole == 40;
    }));
    pair.server->DetachWindow(windows.back().get());
    windows.back()->Close();
    for (const auto& window : windows) EXPECT_EQ(window->lateCalls, 0);
    for (int i = 0; i < 40; ++i) {
        auto name = "f" + std::to_string(i);
        EXPECT_EQ(test::ReadFile(pair.inbox.Path() / name), test::RandomBytes(6000, i)) << name;
    }
}

// A window that holds back the refresh's figures until it is told to apply them, as a busy
// window thread would: they arrive after the transfer's end.
class LateFiguresWindow : public test::WindowRecorder {
public:
    void PostTransferFact(TransferFact fact) override {
        std::lock_guard<std::mutex> guard(heldLock);
        if (fact.kind == TransferFact::Kind::Figures && holding) {
            held.push_back(std::move(fact));
            return;
        }
        WindowRecorder::PostTransferFact(std::move(fact));
    }
    void ApplyHeld() {
        std::lock_guard<std::mutex> guard(heldLock);
        holding = false;
        for (auto& fact : held) WindowRecorder::PostTransferFact(std::move(fact));
        held.clear();
    }

private:
    std::mutex heldLock;
    bool holding = true;
    std::vector<TransferFact> held;
};

// A manager that waited as the server, a raw peer linked to it, and the window it reports to.
template <typename Window>
struct RawPeerServer {
    RawPeerServer() {
        values.SetReceiveFolder(inbox.WithSeparator());
        manager.ownerWindow = &window;
        std::uint16_t port = test::FreeLoopbackPort();
        std::thread waiter([&] { manager.StartServer(port); });
        linked = peer.Connect(port);
        waiter.join();
    }
    ~RawPeerServer() { manager.DetachWindow(&window); }
    test::TempFolder inbox;
    ProgramValues values;
    Window window;
    TaskManager manager{&values};
    test::FakePeer peer;
    bool linked = false;
};

TEST(WindowCrossing, AFinishedRowKeepsItsFinalFigures) {
    RawPeerServer<LateFiguresWindow> side;
    ASSERT_TRUE(side.linked);
    auto& [inbox, values, window, manager, peer, linked] = side;
    test::SendOffer(peer, u"last.bin", 1, 4096);
    FrameHeader data;
    data.code = NET_FILE_DATA;
    data.taskField = 1;
    data.lengthField = 4095;
    peer.SendFrame(data, std::vector<std::uint8_t>(4095, 'a'));
    ASSERT_TRUE(WaitUntil([&] {
        auto figures = TaskManagerTestSeam::Figures(manager);
        return figures.size() == 1 && figures[0].transferred == 4095;
    }));
    // The refresh takes its figures one byte before the end; they reach the row only after
    // the transfer has finished.
    TaskManagerTestSeam::RefreshTransfers(manager);
    data.lengthField = 1;
    peer.SendFrame(data, {'z'});
    auto percent = [&] { return window.Transfers().Cell(0, kColumnPercent); };
    ASSERT_TRUE(WaitUntil([&] { return percent() == u"100.00%"; }));
    window.ApplyHeld();
    EXPECT_EQ(percent(), u"100.00%");
    EXPECT_EQ(window.Transfers().Cell(0, kColumnTransferred), u"4 KB");
}

TEST(WindowCrossing, FiguresComeToTheWindowWithoutItAsking) {
    // The window never calls into the engine for figures (a slow disk write holding the task
    // table could freeze it): the engine sends them once a second.
    RawPeerServer<test::WindowRecorder> side;
    ASSERT_TRUE(side.linked);
    auto& [inbox, values, window, manager, peer, linked] = side;
    test::SendOffer(peer, u"slow.bin", 1, 1 << 20);
    FrameHeader data;
    data.code = NET_FILE_DATA;
    data.taskField = 1;
    data.lengthField = 3000;
    peer.SendFrame(data, std::vector<std::uint8_t>(3000, 'a'));
    EXPECT_TRUE(
        window.WaitFor([&] { return window.Transfers().Cell(0, kColumnTransferred) == u"3 KB"; }));
}

}  // namespace
}  // namespace mirka
