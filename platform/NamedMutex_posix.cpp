#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/Interrupt.h"

namespace {

// True when strPath is a directory (not a link to one) of this user's that
// nobody else may enter: a lock file in it cannot have been made, or be
// held, by another user.
bool IsPrivateDirectory(const std::string& strPath) {
  struct stat status {};
  return lstat(strPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == getuid() &&
         (status.st_mode & 077) == 0;
}

// The directory of the lock file when there is no private runtime
// directory: made by this user, mode 0700.
std::string FallbackDirectory() { return "/tmp/mibscan-" + std::to_string(getuid()); }

std::string RuntimeDirectory() {
  const char* szRuntimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (szRuntimeDir != nullptr && *szRuntimeDir == '/' && IsPrivateDirectory(szRuntimeDir)) return szRuntimeDir;
  return FallbackDirectory();
}

}  // namespace

CNamedMutex::CNamedMutex(const std::string& strName) {
  const std::string strDir = RuntimeDirectory();
  // Made when missing; one that another user made first (or one open to
  // others) is not used: the lock then orders this process's threads only.
  if (strDir == FallbackDirectory()) (void)mkdir(strDir.c_str(), 0700);
  if (!IsPrivateDirectory(strDir)) return;
  // O_NOFOLLOW: no link is followed, even in a directory of our own.
  m_hLock = open(LockFilePath(strName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

CNamedMutex::~CNamedMutex() {
  if (m_hLock >= 0) close(static_cast<int>(m_hLock));
}

std::string CNamedMutex::LockFilePath(const std::string& strName) {
  return RuntimeDirectory() + "/" + strName + ".lock";
}

bool CNamedMutex::Lock() {
  m_mutex.lock();
  m_bFileHeld = false;
  if (m_hLock < 0) return true;
  // Another process that keeps the lock (a stuck one, or anybody's) costs
  // one bounded wait; after it the lock is tried without waiting until it
  // is free again. An interrupted scan does not wait at all.
  using CClock = std::chrono::steady_clock;
  const auto deadline = CClock::now() + std::chrono::milliseconds(m_bWaitedInVain ? 0 : c_nMaxLockWaitMs);
  // Other processes hold it for a line at a time: short pauses, so that a
  // lock let go is taken within a millisecond.
  for (int nPauseUs = 20;; nPauseUs = std::min(nPauseUs * 2, 1000)) {
    if (flock(static_cast<int>(m_hLock), LOCK_EX | LOCK_NB) == 0) {
      m_bFileHeld = true;
      m_bWaitedInVain = false;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      m_mutex.unlock();
      return false;
    }
    if (CClock::now() >= deadline || IsInterrupted()) {
      m_bWaitedInVain = true;
      return true;  // without the other processes' lock
    }
    std::this_thread::sleep_for(std::chrono::microseconds(nPauseUs));
  }
}

void CNamedMutex::Unlock() {
  if (m_bFileHeld) (void)flock(static_cast<int>(m_hLock), LOCK_UN);
  m_bFileHeld = false;
  m_mutex.unlock();
}
