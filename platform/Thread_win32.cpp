#include "platform/Thread.h"

#include <process.h>
#include <windows.h>

struct SThreadStart {
  static unsigned __stdcall Run(void* pThis) {
    static_cast<CThread*>(pThis)->RunProc();
    return 0;
  }
};

bool CThread::Start(size_t nStackBytes) {
  if (m_bStarted) return false;
  // The size is the stack's reservation: address space, committed only as
  // the thread uses it.
  const uintptr_t hThread = _beginthreadex(nullptr, static_cast<unsigned>(nStackBytes), SThreadStart::Run,
                                           this, nStackBytes != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0,
                                           nullptr);
  m_bStarted = hThread != 0;
  if (m_bStarted) m_hThread = hThread;
  return m_bStarted;
}

void CThread::Join() {
  if (!m_bStarted) return;
  const HANDLE hThread = reinterpret_cast<HANDLE>(m_hThread);
  WaitForSingleObject(hThread, INFINITE);
  CloseHandle(hThread);
  m_bStarted = false;
}
