#include "platform/Thread.h"

#include <limits.h>
#include <pthread.h>

#include <algorithm>

struct SThreadStart {
  static void* Run(void* pThis) {
    static_cast<CThread*>(pThis)->RunProc();
    return nullptr;
  }
};

bool CThread::Start(size_t nStackBytes) {
  if (m_bStarted) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  bool bAttrOk = true;
  if (nStackBytes != 0) {
    // Whole pages, and never below what the system accepts.
    const size_t nPage = 4096;
    const size_t nBytes = std::max<size_t>((nStackBytes + nPage - 1) / nPage * nPage, PTHREAD_STACK_MIN);
    bAttrOk = pthread_attr_setstacksize(&attr, nBytes) == 0;
  }
  static_assert(sizeof(pthread_t) <= sizeof(m_hThread));
  pthread_t thread{};
  m_bStarted = bAttrOk && pthread_create(&thread, &attr, SThreadStart::Run, this) == 0;
  if (m_bStarted) m_hThread = static_cast<uintptr_t>(thread);
  pthread_attr_destroy(&attr);
  return m_bStarted;
}

void CThread::Join() {
  if (!m_bStarted) return;
  pthread_join(static_cast<pthread_t>(m_hThread), nullptr);
  m_bStarted = false;
}
