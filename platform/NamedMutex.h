// A lock shared by every process that uses the same name, and by every
// thread of each of them.
//
// Built from an in-process mutex (threads of one process) and flock() on a
// lock file (processes): "$XDG_RUNTIME_DIR/<name>.lock", or
// "/tmp/<name>-<uid>.lock" without a runtime directory, so the lock is
// shared by the processes of one user. The kernel drops a flock() lock when
// its holder dies, so a process killed while holding the lock never blocks
// the others: their next Lock() acquires it.
//
// If the lock file cannot be opened, the lock still works within the
// process; it then no longer orders other processes.
#ifndef MIBSCAN_PLATFORM_NAMEDMUTEX_H_
#define MIBSCAN_PLATFORM_NAMEDMUTEX_H_

#include <mutex>
#include <string>

class CNamedMutex {
 public:
  explicit CNamedMutex(const std::string& strName);
  ~CNamedMutex();
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;

  // Waits without time limit until this thread holds the lock. True when
  // acquired; false only when the wait itself failed, and the caller then
  // holds nothing.
  [[nodiscard]] bool Lock();
  // Releases the lock. REQUIRES: this thread holds it.
  void Unlock();

  // Path of the lock file for strName (a pure function of the name and the
  // environment).
  static std::string LockFilePath(const std::string& strName);
  // True when the lock file is open, i.e. other processes are ordered too.
  bool IsShared() const { return m_nFd >= 0; }

 private:
  std::mutex m_mutex;  // a flock() lock is held by the open file, not the thread
  int m_nFd = -1;
};

#endif  // MIBSCAN_PLATFORM_NAMEDMUTEX_H_
