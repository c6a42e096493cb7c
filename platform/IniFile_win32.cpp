#include "platform/IniFile.h"

#include <windows.h>

#include <vector>

#include "platform/MbString.h"

struct SIniParser {
  std::string strPath;  // empty when nothing is loaded
};

CIniFile::CIniFile() : m_pParser(std::make_unique<SIniParser>()) {}

CIniFile::~CIniFile() = default;

bool CIniFile::Load(const std::string& strPath) {
  // The profile functions read the file at every lookup; a relative name
  // would be looked for in the Windows folder, so the path is kept whole.
  m_pParser->strPath.clear();
  const DWORD uAttributes = GetFileAttributesA(strPath.c_str());
  if (uAttributes == INVALID_FILE_ATTRIBUTES || (uAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  m_pParser->strPath = strPath;
  return true;
}

int CIniFile::GetInt(const char* szSection, const char* szKey, int nDefault) const {
  if (m_pParser->strPath.empty()) return nDefault;
  return static_cast<int>(GetPrivateProfileIntA(szSection, szKey, nDefault, m_pParser->strPath.c_str()));
}

std::string CIniFile::GetString(const char* szSection, const char* szKey, const std::string& strDefault,
                                size_t nMaxBytes) const {
  if (m_pParser->strPath.empty()) return MbTruncate(strDefault, nMaxBytes);
  // A value that fills the buffer may have been cut: read it again with a
  // larger one.
  for (DWORD nSize = 1024;; nSize *= 2) {
    std::vector<char> buffer(nSize);
    const DWORD nLen = GetPrivateProfileStringA(szSection, szKey, strDefault.c_str(), buffer.data(), nSize,
                                                m_pParser->strPath.c_str());
    if (nLen + 1 < nSize || nSize >= (1u << 24))
      return MbTruncate(std::string_view(buffer.data(), nLen), nMaxBytes);
  }
}
