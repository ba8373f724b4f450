#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "common/chat_font.h"
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
    // once per link; a window that attaches after the link began and closed gets it from
    // the calls the slot kept for it (see WindowSlot).
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
//
// Between the start of a link and the attaching of a window (the login window closing, the
// talk window being made) the workers' calls are kept, in order and at most kEarlyCalls,
// and handed to the window that attaches: a line the link posts in its first moments is not
// lost. Progress figures are not kept; the next ones say more.
class WindowSlot {
public:
    static constexpr std::size_t kEarlyCalls = 512;

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
    // A window attached after a link began first gets the calls kept since.
    WindowSlot& operator=(TalkWindowPort* newWindow) {
        std::unique_lock<std::mutex> guard(lock);
        if (!newWindow) {
            window = nullptr;
            early.Close();
            returned.wait(guard, [this] { return borrowed == 0; });
            return *this;
        }
        // A worker still inside a kept call finishes it first, so the window gets the kept
        // calls before any later one.
        if (!window) returned.wait(guard, [this] { return borrowed == 0; });
        window = newWindow;
        early.HandTo(*newWindow);
        return *this;
    }
    // Window thread: detaches this window if it is the attached one, and waits until no
    // worker is inside a call on it.
    void Detach(TalkWindowPort* expected) {
        std::unique_lock<std::mutex> guard(lock);
        if (window == expected) window = nullptr;
        early.Close();
        returned.wait(guard, [this] { return borrowed == 0; });
    }
    // Window thread, as a link begins: with no window attached, the calls from here on are
    // kept for the next one (those kept for an earlier link go).
    void KeepEarlyCalls() {
        std::lock_guard<std::mutex> guard(lock);
        if (!window) early.Open();
    }
    // Any thread: the attached window (or none) for the caller's next calls.
    Borrowed Borrow() {
        std::lock_guard<std::mutex> guard(lock);
        TalkWindowPort* target = window;
        if (!target && early.IsOpen()) target = &early;
        if (!target) return Borrowed(nullptr, nullptr);
        ++borrowed;
        return Borrowed(this, target);
    }

private:
    // Keeps the calls. Its own lock keeps the workers' calls apart; `open` changes only
    // under both that lock and the slot's, so either one suffices to read it.
    class EarlyCalls final : public TalkWindowPort {
    public:
        bool IsOpen() const { return open; }
        void Open() {
            std::lock_guard<std::mutex> guard(callsLock);
            open = true;
            calls.clear();
        }
        void Close() {
            std::lock_guard<std::mutex> guard(callsLock);
            open = false;
            calls.clear();
        }
        void HandTo(TalkWindowPort& target) {
            std::vector<std::function<void(TalkWindowPort&)>> kept;
            {
                std::lock_guard<std::mutex> guard(callsLock);
                kept.swap(calls);
                open = false;
            }
            for (auto& call : kept) call(target);
        }
        void AppendLogMessage(std::vector<LogRun> runs) override {
            Keep([runs = std::move(runs)](TalkWindowPort& w) mutable {
                w.AppendLogMessage(std::move(runs));
            });
        }
        void SetPeerStatusText(const WString& text) override {
            Keep([text](TalkWindowPort& w) { w.SetPeerStatusText(text); });
        }
        void SetWindowTitle(const WString& title) override {
            Keep([title](TalkWindowPort& w) { w.SetWindowTitle(title); });
        }
        void ShowLinkEvent(LinkEvent event) override {
            Keep([event](TalkWindowPort& w) { w.ShowLinkEvent(event); });
        }
        void PostTransferFact(TransferFact fact) override {
            if (fact.kind == TransferFact::Kind::Figures) return;
            Keep([fact = std::move(fact)](TalkWindowPort& w) mutable {
                w.PostTransferFact(std::move(fact));
            });
        }
        void ShowLinkClosed() override {
            Keep([](TalkWindowPort& w) { w.ShowLinkClosed(); });
        }

    private:
        void Keep(std::function<void(TalkWindowPort&)> call) {
            std::lock_guard<std::mutex> guard(callsLock);
            if (open && calls.size() < kEarlyCalls) calls.push_back(std::move(call));
        }
        std::mutex callsLock;
        std::vector<std::function<void(TalkWindowPort&)>> calls;
        bool open = false;
    };

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
    EarlyCalls early;
};

// Any thread: one log message to the window attached to the slot, if any.
void AppendLogTo(WindowSlot* slot, const CharFormat* style, WStringView text);

}  // namespace mirka
