#include "log/LogFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "log/LogFixture_test.h"
#include "platform/FileOps.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class LogFileTest : public LogFixture {
 protected:
  // Names of the rotated files in the log directory, sorted.
  std::vector<std::string> RotatedNames() const {
    std::vector<std::string> arrNames;
    for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
      const std::string strName = entry.path().filename().string();
      if (strName != "log.txt" && strName.ends_with("_log.txt") && entry.is_regular_file())
        arrNames.push_back(strName);
    }
    std::sort(arrNames.begin(), arrNames.end());
    return arrNames;
  }
  // The rotated path that a rotation nSeconds from now would use.
  std::string RotatedPathIn(int nSeconds) const {
    const time_t tmWhen = std::time(nullptr) + nSeconds;
    struct tm tmLocal {};
    localtime_r(&tmWhen, &tmLocal);
    return MakeRotatedLogPath(g_strLogDir, tmLocal, g_strLogFile);
  }
};

TEST_F(LogFileTest, RotatedNameStartsWithTheTimeOfRotation) {
  struct tm tmLocal {};
  tmLocal.tm_year = 124;
  tmLocal.tm_mon = 4;
  tmLocal.tm_mday = 1;
  tmLocal.tm_hour = 9;
  tmLocal.tm_min = 15;
  tmLocal.tm_sec = 2;
  const std::string s(1, PathSeparator());
  EXPECT_EQ(MakeRotatedLogPath("log", tmLocal, "log.txt"), "log" + s + "20240501_091502_log.txt");
  EXPECT_EQ(MakeLogFilePath("log", "log.txt"), "log" + s + "log.txt");
}

TEST_F(LogFileTest, EmptyBatchStillCreatesTheFile) {
  WriteLogLines({});
  EXPECT_TRUE(fs::exists(LivePath()));
  EXPECT_EQ(fs::file_size(LivePath()), 0u);
}

TEST_F(LogFileTest, LinesAreAppendedUnchanged) {
  WriteLogLines({"a|b\n", "no end"});
  WriteLogLines({"\nc\n"});
  EXPECT_THAT(ReadLines(LivePath()), ElementsAre("a|b", "no end", "c"));
}

TEST_F(LogFileTest, RotatesPastTheThresholdNotAtIt) {
  // 256 KiB exactly: kept; one byte more: rotated by that very write.
  WriteLogLines({std::string(262143, 'x')});
  WriteLogLines({"x"});
  EXPECT_EQ(fs::file_size(LivePath()), 262144u);
  EXPECT_TRUE(RotatedNames().empty());
  WriteLogLines({"y"});
  EXPECT_FALSE(fs::exists(LivePath()));
  const auto arrRotated = RotatedNames();
  ASSERT_EQ(arrRotated.size(), 1u);
  EXPECT_EQ(fs::file_size(m_dir.Path() / arrRotated[0]), 262145u);
}

TEST_F(LogFileTest, BatchIsNeverSplitAcrossFiles) {
  WriteLogLines({std::string(c_uRotateBytes - 10, 'x')});
  const std::vector<std::string> arrBatch(5, std::string(99, 'b') + "\n");
  WriteLogLines(arrBatch);
  const auto arrRotated = RotatedNames();
  ASSERT_EQ(arrRotated.size(), 1u);
  EXPECT_EQ(fs::file_size(m_dir.Path() / arrRotated[0]), c_uRotateBytes - 10 + 500);
  WriteLogLines({"next\n"});
  EXPECT_THAT(ReadLines(LivePath()), ElementsAre("next"));
}

TEST_F(LogFileTest, TakenRotatedNameLeavesTheLiveFileGrowing) {
  // Block the names of every second this test can take.
  std::vector<std::string> arrBlockers;
  for (int n = 0; n <= 5; ++n) {
    arrBlockers.push_back(RotatedPathIn(n));
    std::ofstream(arrBlockers.back(), std::ios::binary) << "earlier rotation\n";
  }
  WriteLogLines({std::string(c_uRotateBytes, 'x') + "\n"});
  WriteLogLines({"more\n"});
  ASSERT_TRUE(fs::exists(LivePath()));
  EXPECT_EQ(fs::file_size(LivePath()), c_uRotateBytes + 1 + 5);
  for (const auto& strBlocker : arrBlockers) EXPECT_EQ(fs::file_size(strBlocker), 17u);
  // Once a name is free again the next batch rotates.
  for (const auto& strBlocker : arrBlockers) fs::remove(strBlocker);
  WriteLogLines({"last\n"});
  EXPECT_FALSE(fs::exists(LivePath()));
  ASSERT_EQ(RotatedNames().size(), 1u);
}

TEST_F(LogFileTest, PruningKeepsTheThirtyNewest) {
  for (int n = 0; n < 30; ++n) {
    char szName[64];
    std::snprintf(szName, sizeof szName, "20240101_0000%02d_log.txt", n);
    std::ofstream(m_dir.Path() / szName) << n;
  }
  fs::create_directory(m_dir.Path() / "00000000_000000_log.txt");  // a matching directory
  std::ofstream(m_dir.Path() / "00000000_000000_other.txt") << "not ours";
  WriteLogLines({std::string(c_uRotateBytes + 1, 'x')});
  const auto arrRotated = RotatedNames();
  ASSERT_EQ(arrRotated.size(), 30u);
  EXPECT_EQ(arrRotated.front(), "20240101_000001_log.txt");  // only the oldest went
  EXPECT_TRUE(fs::is_directory(m_dir.Path() / "00000000_000000_log.txt"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "00000000_000000_other.txt"));
}

TEST_F(LogFileTest, NoPruningWithThirtyOrFewer) {
  for (int n = 0; n < 29; ++n) std::ofstream(m_dir.Path() / ("2024010" + std::to_string(n) + "_log.txt"));
  WriteLogLines({std::string(c_uRotateBytes + 1, 'x')});
  EXPECT_EQ(RotatedNames().size(), 30u);
}

TEST_F(LogFileTest, MissingDirectoryLosesTheBatchQuietly) {
  g_strLogDir = (m_dir.Path() / "absent").string();
  EXPECT_EQ(WriteLogLines({"lost\n"}), 0);
  EXPECT_FALSE(fs::exists(m_dir.Path() / "absent"));
}

TEST_F(LogFileTest, FullDiskLosesTheBatchQuietly) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", LivePath());
  EXPECT_EQ(WriteLogLines({"lost\n"}), 0);
  EXPECT_TRUE(fs::is_symlink(LivePath()));
}

TEST(CSortStringArrayTest, SortsIgnoringCaseAndKeepsEqualsInOrder) {
  struct {
    std::vector<std::string> arrIn;
    std::vector<std::string> arrOut;
    const char* szReason;
  } const rows[] = {
      {{}, {}, "empty stays empty"},
      {{"b"}, {"b"}, "one element stays"},
      {{"c", "b", "a"}, {"a", "b", "c"}, "reversed input needs every pass"},
      {{"B_log.txt", "a_log.txt"}, {"a_log.txt", "B_log.txt"}, "case is ignored"},
      {{"x_LOG", "X_log", "a"}, {"a", "x_LOG", "X_log"}, "equal but for case: order kept"},
      {{"X_log", "x_LOG", "a"}, {"a", "X_log", "x_LOG"}, "the same, the other way round"},
      {{"ab", "a"}, {"a", "ab"}, "a prefix sorts first"},
      {{"20240102", "20231231"}, {"20231231", "20240102"}, "timestamps sort by age"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    CSortStringArray arr;
    arr.assign(row.arrIn.begin(), row.arrIn.end());
    arr.Sort();
    EXPECT_EQ(static_cast<std::vector<std::string>&>(arr), row.arrOut);
  }
}

}  // namespace
