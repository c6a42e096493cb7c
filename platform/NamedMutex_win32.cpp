#include "platform/NamedMutex.h"

#include <windows.h>

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
  // A mutex is owned by a thread and orders the threads of this process
  // as well; the in-process mutex serves only when it could not be made.
  if (m_hLock == -1) {
    m_mutex.lock();
    return true;
  }
  // WAIT_ABANDONED: the holder died holding it, and this thread now does.
  const DWORD uResult = WaitForSingleObject(AsHandle(m_hLock), INFINITE);
  return uResult == WAIT_OBJECT_0 || uResult == WAIT_ABANDONED;
}

void CNamedMutex::Unlock() {
  if (m_hLock == -1) {
    m_mutex.unlock();
    return;
  }
  ReleaseMutex(AsHandle(m_hLock));
}
