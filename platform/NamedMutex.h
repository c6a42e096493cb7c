// A lock shared by every process that uses the same name, and by every
// thread of each of them.
//
// On Windows it is a named mutex (CreateMutexA, the name as given, in the
// session's namespace); a mutex abandoned by a dead holder is acquired by
// the next waiter.
//
// On Linux it is built from an in-process mutex (threads of one process) and flock() on a
// lock file (processes): "$XDG_RUNTIME_DIR/<name>.lock" when that is a
// directory of this user's that nobody else may enter (mode 0700, as the
// runtime directory is), or else "/tmp/mibscan-<uid>/<name>.lock", in a
// directory made with mode 0700; so the lock is shared by the processes
// of one user, and no other user can make or hold it. The kernel drops a
// flock() lock when its holder dies, so a process killed while holding the
// lock never blocks the others: their next Lock() acquires it.
//
// Waiting for another process is bounded: after c_nMaxLockWaitMs (at once
// when the scan is interrupted) Lock() goes on without the other
// processes' lock, and until that lock is free again it does not wait for
// it. The threads of this process are still ordered; only the order
// against a process that kept the lock so long is lost.
//
// If the lock file cannot be opened (or the directory is another user's),
// the lock still works within the process; it then no longer orders other
// processes.
#ifndef MIBSCAN_PLATFORM_NAMEDMUTEX_H_
#define MIBSCAN_PLATFORM_NAMEDMUTEX_H_

#include <cstdint>
#include <mutex>
#include <string>

// The longest a Lock() waits for another process that holds the lock.
constexpr int c_nMaxLockWaitMs = 2000;

class CNamedMutex {
 public:
  explicit CNamedMutex(const std::string& strName);
  ~CNamedMutex();
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;

  // Waits until this thread holds the lock (the other processes' part of
  // it for a bounded time, see above). True when acquired; false only when
  // the wait itself failed, and the caller then holds nothing.
  [[nodiscard]] bool Lock();
  // Releases the lock. REQUIRES: this thread holds it.
  void Unlock();

  // Linux: the path of the lock file for strName (a pure function of the
  // name and the environment). Windows: the mutex's name.
  static std::string LockFilePath(const std::string& strName);
  // True when other processes are ordered too (the lock file is open, or
  // the named mutex exists).
  bool IsShared() const { return m_hLock != -1; }

 private:
  std::mutex m_mutex;  // this process's threads; a flock() lock is held by the open file, not the thread
  intptr_t m_hLock = -1;  // the lock file's descriptor, or the mutex's handle
  // Under m_mutex: whether the other processes' lock is held now, and
  // whether the last wait for it ran out.
  bool m_bFileHeld = false;
  bool m_bWaitedInVain = false;
};

// Holds a CNamedMutex for its scope: released however the scope is left,
// a thrown bad_alloc included.
class CNamedMutexGuard {
 public:
  explicit CNamedMutexGuard(CNamedMutex* pMutex) : m_pMutex(pMutex), m_bHeld(pMutex->Lock()) {}
  ~CNamedMutexGuard() {
    if (m_bHeld) m_pMutex->Unlock();
  }
  CNamedMutexGuard(const CNamedMutexGuard&) = delete;
  CNamedMutexGuard& operator=(const CNamedMutexGuard&) = delete;

  // False when the wait failed: nothing is held.
  [[nodiscard]] bool IsHeld() const { return m_bHeld; }

 private:
  CNamedMutex* m_pMutex;
  bool m_bHeld;
};

#endif  // MIBSCAN_PLATFORM_NAMEDMUTEX_H_
