#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> setNames;
  for (const auto& entry : fs::directory_iterator(dir)) setNames.insert(entry.path().filename().string());
  return setNames;
}

bool WriteWhole(const std::string& strPath, const std::string& strText) {
  CAtomicFile file;
  return file.Open(strPath) && file.Write(strText.data(), strText.size()) && file.Commit();
}

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
  // Another process's lock (a writer of the described kind) refuses too.
  const int nFd = open(strPath.c_str(), O_RDONLY);
  ASSERT_EQ(flock(nFd, LOCK_EX), 0);
  EXPECT_FALSE(WriteWhole(strPath, "second"));
  close(nFd);
  EXPECT_EQ(ReadAll(strPath), "first");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"r.xml"});
}

// A file size limit makes every write past it fail (SIGXFSZ ignored, as
// mibscan ignores it).
TEST(CAtomicFileTest, FailedWritesKeepTheOldFile) {
  CTempDir dir;
  const std::string strOld(3000, 'o');
  const std::string strPath = dir.WriteFile("r.xml", strOld);
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, previous.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool bWritten = WriteWhole(strPath, std::string(10000, 'n'));
  const bool bNewWritten = WriteWhole((dir.Path() / "n.xml").string(), std::string(10000, 'n'));
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(bWritten);
  EXPECT_FALSE(bNewWritten);
  EXPECT_EQ(ReadAll(strPath), strOld);
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
  EXPECT_FALSE(fs::exists(dir.Path() / "absent"));
}

}  // namespace
