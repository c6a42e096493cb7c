#include "platform/Thread.h"

uint64_t CThreadEnds::Count() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nCount;
}

void CThreadEnds::WaitBeyond(uint64_t nSeen) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_ended.wait(lock, [&] { return m_nCount > nSeen; });
}

void CThreadEnds::Add() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nCount;
  }
  m_ended.notify_all();
}

void CThread::RunProc() {
  (void)m_pfnProc(m_pParam);
  // Read before the flag is set: once it is, the owner may free the object.
  CThreadEnds* pEnds = m_pEnds;
  m_bEnded.store(true, std::memory_order_release);
  if (pEnds != nullptr) pEnds->Add();
}
