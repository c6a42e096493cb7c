// The Linux lock behind CNamedMutex: its lock file, and a holder killed
// while it holds it (fork, SIGKILL).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/NamedMutex.h"

namespace {

std::string UniqueName(const char* szTest) {
  return std::string("mibscan-test-") + szTest + "-" + std::to_string(getpid());
}

TEST(CNamedMutexTest, LockFileLivesInTheRuntimeDirectory) {
  setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), "/run/user/1000/x.lock");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), "/tmp/x-" + std::to_string(getuid()) + ".lock");
}

// A second process takes the lock and is killed while it holds it; this
// process must then acquire it, as a waiter on an abandoned mutex does.
TEST(CNamedMutexTest, HolderKilledWhileHoldingDoesNotBlockOthers) {
  const std::string strName = UniqueName("killed");
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CNamedMutex mutex(strName);
    if (!mutex.Lock()) _exit(1);
    (void)!write(pipeFds[1], "L", 1);
    pause();
    _exit(0);
  }
  char ch = 0;
  ASSERT_EQ(read(pipeFds[0], &ch, 1), 1);  // the child holds the lock now

  CNamedMutex mutex(strName);
  std::atomic<bool> bAcquired{false};
  std::thread waiter([&] {
    if (mutex.Lock()) {
      bAcquired = true;
      mutex.Unlock();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(bAcquired) << "the lock did not exclude the other process";
  kill(pid, SIGKILL);
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  waiter.join();  // would hang (and the test time out) if the lock stayed taken
  EXPECT_TRUE(bAcquired);
  close(pipeFds[0]);
  close(pipeFds[1]);
}

}  // namespace
