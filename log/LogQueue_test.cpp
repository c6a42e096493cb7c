#include "log/LogQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "log/LogFixture_test.h"
#include "tests/TestSupport.h"

namespace {

using ::testing::ElementsAre;

class LogQueueTest : public LogFixture {};

// Runs the test body's time formatting in UTC, whatever the machine's zone.
class CScopedUtc {
 public:
  CScopedUtc() {
    const char* szTz = getenv("TZ");
    m_bHad = szTz != nullptr;
    if (m_bHad) m_strOld = szTz;
    SetEnvironment("TZ", "UTC");
    tzset();
  }
  ~CScopedUtc() {
    SetEnvironment("TZ", m_bHad ? m_strOld.c_str() : nullptr);
    tzset();
  }

 private:
  bool m_bHad = false;
  std::string m_strOld;
};

TEST_F(LogQueueTest, LineHasTimeCodeAndTextJoinedByBars) {
  CScopedUtc utc;
  CLogEntry entry;
  entry.tmTime = 1714554902;  // 2024-05-01 09:15:02 UTC
  entry.strText = "10.0.0.5|start";
  EXPECT_EQ(FormatLogLine(entry), "2024/05/01 09:15:02|-|10.0.0.5|start\n");
  entry.nCode = 0;
  EXPECT_EQ(FormatLogLine(entry), "2024/05/01 09:15:02|0|10.0.0.5|start\n");
  entry.nCode = 42;
  entry.strText = "";
  EXPECT_EQ(FormatLogLine(entry), "2024/05/01 09:15:02|42|\n");
}

TEST_F(LogQueueTest, LineCarriesTheTimeOfTheCallNotOfTheDrain) {
  CScopedUtc utc;
  g_LogQueue.PushBack(CLogEntry{-1, "late", 1704067199});  // 2023-12-31 23:59:59
  std::vector<std::string> arrLines;
  DrainLogQueue(&arrLines);
  EXPECT_THAT(arrLines, ElementsAre("2023/12/31 23:59:59|-|late\n"));
}

TEST_F(LogQueueTest, NothingHappensWithLoggingOff) {
  g_bLog = false;
  EXPECT_EQ(WriteLog("%s|start", "host"), 0);
  EXPECT_TRUE(g_LogQueue.IsEmpty());
  g_bLogDirect = true;
  EXPECT_EQ(WriteLog("%s|start", "host"), 0);
  EXPECT_FALSE(std::filesystem::exists(LivePath()));
}

TEST_F(LogQueueTest, QueuedModeQueuesAndWritesNothing) {
  EXPECT_EQ(WriteLog("%s|error:%d", "host", 5), 0);
  ASSERT_EQ(g_LogQueue.Size(), 1u);
  const CLogEntry entry = g_LogQueue.PopFront();
  EXPECT_EQ(entry.strText, "host|error:5");
  EXPECT_EQ(entry.nCode, -1);
  EXPECT_NEAR(static_cast<double>(entry.tmTime), static_cast<double>(time(nullptr)), 5.0);
  EXPECT_FALSE(std::filesystem::exists(LivePath()));
}

TEST_F(LogQueueTest, DirectModeWritesBeforeReturningAndLeavesTheQueueEmpty) {
  g_bLogDirect = true;
  WriteLog("%s|a|b\nc", "host");
  EXPECT_TRUE(g_LogQueue.IsEmpty());
  const auto arrLines = ReadLines(LivePath());
  ASSERT_EQ(arrLines.size(), 2u);
  EXPECT_EQ(TextOf(arrLines[0]), "host|a|b");
  EXPECT_EQ(arrLines[1], "c");
}

TEST_F(LogQueueTest, LongMessageIsNeverCut) {
  const std::string strLong(100000, 'm');
  WriteLog("%s|%s", "host", strLong.c_str());
  EXPECT_EQ(g_LogQueue.PopFront().strText, "host|" + strLong);
}

TEST_F(LogQueueTest, DrainsAtMostTwoHundredOldestFirst) {
  for (int i = 0; i < 450; ++i) WriteLog("e%d", i);
  std::vector<std::string> arrLines{"kept\n"};
  DrainLogQueue(&arrLines);
  ASSERT_EQ(arrLines.size(), 201u);
  EXPECT_EQ(arrLines[0], "kept\n");
  EXPECT_EQ(TextOf(arrLines[1]), "e0\n");
  EXPECT_EQ(TextOf(arrLines[200]), "e199\n");
  arrLines.clear();
  DrainLogQueue(&arrLines);
  EXPECT_EQ(arrLines.size(), 200u);
  EXPECT_EQ(TextOf(arrLines[0]), "e200\n");
  arrLines.clear();
  DrainLogQueue(&arrLines);
  ASSERT_EQ(arrLines.size(), 50u);
  EXPECT_EQ(TextOf(arrLines[49]), "e449\n");
  EXPECT_TRUE(g_LogQueue.IsEmpty());
  arrLines.clear();
  DrainLogQueue(&arrLines);
  EXPECT_TRUE(arrLines.empty());
}

}  // namespace
