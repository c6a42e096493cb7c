#include "util/RoundTrips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// Within one bucket's width (2^(1/8), about 9 %) of the exact value.
void ExpectNear(int64_t nExpected, int64_t nActual) {
  EXPECT_LE(static_cast<double>(nActual), nExpected * 1.091 + 1) << nExpected;
  EXPECT_GE(static_cast<double>(nActual), nExpected / 1.091 - 1) << nExpected;
}

TEST(RoundTripsTest, QuantilesFallWithinABucketOfTheExactOnes) {
  std::mt19937 random(7);
  // Round trips of a loopback agent and of a slow path, mixed.
  std::lognormal_distribution<double> spread(7.0, 1.5);
  std::vector<int64_t> arrExact;
  CRoundTrips trips;
  CRoundTrips firstHalf, secondHalf;
  for (int i = 0; i < 20000; ++i) {
    const int64_t nMicros = static_cast<int64_t>(spread(random)) + 1;
    arrExact.push_back(nMicros);
    trips.Add(nMicros);
    (i % 2 == 0 ? firstHalf : secondHalf).Add(nMicros);
  }
  std::sort(arrExact.begin(), arrExact.end());
  EXPECT_EQ(arrExact.size(), trips.Count());
  EXPECT_EQ(arrExact.front(), trips.Min());
  EXPECT_EQ(arrExact.back(), trips.Max());
  for (const double dQuantile : {0.01, 0.5, 0.95, 0.99}) {
    const size_t nRank = static_cast<size_t>(dQuantile * static_cast<double>(arrExact.size()));
    ExpectNear(arrExact[nRank - 1], trips.Quantile(dQuantile));
  }
  // Merged halves are the whole.
  firstHalf.Merge(secondHalf);
  EXPECT_EQ(trips.Count(), firstHalf.Count());
  EXPECT_EQ(trips.Min(), firstHalf.Min());
  EXPECT_EQ(trips.Max(), firstHalf.Max());
  EXPECT_EQ(trips.Quantile(0.95), firstHalf.Quantile(0.95));
}

TEST(RoundTripsTest, EdgesStayWithinWhatWasSeen) {
  CRoundTrips none;
  EXPECT_EQ(0, none.Min());
  EXPECT_EQ(0, none.Max());
  EXPECT_EQ(0, none.Quantile(0.5));
  CRoundTrips one;
  one.Add(1234);
  EXPECT_EQ(1234, one.Min());
  EXPECT_EQ(1234, one.Quantile(0.0));
  EXPECT_EQ(1234, one.Quantile(0.5));
  EXPECT_EQ(1234, one.Quantile(1.0));
  // Below 1 µs, and beyond the last bucket (an hour).
  CRoundTrips wide;
  wide.Add(0);
  wide.Add(-5);
  wide.Add(3600LL * 1000 * 1000);
  EXPECT_EQ(1, wide.Min());
  EXPECT_EQ(3600LL * 1000 * 1000, wide.Max());
  EXPECT_EQ(1, wide.Quantile(0.5));
  EXPECT_EQ(3600LL * 1000 * 1000, wide.Quantile(1.0));
}

}  // namespace
