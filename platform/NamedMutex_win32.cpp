#include "platform/NamedMutex.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

#include "platform/Interrupt.h"

namespace {

HANDLE AsHandle(intptr_t hLock) { return reinterpret_cast<HANDLE>(hLock); }

}  // namespace

CNamedMutex::CNamedMutex(const std::string& strName) {
  const HANDLE hMutex = CreateMutexA(nullptr, FALSE, strName.c_str());
  if (hMutex != nullptr) m_hLock = reinterpret_cast<intptr_t>(hMutex);
}

CNamedMutex::~CNamedMutex() {
  if (m_hLock != -1) CloseHandle(AsHandle(m_hLock));
}

std::string CNamedMutex::LockFilePath(const std::string& strName) { return strName; }

bool CNamedMutex::Lock() {
  // The in-process mutex orders this process's threads whether or not the
  // named one is taken; the named one orders the processes.
  m_mutex.lock();
  m_bFileHeld = false;
  if (m_hLock == -1) return true;
  // As on Linux: one bounded wait for a holder that keeps it, then no
  // waiting until it is free again; none once the scan is interrupted.
  using CClock = std::chrono::steady_clock;
  const auto deadline = CClock::now() + std::chrono::milliseconds(m_bWaitedInVain ? 0 : c_nMaxLockWaitMs);
  while (true) {
    const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CClock::now()).count();
    const DWORD uSlice = static_cast<DWORD>(std::clamp<int64_t>(nLeft, 0, 100));
    // WAIT_ABANDONED: the holder died holding it, and this thread now does.
    const DWORD uResult = WaitForSingleObject(AsHandle(m_hLock), uSlice);
    if (uResult == WAIT_OBJECT_0 || uResult == WAIT_ABANDONED) {
      m_bFileHeld = true;
      m_bWaitedInVain = false;
      return true;
    }
    if (uResult != WAIT_TIMEOUT) {
      m_mutex.unlock();
      return false;
    }
    if (uSlice == 0 || IsInterrupted()) {
      m_bWaitedInVain = true;
      return true;  // without the other processes' lock
    }
  }
}

void CNamedMutex::Unlock() {
  if (m_bFileHeld) ReleaseMutex(AsHandle(m_hLock));
  m_bFileHeld = false;
  m_mutex.unlock();
}
