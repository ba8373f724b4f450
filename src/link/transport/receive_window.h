#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// The window this side advertises, sized to the link instead of left to the system. Twice
// the bytes the link holds in flight (the rate read times the path's round trip) leaves room
// for the link to speed up; a window that limits the rate doubles at each look until it no
// longer does, so a long, fast path fills after a short ramp. Never below a floor that a
// local link cannot empty in a few milliseconds, never above what any home link needs.
// The window bounds the bytes on their way, not those waiting to be read: only a short path
// also gets a bound on those, a receive buffer of fixed size.
namespace mirka {

class ReceiveWindowSizer {
public:
    static constexpr int kFloorBytes = 1024 * 1024;
    static constexpr int kCeilingBytes = 64 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kLookInterval{100};
    // The system raises the clamp each time its own tuning grows the receive buffer, which
    // it does while a slow reader lets the buffer fill: the window is set again this often.
    static constexpr std::chrono::milliseconds kRenewInterval{10};

    // Bytes read over `elapsed`, and the path's round trip without queueing (0: unknown).
    // The window to set, or nothing when it stays as it is.
    std::optional<int> Next(std::uint64_t bytes, std::chrono::microseconds elapsed,
                            std::uint32_t roundTripMicros);
    // A path with a round trip this short (this machine, a local network) gets a receive
    // buffer of fixed size instead of the sizing here. The system doubles the size asked for
    // (and may cap it: 416 KiB by default on Linux); either holds what such a path has in
    // flight at gigabits a second, and a line waits behind a millisecond or two of data.
    static constexpr std::uint32_t kLocalPathMicros = 1000;
    static constexpr int kLocalBufferBytes = 512 * 1024;
    static bool IsLocalPath(std::uint32_t roundTripMicros) {
        return roundTripMicros != 0 && roundTripMicros <= kLocalPathMicros;
    }
    // The window last chosen; 0 before the first.
    int Current() const { return current; }

private:
    int current = 0;
};

}  // namespace mirka
