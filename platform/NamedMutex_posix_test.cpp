// The Linux lock behind CNamedMutex: its lock file, and a holder killed
// while it holds it (fork, SIGKILL).
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/NamedMutex.h"
#include "tests/TestSupport.h"

namespace {

std::string UniqueName(const char* szTest) {
  return std::string("mibscan-test-") + szTest + "-" + std::to_string(getpid());
}

// A child process that takes the lock strName and holds it until it is
// killed; its id once it holds the lock, -1 when it could not be made.
pid_t ForkHolder(const std::string& strName) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    CNamedMutex mutex(strName);
    if (!mutex.Lock()) _exit(1);
    (void)!write(pipeFds[1], "L", 1);
    pause();
    _exit(0);
  }
  char ch = 0;
  const bool bHeld = pid > 0 && read(pipeFds[0], &ch, 1) == 1;
  close(pipeFds[0]);
  close(pipeFds[1]);
  return bHeld ? pid : -1;
}

// The runtime directory when it is this user's alone; else a directory of
// this user's in /tmp, mode 0700, so that nobody else can make the lock
// file first or hold it.
TEST(CNamedMutexTest, LockFileLivesInAPrivateDirectory) {
  const char* szSaved = std::getenv("XDG_RUNTIME_DIR");
  const std::string strSaved = szSaved != nullptr ? szSaved : "";
  CTempDir dir;
  const std::string strFallback = "/tmp/mibscan-" + std::to_string(getuid()) + "/x.lock";
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), dir.Path().string() + "/x.lock");
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);  // open to others
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), strFallback);
  setenv("XDG_RUNTIME_DIR", "/nonexistent-runtime-dir", 1);
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), strFallback);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), strFallback);
  {
    CNamedMutex mutex(UniqueName("private"));
    EXPECT_TRUE(mutex.IsShared());
    struct stat status {};
    ASSERT_EQ(lstat(("/tmp/mibscan-" + std::to_string(getuid())).c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    (void)unlink(CNamedMutex::LockFilePath(UniqueName("private")).c_str());
  }
  if (!strSaved.empty()) setenv("XDG_RUNTIME_DIR", strSaved.c_str(), 1);
}

// A runtime directory of another user's is not used, even when it is
// closed to others (root owns every lock it makes in it otherwise).
TEST(CNamedMutexTest, AnotherUsersDirectoryIsNotUsed) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a directory to another user needs root";
  const char* szSaved = std::getenv("XDG_RUNTIME_DIR");
  const std::string strSaved = szSaved != nullptr ? szSaved : "";
  CTempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
  ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
  setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
  EXPECT_EQ(CNamedMutex::LockFilePath("x"), "/tmp/mibscan-0/x.lock");
  ASSERT_EQ(chown(dir.Path().c_str(), 0, 0), 0);
  if (strSaved.empty()) unsetenv("XDG_RUNTIME_DIR"); else setenv("XDG_RUNTIME_DIR", strSaved.c_str(), 1);
}

// Another process that keeps the lock costs one bounded wait, then none
// while it keeps it; the threads of this process are still ordered, and
// the lock is taken again once the other lets it go.
TEST(CNamedMutexTest, HolderThatKeepsTheLockCostsOneBoundedWait) {
  const std::string strName = UniqueName("kept");
  const pid_t pid = ForkHolder(strName);
  ASSERT_GT(pid, 0);  // the child holds the lock now
  CNamedMutex mutex(strName);
  ASSERT_TRUE(mutex.Lock());  // after the bounded wait, without the child's part
  mutex.Unlock();
  ASSERT_TRUE(mutex.Lock());  // no wait this time
  mutex.Unlock();
  kill(pid, SIGKILL);
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  // Free again: taken as usual, so that another process now waits for it.
  ASSERT_TRUE(mutex.Lock());
  const pid_t probe = fork();
  ASSERT_GE(probe, 0);
  if (probe == 0) {
    const int nFd = open(CNamedMutex::LockFilePath(strName).c_str(), O_RDWR);
    _exit(nFd >= 0 && flock(nFd, LOCK_EX | LOCK_NB) != 0 ? 0 : 1);
  }
  ASSERT_EQ(waitpid(probe, &nStatus, 0), probe);
  EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << "the lock was not held across processes";
  mutex.Unlock();
  (void)unlink(CNamedMutex::LockFilePath(strName).c_str());
}

// A second process takes the lock and is killed while it holds it; this
// process must then acquire it, as a waiter on an abandoned mutex does.
TEST(CNamedMutexTest, HolderKilledWhileHoldingDoesNotBlockOthers) {
  const std::string strName = UniqueName("killed");
  const pid_t pid = ForkHolder(strName);
  ASSERT_GT(pid, 0);  // the child holds the lock now

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
}

}  // namespace
