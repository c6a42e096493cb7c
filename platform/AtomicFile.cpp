#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<unsigned> g_nTempCounter{0};

// Opens strPath, creating it when missing; *pbCreated tells which.
int OpenOrCreate(const std::string& strPath, bool* pbCreated) {
  for (int nTry = 0; nTry < 8; ++nTry) {
    int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd >= 0 || errno != ENOENT) {
      *pbCreated = false;
      return nFd;
    }
    nFd = open(strPath.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (nFd >= 0 || errno != EEXIST) {
      *pbCreated = nFd >= 0;
      return nFd;
    }
    // Made by someone else between the two opens: open it again.
  }
  return -1;
}

// True when nFd is still the file at strPath (not replaced meanwhile).
bool IsStillAt(int nFd, const std::string& strPath) {
  struct stat open {};
  struct stat named {};
  return fstat(nFd, &open) == 0 && stat(strPath.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace

CAtomicFile::~CAtomicFile() { Abandon(); }

bool CAtomicFile::Open(const std::string& strPath) {
  Abandon();
  m_strPath = strPath;
  m_bFailed = false;
  m_nLockFd = OpenOrCreate(strPath, &m_bCreated);
  if (m_nLockFd < 0) return false;
  // The lock is taken without waiting: a writer that holds it is writing
  // this very file, and a second one must not wait to overwrite it. One
  // that replaced the file in the meantime has just written it.
  if (flock(m_nLockFd, LOCK_EX | LOCK_NB) != 0 || !IsStillAt(m_nLockFd, strPath)) {
    m_bCreated = false;  // someone else's file now
    Abandon();
    return false;
  }
  const size_t nSlash = strPath.rfind('/');
  const std::string strDir = nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
  const std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
  // A hidden name of this process and writer, never the name of a result.
  m_strTempPath = strDir + "." + strName + "." + std::to_string(getpid()) + "." +
                  std::to_string(g_nTempCounter.fetch_add(1)) + ".tmp";
  m_nTempFd = open(m_strTempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (m_nTempFd < 0) {
    m_strTempPath.clear();
    Abandon();
    return false;
  }
  return true;
}

bool CAtomicFile::Write(const void* pData, size_t nSize) {
  if (m_nTempFd < 0) m_bFailed = true;
  const char* pBytes = static_cast<const char*>(pData);
  while (nSize > 0 && !m_bFailed) {
    const ssize_t nWritten = write(m_nTempFd, pBytes, nSize);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) {
      m_bFailed = true;
      break;
    }
    pBytes += nWritten;
    nSize -= static_cast<size_t>(nWritten);
  }
  return !m_bFailed;
}

bool CAtomicFile::Commit() {
  if (m_nTempFd < 0 || m_bFailed) {
    Abandon();
    return false;
  }
  // On the disk before it takes the destination's name, so that a crash
  // leaves the old file or the new one, never a part of the new one.
  const bool bSynced = fsync(m_nTempFd) == 0;
  const bool bClosed = close(m_nTempFd) == 0;
  m_nTempFd = -1;
  if (!bSynced || !bClosed || rename(m_strTempPath.c_str(), m_strPath.c_str()) != 0) {
    Abandon();
    return false;
  }
  m_strTempPath.clear();
  m_bCreated = false;
  close(m_nLockFd);
  m_nLockFd = -1;
  return true;
}

void CAtomicFile::Abandon() {
  if (m_nTempFd >= 0) close(m_nTempFd);
  m_nTempFd = -1;
  if (!m_strTempPath.empty()) unlink(m_strTempPath.c_str());
  m_strTempPath.clear();
  // An empty destination that only this writer made goes again; the lock
  // is still held, so no other writer is using it.
  if (m_bCreated) unlink(m_strPath.c_str());
  m_bCreated = false;
  if (m_nLockFd >= 0) close(m_nLockFd);
  m_nLockFd = -1;
}
