#pragma once

#include <cstdint>

namespace mirka {

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
            rate = static_cast<std::uint32_t>(transferred - base);
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
