// CAtomicFile under a file size limit, which only Linux sets per process,
// and under signals that end the process while it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/Interrupt.h"

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

// A child process interrupted by a first signal, which then writes a
// result file and gets a second one: raised at once after the first, the
// second is the same interruption and the child lives on; raised a clear
// interval later, it ends the child, and no temporary file is left beside
// the earlier file, which stays as it was.
TEST(CAtomicFileTest, SecondSignalLeavesNoTemporaryFile) {
  for (const bool bLater : {false, true}) {
    SCOPED_TRACE(bLater ? "a clear interval later" : "at once");
    CTempDir dir;
    const std::string strPath = dir.WriteFile("r.xml", "earlier");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      InstallInterruptHandlers();
      raise(SIGINT);
      if (!IsInterrupted()) _exit(3);
      if (bLater) std::this_thread::sleep_for(std::chrono::milliseconds(c_nRepeatedSignalMs + 100));
      {
        CAtomicFile file;
        if (!file.Open(strPath) || !file.Write("new", 3)) _exit(4);
        raise(SIGINT);
      }  // abandoned: the signal was the first one's
      _exit(0);
    }
    int nStatus = 0;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    if (bLater) {
      EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGINT) << nStatus;
    } else {
      EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << nStatus;
    }
    EXPECT_EQ(ReadAll(strPath), "earlier");
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"r.xml"});
  }
}

}  // namespace
