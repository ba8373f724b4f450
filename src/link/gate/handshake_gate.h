#pragma once

#include <chrono>
#include <functional>

#include "link/transport/peer_link.h"
#include "link/transport/thread_check.h"
#include "link/window_port.h"

namespace mirka {

// Why a handshake failed, in the words of the box that tells the user; a terminal end tells
// a refused passphrase apart by it.
const char16_t* HandshakeOutcomeText(secure::Outcome outcome);

// What the handshake gate needs of the link manager.
class GateOwner {
public:
    // Any thread: whether `link` is the manager's current link.
    virtual bool IsCurrent(const PeerLink& link) const = 0;
    // Any thread: closes the manager's link while `link` is its current, standing link; true
    // when this call closed it.
    virtual bool CloseIfCurrent(const PeerLink& link) = 0;
    // Any thread: closes the manager's link, whichever it is.
    virtual void CloseLink() = 0;
    // Any thread: the pump looks again, since what waited for the private link may go out.
    virtual void Wake() = 0;
    // Any thread: `link` has handed the manager a frame (a handshake frame is not one).
    virtual bool PeerHeard(const PeerLink& link) const = 0;
    // Window thread: waits until `done` holds, the link is closed or `patience` has passed.
    // `done` is looked at again whenever the manager is woken.
    virtual void WaitForChange(const std::function<bool()>& done,
                               std::chrono::milliseconds patience) = 0;

protected:
    ~GateOwner() = default;
};

// The link manager's side of the private link's handshake: the window thread waits here for
// a new link's handshake to end, and the I/O thread reports each step of it and each broken
// or cut sealed stream, with what the user hears of them. The handshake itself lives in the
// link's PrivateLink; the gate keeps no state of its own.
// Threads: WaitForHandshake on the window thread, everything else on the I/O thread.
class HandshakeGate {
public:
    HandshakeGate(GateOwner& owner, WindowSlot& window, const ThreadCheck& ioThread)
        : owner(owner), window(window), ioThread(ioThread) {}

    HandshakeGate(const HandshakeGate&) = delete;
    HandshakeGate& operator=(const HandshakeGate&) = delete;

    // Window thread, once the link has started: true when the private link stands, or when
    // no passphrase was asked for and the peer wants none either; otherwise the link is
    // closed, the user told why, and false. Without a passphrase the peer's first frame
    // decides, or `helloWait` of silence (an original peer may say nothing first); zero takes
    // the link at once.
    bool WaitForHandshake(PeerLink& link, std::chrono::milliseconds handshakeTimeout,
                          std::chrono::milliseconds helloWait);

    // I/O thread: the handshake moved on (or its deadline passed); false stops the reading.
    bool OnHandshakeStep(PeerLink& link, secure::Outcome outcome);
    // I/O thread: a sealed record failed its check.
    void OnRecordFailure(PeerLink& link);
    // I/O thread: a sealed link ended without the peer's final record: the user hears it was
    // cut.
    void OnCut(PeerLink& link);

private:
    void AppendLog(WStringView text);

    GateOwner& owner;
    WindowSlot& window;
    const ThreadCheck& ioThread;
};

}  // namespace mirka
