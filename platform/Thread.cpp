#include "platform/Thread.h"

#include <system_error>

bool CThread::Start() {
  try {
    m_thread = std::thread([this] { (void)m_pfnProc(m_pParam); });
  } catch (const std::system_error&) {
    return false;  // out of threads or memory
  }
  return true;
}

void CThread::Join() {
  if (m_thread.joinable()) m_thread.join();
}
