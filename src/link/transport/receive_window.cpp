#include "link/transport/receive_window.h"

#include <algorithm>

namespace mirka {

std::optional<int> ReceiveWindowSizer::Next(std::uint64_t bytes, std::chrono::microseconds elapsed,
                                            std::uint32_t roundTripMicros) {
    // Without a measured round trip nothing is known: the system's own sizing stays.
    if (roundTripMicros == 0 || elapsed.count() <= 0) return std::nullopt;
    double inFlight = static_cast<double>(bytes) * roundTripMicros / elapsed.count();
    double wanted = std::clamp(2 * inFlight, static_cast<double>(kFloorBytes),
                               static_cast<double>(kCeilingBytes));
    auto window = static_cast<int>(wanted);
    // A small change leaves the window as it is, so that it holds steady between looks.
    if (current != 0 && window < current * 5 / 4 && window > current * 3 / 4) return std::nullopt;
    current = window;
    return window;
}

}  // namespace mirka
