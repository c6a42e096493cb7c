#include "driver/Progress.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "snmp/LastError.h"

namespace {

using ::testing::ElementsAre;

TEST(ProgressTest, NumbersAndDurationsInFewCharacters) {
  EXPECT_EQ(GroupedCount(0), "0");
  EXPECT_EQ(GroupedCount(999), "999");
  EXPECT_EQ(GroupedCount(12340), "12,340");
  EXPECT_EQ(GroupedCount(12345678), "12,345,678");
  EXPECT_EQ(ShortCount(980), "980");
  EXPECT_EQ(ShortCount(41200), "41.2k");
  EXPECT_EQ(ShortCount(1240000), "1.24M");
  EXPECT_EQ(ShortCount(123456789), "123M");
  EXPECT_EQ(ShortDuration(0.4), "0s");
  EXPECT_EQ(ShortDuration(130), "2m10s");
  EXPECT_EQ(ShortDuration(252), "4m12s");
  EXPECT_EQ(ShortDuration(3720), "1h02m");
}

// The tally of a scan: the status line, the summary with the failed
// targets named (the first 20, then how many more), and --strict's status.
TEST(ProgressTest, TallyCountsEachOutcome) {
  CScanTally tally;
  tally.Begin(25);
  EXPECT_EQ(tally.StrictStatus(), 4) << "none answered yet";
  for (int i = 0; i < 25; ++i) tally.Started();
  tally.Ended("a", SNMP_MGR_OK, true);
  EXPECT_EQ(tally.StatusLine(10, 1240000), "1/25 targets, 24 running, 0 failed, 1.24M objects, 124k objects/s, ETA 4m00s");
  tally.Ended("b", SNMP_MGMTAPI_TIMEOUT, true);
  tally.Ended("c", SNMP_MGR_ERROR_REFUSED, true);
  tally.Ended("d", SNMP_MGR_OK, false);
  for (int i = 0; i < 20; ++i) tally.Ended("dead" + std::to_string(i), SNMP_MGMTAPI_TIMEOUT, true);
  EXPECT_EQ(tally.StrictStatus(), 3);
  const auto arrLines = tally.SummaryLines(252, 12345);
  ASSERT_EQ(arrLines.size(), 1u + 20u + 1u);
  EXPECT_EQ(arrLines[0],
            "25 targets in 4m12s: 1 answered, 21 no answer, 2 failed; 12,345 objects; 23 files written, 1 not written");
  EXPECT_EQ(arrLines[1], "  b: no answer (40)");
  EXPECT_EQ(arrLines[2], "  c: the agent refused (an error status) (64)");
  EXPECT_EQ(arrLines[3], "  d: no file written");
  EXPECT_EQ(arrLines.back(), "  ... and 3 more");
  tally.Ended("e", SNMP_MGR_OK, true);
  CScanTally all;
  all.Begin(2);
  all.Ended("a", SNMP_MGR_OK, true);
  all.Ended("b", SNMP_MGR_OK, true);
  EXPECT_EQ(all.StrictStatus(), 0);
  EXPECT_THAT(all.SummaryLines(1, 2), ElementsAre("2 targets in 1s: 2 answered, 0 no answer, 0 failed; 2 objects; "
                                                  "2 files written, 0 not written"));
}

}  // namespace
