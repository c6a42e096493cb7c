#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Descriptors.h"

namespace {

// True when nFd is still the file at strPath (not replaced meanwhile).
bool IsStillAt(int nFd, const std::string& strPath) {
  struct stat open {};
  struct stat named {};
  return fstat(nFd, &open) == 0 && stat(strPath.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace

void RemoveFileForSignal(const char* szPath) { (void)unlink(szPath); }

CAtomicFile::~CAtomicFile() { Abandon(); }

bool CAtomicFile::Open(const std::string& strPath) {
  Abandon();
  m_bFailed = false;
  if (!ClaimPath(strPath)) return false;  // a second writer of this process: refused at once
  m_strPath = strPath;
  // An existing file is locked, without waiting: a writer of another
  // process that holds the lock is writing this very file, and a second
  // one must not wait to overwrite it. One that replaced the file in the
  // meantime has just written it. A file that does not exist yet needs no
  // lock: whichever writer renames last leaves a whole file.
  m_hLock = OpenWaitingForDescriptors([&] { return open(strPath.c_str(), O_RDONLY | O_CLOEXEC); });
  if (m_hLock < 0 && errno != ENOENT) {
    Abandon();
    return false;
  }
  if (m_hLock >= 0 && (flock(m_hLock, LOCK_EX | LOCK_NB) != 0 || !IsStillAt(m_hLock, strPath))) {
    Abandon();
    return false;
  }
  m_strTempPath = TempPathFor(strPath, static_cast<uint64_t>(getpid()));
  // Registered before it exists: there is no moment in which a second
  // signal would leave it behind.
  m_nTempSlot = RegisterTempPath(m_strTempPath);
  m_hTemp = OpenWaitingForDescriptors(
      [&] { return open(m_strTempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
  if (m_hTemp < 0) {
    m_strTempPath.clear();
    Abandon();
    return false;
  }
  return true;
}

bool CAtomicFile::WriteToTemp(const void* pData, size_t nSize) {
  if (m_hTemp < 0) m_bFailed = true;
  const char* pBytes = static_cast<const char*>(pData);
  while (nSize > 0 && !m_bFailed) {
    const ssize_t nWritten = write(m_hTemp, pBytes, nSize);
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

bool CAtomicFile::CommitTemp() {
  if (m_hTemp < 0 || m_bFailed) {
    Abandon();
    return false;
  }
  // On the disk before it takes the destination's name, so that a crash
  // leaves the old file or the new one, never a part of the new one.
  const bool bSynced = fsync(m_hTemp) == 0;
  const bool bClosed = close(m_hTemp) == 0;
  m_hTemp = -1;
  if (!bSynced || !bClosed || rename(m_strTempPath.c_str(), m_strPath.c_str()) != 0) {
    Abandon();
    return false;
  }
  m_strTempPath.clear();
  UnregisterTempPath(m_nTempSlot);
  m_nTempSlot = -1;
  Abandon();  // nothing left to abandon but the lock and the claim on the path
  return true;
}

void CAtomicFile::Abandon() {
  if (m_hTemp >= 0) close(m_hTemp);
  m_hTemp = -1;
  if (!m_strTempPath.empty()) unlink(m_strTempPath.c_str());
  m_strTempPath.clear();
  UnregisterTempPath(m_nTempSlot);
  m_nTempSlot = -1;
  if (m_hLock >= 0) close(m_hLock);
  m_hLock = -1;
  if (!m_strPath.empty()) ReleasePath(m_strPath);
  m_strPath.clear();
}
