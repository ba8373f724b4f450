// The advertised window follows the link: small on a fast local link, growing on a long one.
#include <gtest/gtest.h>

#include "link/transport/receive_window.h"

namespace mirka {
namespace {

using std::chrono::microseconds;

TEST(ReceiveWindow, FollowsWhatTheLinkHoldsInFlight) {
    ReceiveWindowSizer sizer;
    const microseconds look(100000);
    // No measured round trip: the system's own sizing stays.
    EXPECT_FALSE(sizer.Next(50'000'000, look, 0));
    // Loopback: 600 MB/s with a 50 µs round trip holds 30 KB in flight: the floor.
    EXPECT_EQ(sizer.Next(60'000'000, look, 50), ReceiveWindowSizer::kFloorBytes);
    // A 20 ms path limited by a 1 MiB window reads 1 MiB per round trip: the window doubles
    // at each look until the link is no longer held back.
    int window = ReceiveWindowSizer::kFloorBytes;
    for (int step = 0; step < 3; ++step) {
        std::uint64_t readInLook = static_cast<std::uint64_t>(window) * 5;  // 5 round trips
        auto next = sizer.Next(readInLook, look, 20000);
        ASSERT_TRUE(next);
        EXPECT_EQ(*next, 2 * window);
        window = *next;
    }
    // 1 Gbit/s over 20 ms (2.5 MB in flight) gets twice that, and a small change is no change.
    EXPECT_EQ(sizer.Next(12'500'000, look, 20000), 5'000'000);
    EXPECT_FALSE(sizer.Next(13'000'000, look, 20000));
    // Never past the ceiling.
    EXPECT_EQ(sizer.Next(10'000'000'000, look, 20000), ReceiveWindowSizer::kCeilingBytes);
    // A path whose round trip the system could not tell is not taken for a short one.
    EXPECT_FALSE(ReceiveWindowSizer::IsLocalPath(0));
}

}  // namespace
}  // namespace mirka
