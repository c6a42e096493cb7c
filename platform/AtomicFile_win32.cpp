#include "platform/AtomicFile.h"

#include <windows.h>

#include <algorithm>

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The byte the writers lock: past the end of any real file, so that the
// lock never keeps a reader from the file's contents.
constexpr DWORD c_uLockOffsetHigh = 0x7FFFFFFF;

}  // namespace

void RemoveFileForSignal(const char* szPath) { (void)DeleteFileA(szPath); }

CAtomicFile::~CAtomicFile() { Abandon(); }

bool CAtomicFile::Open(const std::string& strPath) {
  Abandon();
  m_bFailed = false;
  if (!ClaimPath(strPath)) return false;  // a second writer of this process: refused at once
  m_strPath = strPath;
  // An existing file is locked, without waiting: a writer of another
  // process that holds the lock is writing this very file. A file that
  // does not exist yet needs no lock: whichever writer renames last leaves
  // a whole file.
  const HANDLE hLock = CreateFileA(strPath.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hLock == INVALID_HANDLE_VALUE) {
    const DWORD uError = GetLastError();
    if (uError != ERROR_FILE_NOT_FOUND) {
      Abandon();
      return false;
    }
  } else {
    m_hLock = reinterpret_cast<intptr_t>(hLock);
    OVERLAPPED at{};
    at.OffsetHigh = c_uLockOffsetHigh;
    if (!LockFileEx(hLock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      Abandon();
      return false;
    }
  }
  m_strTempPath = TempPathFor(strPath, GetCurrentProcessId());
  m_nTempSlot = RegisterTempPath(m_strTempPath);
  // FILE_SHARE_DELETE: a second Ctrl+C may delete it while it is open.
  const HANDLE hTemp = CreateFileA(m_strTempPath.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (hTemp == INVALID_HANDLE_VALUE) {
    m_strTempPath.clear();
    Abandon();
    return false;
  }
  m_hTemp = reinterpret_cast<intptr_t>(hTemp);
  return true;
}

bool CAtomicFile::WriteToTemp(const void* pData, size_t nSize) {
  if (m_hTemp == -1) m_bFailed = true;
  const char* pBytes = static_cast<const char*>(pData);
  while (nSize > 0 && !m_bFailed) {
    const DWORD nChunk = static_cast<DWORD>(std::min<size_t>(nSize, 1u << 30));
    DWORD nWritten = 0;
    if (!WriteFile(AsHandle(m_hTemp), pBytes, nChunk, &nWritten, nullptr) || nWritten == 0) {
      m_bFailed = true;
      break;
    }
    pBytes += nWritten;
    nSize -= nWritten;
  }
  return !m_bFailed;
}

bool CAtomicFile::CommitTemp() {
  if (m_hTemp == -1 || m_bFailed) {
    Abandon();
    return false;
  }
  // On the disk before it takes the destination's name, so that a crash
  // leaves the old file or the new one, never a part of the new one.
  const bool bSynced = FlushFileBuffers(AsHandle(m_hTemp)) != 0;
  const bool bClosed = CloseHandle(AsHandle(m_hTemp)) != 0;
  m_hTemp = -1;
  if (m_hLock != -1) CloseHandle(AsHandle(m_hLock));  // Windows replaces no file held open
  m_hLock = -1;
  // Visible like any result file once it has the destination's name.
  if (!bSynced || !bClosed || !SetFileAttributesA(m_strTempPath.c_str(), FILE_ATTRIBUTE_NORMAL) ||
      !MoveFileExA(m_strTempPath.c_str(), m_strPath.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Abandon();
    return false;
  }
  m_strTempPath.clear();
  UnregisterTempPath(m_nTempSlot);
  m_nTempSlot = -1;
  Abandon();  // nothing left to abandon but the claim on the path
  return true;
}

void CAtomicFile::Abandon() {
  if (m_hTemp != -1) CloseHandle(AsHandle(m_hTemp));
  m_hTemp = -1;
  if (!m_strTempPath.empty()) DeleteFileA(m_strTempPath.c_str());
  m_strTempPath.clear();
  UnregisterTempPath(m_nTempSlot);
  m_nTempSlot = -1;
  if (m_hLock != -1) CloseHandle(AsHandle(m_hLock));
  m_hLock = -1;
  if (!m_strPath.empty()) ReleasePath(m_strPath);
  m_strPath.clear();
}
