#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// The window this side advertises, sized to the link instead of left to grow: what waits in
// the receive buffer is what a chat line waits behind. Twice the bytes the link holds in
// flight (the rate read times the round trip) leaves room for the link to speed up; a
// window that limits the rate doubles at each look until it no longer does, so a long, fast
// path fills after a short ramp. Never below a floor that a local link cannot empty in a
// few milliseconds, never above what any home link needs.
namespace mirka {

class ReceiveWindowSizer {
public:
    static constexpr int kFloorBytes = 1024 * 1024;
    static constexpr int kCeilingBytes = 64 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kLookInterval{100};

    // Bytes read over `elapsed`, and the round trip the system measured (0: unknown). The
    // window to set, or nothing when it stays as it is.
    std::optional<int> Next(std::uint64_t bytes, std::chrono::microseconds elapsed,
                            std::uint32_t roundTripMicros);

private:
    int current = 0;
};

}  // namespace mirka
