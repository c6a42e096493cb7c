#include "tests/TestSupport.h"

#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <string_view>
#include <fstream>
#include <sstream>
#include <stdexcept>

CTempDir::CTempDir() {
  std::string strTemplate = (std::filesystem::temp_directory_path() / "mibscan-test-XXXXXX").string();
  if (mkdtemp(strTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = strTemplate;
}

CTempDir::~CTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string CTempDir::WriteFile(const std::string& strName, const std::string& strText) const {
  const std::filesystem::path path = m_path / strName;
  std::ofstream out(path, std::ios::binary);
  out << strText;
  return path.string();
}

CSmallTmpfs::CSmallTmpfs(size_t nBytes) {
  const std::string strOptions = "size=" + std::to_string(nBytes) + ",mode=0777";
  m_bMounted = geteuid() == 0 &&
               mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, strOptions.c_str()) == 0;
}

CSmallTmpfs::~CSmallTmpfs() {
  if (m_bMounted) umount2(m_dir.Path().c_str(), MNT_DETACH);
}

std::string DecodeBase64(const std::string& strText) {
  constexpr std::string_view c_strAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string strBytes;
  uint32_t uBits = 0;
  int nBits = 0;
  for (char ch : strText) {
    if (ch == '\r' || ch == '\n') continue;
    const size_t nValue = c_strAlphabet.find(ch);
    if (nValue == std::string_view::npos) break;
    uBits = (uBits << 6) | static_cast<uint32_t>(nValue);
    nBits += 6;
    if (nBits >= 8) {
      nBits -= 8;
      strBytes.push_back(static_cast<char>((uBits >> nBits) & 0xFF));
    }
  }
  return strBytes;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
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

CScopedLocale::~CScopedLocale() { setlocale(LC_ALL, m_strPrevious.c_str()); }
