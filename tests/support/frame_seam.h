#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "common/program_values.h"
#include "link/chat/chat_channel.h"
#include "link/frame_router.h"
#include "link/transfer/transfer_engine.h"
#include "link/transport/thread_check.h"
#include "link/window_port.h"
#include "support/recorders.h"
#include "support/temp_folder.h"

// Two copies' chat and transfer engines back to back in memory: what one side writes to the
// peer is cut into frames and handed to the other side's handlers, through the same router
// the link manager uses. No socket, no I/O thread and no pump: the test thread stands in for
// both on each side and drives them in turn, so a test runs the same way every time. The
// digest worker is the one thread of its own; the pair waits for its answers on a condition.
namespace mirka::test {

class FramePair;

// One side: its window recorder, values, receive folder, transfer engine and chat, and its
// end of the in-memory link.
class SeamSide final : private TransferLink, private ChatLink, private FrameRouter::Source {
public:
    explicit SeamSide(FramePair& pair);
    ~SeamSide() override;
    SeamSide(const SeamSide&) = delete;
    SeamSide& operator=(const SeamSide&) = delete;

    // Sends a file as the window does: a row, then SendFile (runs on the next pump pass).
    int Send(const std::filesystem::path& path);
    // Whether this side's link state is closed (as LinkState() == LINK_CLOSED would say).
    bool Closed() const { return closed; }
    // Raw bytes as if this side's peer had written them (a fault a copy never sends).
    void Inject(const std::vector<std::uint8_t>& bytes);
    // The figures of every transfer now, and the id the next own send would take.
    std::vector<TransferFigures> Figures() { return transfers.TransferFiguresSnapshot(); }
    std::int32_t NextTaskId() { return transfers.NextTaskId(); }
    // The user's pause, resume, cancel or delete of a row's transfer (runs on the next pass).
    void SetFileStatus(std::int32_t id, enumFileSendStatus status, TransferDirection direction) {
        transfers.SetFileStatus(id, status, direction);
    }
    // The rows' figures now, and the overdue receipts and kept parts, as the pump looks at
    // them once a second; the pair never does it by itself.
    void Refresh() { transfers.RefreshTransfers(); }
    // Chat from the window (sent on the next pump pass).
    ChatChannel& Chat() { return chat; }

    ProgramValues values;
    WindowRecorder window;
    TempFolder inbox;
    // What this side announces, before FramePair::Start; none, as an original copy.
    std::uint32_t capabilities = 0;
    std::int32_t sendBudget = 64 * 1024;  // bytes a sender puts out in one pass

private:
    friend class FramePair;

    // TransferLink and ChatLink.
    bool WriteParts(const std::vector<boost::asio::const_buffer>& parts) override;
    bool WriteToPeer(const std::vector<boost::asio::const_buffer>& parts,
                     PeerLink::Last last) override;
    void CloseLink() override;
    void PostCommand(PumpCommand command) override;
    void PostToIoThread(std::function<void()> job) override;
    void Wake() override;
    void RunWaitingCommands() override { RunCommands(); }
    std::int32_t SendBudget() const override { return sendBudget; }
    bool Stopping() const override { return false; }
    bool Shares(std::uint32_t bits) const override { return (SharedCapabilities() & bits) == bits; }
    void AwaitPeerAnnouncement() override {}
    void AssertIoThread() const override { testThread.Assert(); }
    void AssertPumpThread() const override { testThread.Assert(); }
    // FrameRouter::Source.
    std::uint32_t SharedCapabilities() const override { return capabilities & peerCapabilities; }
    int SetPeerCapabilities(std::uint32_t bits) override;

    // Test thread: one step of each kind; each returns whether anything happened.
    bool RunIoJobs();
    bool RunCommands();
    bool DeliverFrames();
    bool PumpPass();
    // The link's end as the link manager's I/O thread meets it, once.
    bool EndLinkOnce();

    FramePair& pair;
    SeamSide* peer = nullptr;
    ThreadCheck testThread;
    WindowSlot slot;
    std::atomic<std::uint32_t> peerCapabilities{0};
    int announcementsSeen = 0;
    // The link manager's state went to closed (CloseLink, or a write on a link that ended).
    std::atomic<bool> closed{false};
    // Reading stopped (a handler said so, the state closed, or the peer's end went): the
    // socket is gone, the peer meets its end once it has read what came before.
    std::atomic<bool> socketGone{false};
    bool reading = true;
    bool ended = false;

    // Guards what other threads hand this side: the peer's bytes not yet read, commands for
    // the pump and jobs for the I/O thread. The digest worker's answers write and post too;
    // the test thread takes them.
    std::mutex wireLock;
    std::vector<std::uint8_t> wire;
    std::vector<PumpCommand> commands;
    std::vector<std::function<void()>> ioJobs;
    // Test thread only: bytes taken from the wire, read by the handlers.
    std::vector<std::uint8_t> incoming;
    std::size_t readAt = 0;

    // Last: they go before the link above.
    TransferEngine transfers;
    ChatChannel chat;
    FrameRouter router;
};

class FramePair {
public:
    FramePair();
    ~FramePair();

    // Links the two sides: each announces its capabilities (when it has any) first.
    void Start();
    // Steps both sides until `done` holds: I/O jobs, the peer's frames, then a pump pass each.
    // A step that moves nothing waits for the digest worker (or any other thread) to post
    // something. False when the bound on steps or on such waits is reached first.
    bool RunUntil(const std::function<bool()>& done, int maxSteps = 200000);
    // Steps until one moves nothing (no wait for other threads); false past the bound.
    bool RunIdle(int maxSteps = 200000);

private:
    friend class SeamSide;
    // Any thread: something was posted or written.
    void Poke();
    bool Step();

    // Before the sides: a digest worker's last answer may still poke.
    std::mutex activityLock;
    std::condition_variable activity;
    std::uint64_t activityCount = 0;

public:
    SeamSide a{*this};
    SeamSide b{*this};
};

}  // namespace mirka::test
