#include "tests/TestSupport.h"

#include <windows.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <stdexcept>

CTempDir::CTempDir() {
  static std::atomic<unsigned> nCounter{0};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int nTry = 0; nTry < 100; ++nTry) {
    const std::filesystem::path path =
        base / ("mibscan-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount64()) + "-" + std::to_string(nCounter.fetch_add(1)));
    if (CreateDirectoryA(path.string().c_str(), nullptr)) {
      m_path = path;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

// Mounting a small file system is Linux's; the tests of a full disk skip.
CSmallTmpfs::CSmallTmpfs(size_t /*nBytes*/) {}

CSmallTmpfs::~CSmallTmpfs() = default;

CScopedLocale::CScopedLocale(const char* szName) {
  m_strPrevious = setlocale(LC_ALL, nullptr);
  // The C runtime of Windows names locales by their code page.
  const char* szWindowsName = std::strstr(szName, "SJIS") != nullptr ? ".932" : szName;
  m_bActive = setlocale(LC_ALL, szWindowsName) != nullptr;
}

CForeignWriterLock::CForeignWriterLock(const std::string& strPath) {
  const HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return;
  m_hFile = reinterpret_cast<intptr_t>(hFile);
  // The byte the writers lock, far past the end of the file
  // (AtomicFile_win32.cpp).
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFFF;
  m_bHeld = LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

CForeignWriterLock::~CForeignWriterLock() {
  if (m_hFile != -1) CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
}

void SetEnvironment(const char* szName, const char* szValue) {
  // An empty value removes the variable in the C runtime of Windows.
  (void)_putenv_s(szName, szValue != nullptr ? szValue : "");
}

const bool c_bWindows = true;

bool IsSuperUser() { return false; }
