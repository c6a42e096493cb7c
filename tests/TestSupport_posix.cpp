#include "tests/TestSupport.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <clocale>
#include <stdexcept>

CTempDir::CTempDir() {
  std::string strTemplate = (std::filesystem::temp_directory_path() / "mibscan-test-XXXXXX").string();
  if (mkdtemp(strTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = strTemplate;
}

CSmallTmpfs::CSmallTmpfs(size_t nBytes) {
  const std::string strOptions = "size=" + std::to_string(nBytes) + ",mode=0777";
  m_bMounted = geteuid() == 0 &&
               mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, strOptions.c_str()) == 0;
}

CSmallTmpfs::~CSmallTmpfs() {
  if (m_bMounted) umount2(m_dir.Path().c_str(), MNT_DETACH);
}

CScopedLocale::CScopedLocale(const char* szName) {
  m_strPrevious = setlocale(LC_ALL, nullptr);
#ifdef MIBSCAN_TEST_LOCPATH
  // glibc reads LOCPATH at every setlocale() call; the previous locale is
  // restored by name, and "C" and "C.UTF-8" are built in, so keeping
  // LOCPATH set only for this call is enough.
  setenv("LOCPATH", MIBSCAN_TEST_LOCPATH, 1);
#endif
  m_bActive = setlocale(LC_ALL, szName) != nullptr;
  unsetenv("LOCPATH");
}

CForeignWriterLock::CForeignWriterLock(const std::string& strPath) {
  const int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (nFd < 0) return;
  m_hFile = nFd;
  m_bHeld = flock(nFd, LOCK_EX | LOCK_NB) == 0;
}

CForeignWriterLock::~CForeignWriterLock() {
  if (m_hFile >= 0) close(static_cast<int>(m_hFile));
}

void SetEnvironment(const char* szName, const char* szValue) {
  if (szValue != nullptr) setenv(szName, szValue, 1); else unsetenv(szName);
}

const bool c_bWindows = false;

bool IsSuperUser() { return geteuid() == 0; }
