#include "snmp/RoundTripTimer.h"

#include <gtest/gtest.h>

namespace {

TEST(RoundTripTimerTest, FollowsRfc6298) {
  CRoundTripTimer timer(300);
  // Before a sample: the Timeout setting for every try, no backoff.
  EXPECT_FALSE(timer.HasSample());
  EXPECT_EQ(timer.TryTimeoutMs(), 300);
  timer.TimedOut(timer.Epoch());
  EXPECT_EQ(timer.TryTimeoutMs(), 300) << "no backoff before a sample";
  // First sample R = 40 ms: SRTT 40, RTTVAR 20, RTO 40 + 4 x 20 = 120.
  timer.Sample(40000);
  EXPECT_EQ(timer.RtoMs(), 120);
  EXPECT_EQ(timer.TryTimeoutMs(), 120);
  // A time-out backs off for every try from then on; tries that went out
  // before that backoff do not back off again when they time out too.
  const uint64_t uBefore = timer.Epoch();
  timer.TimedOut(uBefore);
  EXPECT_EQ(timer.TryTimeoutMs(), 240);
  timer.TimedOut(uBefore);
  EXPECT_EQ(timer.TryTimeoutMs(), 240) << "once per epoch";
  timer.TimedOut(timer.Epoch());
  EXPECT_EQ(timer.TryTimeoutMs(), 480);
  EXPECT_EQ(timer.RtoMs(), 120) << "RTO itself is unchanged";
  // R = 80, a sample: the backoff ends. RTTVAR 3/4 x 20 + 1/4 x |40 - 80| = 25;
  // SRTT 7/8 x 40 + 1/8 x 80 = 45; RTO 45 + 100 = 145.
  timer.Sample(80000);
  EXPECT_EQ(timer.RtoMs(), 145);
  EXPECT_EQ(timer.TryTimeoutMs(), 145);
}

TEST(RoundTripTimerTest, StaysWithinTheFloorAndTheCeiling) {
  CRoundTripTimer fast(1000);
  for (int i = 0; i < 50; ++i) fast.Sample(100);  // 0.1 ms on loopback
  EXPECT_EQ(fast.RtoMs(), c_nMinAdaptiveTimeoutMs);
  fast.TimedOut(fast.Epoch());
  EXPECT_EQ(fast.TryTimeoutMs(), 2 * c_nMinAdaptiveTimeoutMs);
  CRoundTripTimer slow(1000);
  slow.Sample(int64_t{8} * 1000 * 1000);  // 8 s: RTO 8 + 16 s, cut to the ceiling
  EXPECT_EQ(slow.RtoMs(), c_nMaxAdaptiveTimeoutMs);
  for (int i = 0; i < 40; ++i) slow.TimedOut(slow.Epoch());
  EXPECT_EQ(slow.TryTimeoutMs(), c_nMaxAdaptiveTimeoutMs) << "no overflow however many time-outs";
  CRoundTripTimer negative(1000);
  negative.Sample(-5);  // a clock that went back counts as no time
  EXPECT_EQ(negative.RtoMs(), c_nMinAdaptiveTimeoutMs);
}

}  // namespace
