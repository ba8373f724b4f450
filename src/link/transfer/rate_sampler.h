#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace mirka {

// The speed column holds 32 bits: a rate beyond them (a resumed transfer's kept part counted
// as moved, say) reads as the largest figure rather than wrapping, and below one byte as 1.
// A double outside the range must never reach the cast, where it is undefined.
inline std::uint32_t RateFigure(double bytesPerSecond) {
    constexpr double kMost = std::numeric_limits<std::uint32_t>::max();
    if (!(bytesPerSecond >= 1.0)) return 1;  // NaN too
    return bytesPerSecond >= kMost ? std::numeric_limits<std::uint32_t>::max()
                                   : static_cast<std::uint32_t>(bytesPerSecond);
}

// The speed column's figure: the bytes moved in the last sampling period of just over a
// second. The caller passes the millisecond tick, so the figure does not depend on a clock.
class RateSampler {
public:
    // The transfer starts at `now`; until the first period ends the rate reads as 1 byte.
    void Start(std::uint32_t now) { periodStart = now; }
    // After each chunk: closes the period once more than a second has passed.
    void Sample(std::int64_t transferred, std::uint32_t now) {
        if (now - periodStart > 1000) {
            periodStart = now;
            rate = static_cast<std::uint32_t>(std::clamp<std::int64_t>(
                transferred - base, 0, std::numeric_limits<std::uint32_t>::max()));
            base = transferred;
        }
    }
    std::uint32_t Rate() const { return rate; }

private:
    std::int64_t base = 1;
    std::uint32_t periodStart = 0;
    std::uint32_t rate = 1;
};

}  // namespace mirka
