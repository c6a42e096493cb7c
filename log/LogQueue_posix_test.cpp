// The log lock against a process killed while it holds it; the killing
// and the second process are Linux's (fork, SIGKILL).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "log/LogFixture_test.h"
#include "log/LogQueue.h"

namespace {

class LogLockTest : public LogFixture {};

// Another process holds the log lock and is killed with it held: logging
// here waits for it, then goes on.
TEST_F(LogLockTest, LoggingGoesOnAfterALockHolderIsKilled) {
  ASSERT_TRUE(g_pLogMutex->IsShared());
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!g_pLogMutex->Lock()) _exit(1);
    (void)!write(pipeFds[1], "L", 1);
    pause();
    _exit(0);
  }
  char ch = 0;
  ASSERT_EQ(read(pipeFds[0], &ch, 1), 1);
  std::thread killer([pid] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGKILL);
  });
  WriteLog("%s|after", "host");  // blocks until the holder is dead
  killer.join();
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  EXPECT_TRUE(WIFSIGNALED(nStatus));
  ASSERT_EQ(g_LogQueue.Size(), 1u);
  EXPECT_EQ(g_LogQueue.PopFront().strText, "host|after");
  close(pipeFds[0]);
  close(pipeFds[1]);
}

}  // namespace
