#include "platform/Thread.h"

#include <system_error>

bool CThread::Start() {
  try {
    m_thread = std::thread([this] { (void)m_pfnProc(m_pParam); });
  } catch (...) {
    return false;  // the system refused the thread (system_error) or memory ran out
  }
  return true;
}

void CThread::Join() {
  if (m_thread.joinable()) m_thread.join();
}
