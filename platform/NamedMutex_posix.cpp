#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

CNamedMutex::CNamedMutex(const std::string& strName) {
  // O_NOFOLLOW: in /tmp another user could plant a link under our name.
  m_hLock = open(LockFilePath(strName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

CNamedMutex::~CNamedMutex() {
  if (m_hLock >= 0) close(static_cast<int>(m_hLock));
}

std::string CNamedMutex::LockFilePath(const std::string& strName) {
  const char* szRuntimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (szRuntimeDir != nullptr && *szRuntimeDir == '/') return std::string(szRuntimeDir) + "/" + strName + ".lock";
  return "/tmp/" + strName + "-" + std::to_string(getuid()) + ".lock";
}

bool CNamedMutex::Lock() {
  m_mutex.lock();
  if (m_hLock < 0) return true;
  while (flock(static_cast<int>(m_hLock), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    m_mutex.unlock();
    return false;
  }
  return true;
}

void CNamedMutex::Unlock() {
  if (m_hLock >= 0) (void)flock(static_cast<int>(m_hLock), LOCK_UN);
  m_mutex.unlock();
}
