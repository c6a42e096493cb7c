#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include "platform/AtomicFile_test.h"
#include "tests/TestSupport.h"

namespace {

TEST(CAtomicFileTest, ReplacesTheFileWhole) {
  CTempDir dir;
  const std::string strPath = dir.WriteFile("r.xml", std::string(10000, 'o'));
  ASSERT_TRUE(WriteWhole(strPath, "new"));
  EXPECT_EQ(ReadAll(strPath), "new");
  ASSERT_TRUE(WriteWhole((dir.Path() / "n.xml").string(), "made"));
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"r.xml", "n.xml"})) << "no temporary file";
}

TEST(CAtomicFileTest, UncommittedWriteLeavesEverythingAsItWas) {
  CTempDir dir;
  const std::string strPath = dir.WriteFile("r.xml", "old");
  {
    CAtomicFile file;
    ASSERT_TRUE(file.Open(strPath));
    ASSERT_TRUE(file.Write("half", 4));
    EXPECT_EQ(ReadAll(strPath), "old") << "the old file stays while the new one is written";
  }
  EXPECT_EQ(ReadAll(strPath), "old");
  {
    CAtomicFile file;
    ASSERT_TRUE(file.Open((dir.Path() / "n.xml").string()));
  }
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"r.xml"});
}

TEST(CAtomicFileTest, SecondWriterIsRefusedWhileTheFirstWrites) {
  CTempDir dir;
  const std::string strPath = (dir.Path() / "r.xml").string();
  CAtomicFile first;
  ASSERT_TRUE(first.Open(strPath));
  ASSERT_TRUE(first.Write("first", 5));
  CAtomicFile second;
  EXPECT_FALSE(second.Open(strPath));
  EXPECT_TRUE(first.Commit());
  EXPECT_EQ(ReadAll(strPath), "first");
  {
    // Another process's writer refuses too.
    const CForeignWriterLock lock(strPath);
    ASSERT_TRUE(lock.IsHeld());
    EXPECT_FALSE(WriteWhole(strPath, "second"));
  }
  EXPECT_EQ(ReadAll(strPath), "first");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"r.xml"});
}


TEST(CAtomicFileTest, FullDiskKeepsTheOldFile) {
  CSmallTmpfs disk(64 * 1024);
  if (!disk.IsMounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  const std::string strPath = (disk.Path() / "r.xml").string();
  ASSERT_TRUE(WriteWhole(strPath, "old result"));
  EXPECT_FALSE(WriteWhole(strPath, std::string(200 * 1024, 'n')));
  EXPECT_EQ(ReadAll(strPath), "old result");
  EXPECT_FALSE(WriteWhole((disk.Path() / "n.xml").string(), std::string(200 * 1024, 'n')));
  EXPECT_EQ(Names(disk.Path()), std::set<std::string>{"r.xml"});
  EXPECT_TRUE(WriteWhole(strPath, "still writable")) << "the space was given back";
}

TEST(CAtomicFileTest, MissingDirectoryCreatesNothing) {
  CTempDir dir;
  EXPECT_FALSE(WriteWhole((dir.Path() / "absent" / "r.xml").string(), "x"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "absent"));
}

}  // namespace
