#include "platform/ModulePath.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(ModulePathTest, NamesThisTestBinary) {
  std::string strPath;
  ASSERT_TRUE(GetExecutablePath(&strPath));
  EXPECT_EQ(std::filesystem::path(strPath).stem(), "platform_test");  // ".exe" on Windows
  EXPECT_TRUE(std::filesystem::path(strPath).is_absolute());
}
