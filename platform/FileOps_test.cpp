#include "platform/FileOps.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/TestSupport.h"

namespace {

TEST(MoveFileNoReplaceTest, RenamesToAFreeName) {
  CTempDir dir;
  const std::string strFrom = dir.WriteFile("a", "live");
  ASSERT_TRUE(MoveFileNoReplace(strFrom, (dir.Path() / "b").string()));
  EXPECT_FALSE(std::filesystem::exists(strFrom));
  EXPECT_EQ(ReadAll(dir.Path() / "b"), "live");
}

TEST(MoveFileNoReplaceTest, NeverReplacesAnExistingFile) {
  CTempDir dir;
  const std::string strFrom = dir.WriteFile("a", "live");
  const std::string strTo = dir.WriteFile("b", "rotated earlier");
  EXPECT_FALSE(MoveFileNoReplace(strFrom, strTo));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadAll(strFrom), "live");
  EXPECT_EQ(ReadAll(strTo), "rotated earlier");
}

TEST(AppendToFileTest, CreatesThenAppendsAndMeasures) {
  CTempDir dir;
  const std::string strPath = (dir.Path() / "log.txt").string();
  uint64_t uLength = 0;
  ASSERT_TRUE(AppendToFile(strPath, "one\n", &uLength));
  EXPECT_EQ(uLength, 4u);
  ASSERT_TRUE(AppendToFile(strPath, "", &uLength));
  EXPECT_EQ(uLength, 4u);
  ASSERT_TRUE(AppendToFile(strPath, "two\n", &uLength));
  EXPECT_EQ(uLength, 8u);
  EXPECT_EQ(ReadAll(strPath), "one\ntwo\n");
}

TEST(AppendToFileTest, ReportsAMissingDirectory) {
  CTempDir dir;
  uint64_t uLength = 7;
  EXPECT_FALSE(AppendToFile((dir.Path() / "no" / "log.txt").string(), "x", &uLength));
  EXPECT_EQ(uLength, 7u);
}

TEST(AppendToFileTest, ReportsAFullDisk) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  uint64_t uLength = 7;
  EXPECT_FALSE(AppendToFile("/dev/full", "line\n", &uLength));
  EXPECT_EQ(uLength, 0u);  // measured all the same
}

}  // namespace
