#pragma once

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "common/log_document.h"
#include "toolkit/text.h"
#include "transfer_list/transfer_rows.h"

namespace mirka {

// Something on the link the user may want to notice. The link tells the window what
// happened; the window decides how the user hears of it.
enum class LinkEvent {
    ChatArrived,       // a chat line from the peer is in the log
    StatusChanged,     // the peer's status line changed
    ChatSent,          // the user's line went out: the input box is done with it
    TransferFinished,  // a file or a folder arrived, or was delivered
    PeerEndedLink,     // the link ended on the peer's side (it asked to, or stopped
                       // answering), and the log has said why
};

// How this program's talk window answers each event: a wave file (played when the user has
// sounds on), the caption's attention, the input box emptied.
struct LinkEventReaction {
    const char16_t* wave = nullptr;
    bool flash = false;
    bool clearInput = false;
};

inline LinkEventReaction ReactionTo(LinkEvent event) {
    switch (event) {
        case LinkEvent::ChatArrived:
            return {u"send.wav", true, false};
        case LinkEvent::StatusChanged:
            return {u"stat_chg.wav", false, false};
        case LinkEvent::ChatSent:
            return {nullptr, false, true};
        case LinkEvent::TransferFinished:
            return {u"file_receive.wav", true, false};
        case LinkEvent::PeerEndedLink:
            return {};
    }
    return {};
}

// What the link and the transfers need of the talk window. Any thread calls these; the
// GUI's implementation queues each call to the window thread in order, so none of them
// blocks on the window and only the window thread changes what the user sees.
class TalkWindowPort {
public:
    virtual ~TalkWindowPort() = default;

    // One log message: its runs are appended as a unit.
    virtual void AppendLogMessage(std::vector<LogRun> runs) = 0;
    virtual void SetPeerStatusText(const WString& text) = 0;
    virtual void SetWindowTitle(const WString& title) = 0;
    // An event the user may want to notice (after the log line that tells it, if any).
    virtual void ShowLinkEvent(LinkEvent event) = 0;
    // A fact about a transfer, for the window's transfer list.
    virtual void PostTransferFact(TransferFact fact) = 0;
    // The link has closed: whatever shows it as standing (the encryption mark) goes. Sent
    // once per link, after the window was attached; a window that attaches to a link that
    // has already closed learns it from the link's state.
    virtual void ShowLinkClosed() = 0;
};

// The talk window's caption, and the start of the title once the peer's name is known.
inline constexpr char16_t kProgramTitle[] = u"ミルカ Ver.T100a";

// What a window adds to the title of an encrypted link. A peer's name never carries it.
inline constexpr char16_t kPrivateTitleSuffix[] = u" [暗号化された接続]";

// The talk window as the link's worker threads see it. The window thread attaches and
// detaches it; a worker borrows it for the calls it makes, and detaching waits until no
// worker holds it, so the window is never used after it is gone. Nothing else keeps the
// window's address.
class WindowSlot {
public:
    class Borrowed {
    public:
        Borrowed(WindowSlot* slot, TalkWindowPort* window) : slot(slot), window(window) {}
        Borrowed(Borrowed&& other) noexcept
            : slot(std::exchange(other.slot, nullptr)), window(other.window) {}
        Borrowed(const Borrowed&) = delete;
        Borrowed& operator=(const Borrowed&) = delete;
        Borrowed& operator=(Borrowed&&) = delete;
        ~Borrowed() {
            if (slot) slot->GiveBack();
        }
        explicit operator bool() const { return window != nullptr; }
        TalkWindowPort* operator->() const { return window; }
        TalkWindowPort& operator*() const { return *window; }

    private:
        WindowSlot* slot;
        TalkWindowPort* window;
    };

    // Window thread: attaches a window, or detaches with nullptr (waiting, as Detach does).
    WindowSlot& operator=(TalkWindowPort* newWindow) {
        std::unique_lock<std::mutex> guard(lock);
        window = newWindow;
        if (!newWindow) returned.wait(guard, [this] { return borrowed == 0; });
        return *this;
    }
    // Window thread: detaches this window if it is the attached one, and waits until no
    // worker is inside a call on it.
    void Detach(TalkWindowPort* expected) {
        std::unique_lock<std::mutex> guard(lock);
        if (window == expected) window = nullptr;
        returned.wait(guard, [this] { return borrowed == 0; });
    }
    // Any thread: the attached window (or none) for the caller's next calls.
    Borrowed Borrow() {
        std::lock_guard<std::mutex> guard(lock);
        if (!window) return Borrowed(nullptr, nullptr);
        ++borrowed;
        return Borrowed(this, window);
    }

private:
    void GiveBack() {
        {
            std::lock_guard<std::mutex> guard(lock);
            --borrowed;
        }
        returned.notify_all();
    }

    std::mutex lock;
    std::condition_variable returned;
    TalkWindowPort* window = nullptr;
    int borrowed = 0;
};

}  // namespace mirka
