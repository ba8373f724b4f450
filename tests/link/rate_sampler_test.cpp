#include <gtest/gtest.h>

#include "link/transfer/rate_sampler.h"

namespace mirka {
namespace {

TEST(RateSampler, APeriodClosesAfterMoreThanASecondAndAcrossTheTickWrap) {
    RateSampler sampler;
    sampler.Start(1000);
    sampler.Sample(500, 1500);
    EXPECT_EQ(sampler.Rate(), 1u);  // no period closed yet
    sampler.Sample(2000, 2000);
    EXPECT_EQ(sampler.Rate(), 1u);  // exactly a second is not more than one
    sampler.Sample(2001, 2001);
    EXPECT_EQ(sampler.Rate(), 2000u);
    sampler.Sample(3000, 2500);
    EXPECT_EQ(sampler.Rate(), 2000u);
    sampler.Sample(5001, 3002);
    EXPECT_EQ(sampler.Rate(), 3000u);

    RateSampler wrapping;
    wrapping.Start(0xFFFFFF00u);
    wrapping.Sample(4097, 0x300u);  // 1,024 ms later, past the 32-bit end of the tick
    EXPECT_EQ(wrapping.Rate(), 4096u);
}

}  // namespace
}  // namespace mirka
