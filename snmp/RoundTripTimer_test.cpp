#include "snmp/RoundTripTimer.h"

#include <gtest/gtest.h>

namespace {

TEST(RoundTripTimerTest, FollowsRfc6298) {
  CRoundTripTimer timer(300);
  // Before a sample: the Timeout setting for every try, no backoff.
  EXPECT_FALSE(timer.HasSample());
  EXPECT_EQ(timer.TryTimeoutMs(0), 300);
  EXPECT_EQ(timer.TryTimeoutMs(3), 300);
  // First sample R = 40 ms: SRTT 40, RTTVAR 20, RTO 40 + 4 x 20 = 120.
  timer.Sample(40000);
  EXPECT_EQ(timer.RtoMs(), 120);
  EXPECT_EQ(timer.TryTimeoutMs(0), 120);
  EXPECT_EQ(timer.TryTimeoutMs(1), 240) << "a re-sent try backs off";
  EXPECT_EQ(timer.TryTimeoutMs(2), 480);
  // R = 80: RTTVAR 3/4 x 20 + 1/4 x |40 - 80| = 25; SRTT 7/8 x 40 + 1/8 x 80 = 45;
  // RTO 45 + 100 = 145.
  timer.Sample(80000);
  EXPECT_EQ(timer.RtoMs(), 145);
}

TEST(RoundTripTimerTest, StaysWithinTheFloorAndTheCeiling) {
  CRoundTripTimer fast(1000);
  for (int i = 0; i < 50; ++i) fast.Sample(100);  // 0.1 ms on loopback
  EXPECT_EQ(fast.RtoMs(), c_nMinAdaptiveTimeoutMs);
  EXPECT_EQ(fast.TryTimeoutMs(1), 2 * c_nMinAdaptiveTimeoutMs);
  CRoundTripTimer slow(1000);
  slow.Sample(int64_t{8} * 1000 * 1000);  // 8 s: RTO 8 + 16 s, cut to the ceiling
  EXPECT_EQ(slow.RtoMs(), c_nMaxAdaptiveTimeoutMs);
  EXPECT_EQ(slow.TryTimeoutMs(40), c_nMaxAdaptiveTimeoutMs) << "no overflow however many tries";
  CRoundTripTimer negative(1000);
  negative.Sample(-5);  // a clock that went back counts as no time
  EXPECT_EQ(negative.RtoMs(), c_nMinAdaptiveTimeoutMs);
}

}  // namespace
