// CAtomicFile under a file size limit, which only Linux sets per process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "platform/AtomicFile_test.h"
#include "tests/TestSupport.h"

namespace {

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

}  // namespace
