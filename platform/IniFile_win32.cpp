#include "platform/IniFile.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "util/MbString.h"

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

bool CIniFile::HasKey(const char* szSection, const char* szKey) const {
  if (m_pParser->strPath.empty()) return false;
  // A missing key gives the default back: two defaults no value can equal
  // both.
  return GetString(szSection, szKey, "\x01", 2) != "\x01" || GetString(szSection, szKey, "\x02", 2) != "\x02";
}

namespace {

// The names a profile function lists: texts ended by a NUL each, the list
// by one more, read into buffers that grow while a list fills one (it may
// have been cut). fnList(buffer, size) fills the buffer and gives the
// length. A name listed twice (a section or key written twice) counts once,
// as for the lookups.
template <typename FList>
std::vector<std::string> ListedNames(const FList& fnList) {
  std::vector<std::string> arrNames;
  for (DWORD nSize = 4096;; nSize *= 2) {
    std::vector<char> buffer(nSize);
    const DWORD nLen = fnList(buffer.data(), nSize);
    if (nLen + 2 < nSize || nSize >= (1u << 24)) {
      for (size_t nPos = 0; nPos < nLen && buffer[nPos] != '\0';) {
        const std::string strName(buffer.data() + nPos);
        nPos += strName.size() + 1;
        if (std::none_of(arrNames.begin(), arrNames.end(),
                         [&](const std::string& strSeen) { return EqualsNoCase(strSeen, strName); }))
          arrNames.push_back(strName);
      }
      return arrNames;
    }
  }
}

}  // namespace

std::vector<std::string> CIniFile::SectionNames() const {
  if (m_pParser->strPath.empty()) return {};
  const char* szPath = m_pParser->strPath.c_str();
  return ListedNames([&](char* pBuffer, DWORD nSize) { return GetPrivateProfileSectionNamesA(pBuffer, nSize, szPath); });
}

std::vector<std::string> CIniFile::KeyNames(const char* szSection) const {
  if (m_pParser->strPath.empty()) return {};
  const char* szPath = m_pParser->strPath.c_str();
  // A null key name asks for the section's key names.
  return ListedNames(
      [&](char* pBuffer, DWORD nSize) { return GetPrivateProfileStringA(szSection, nullptr, "", pBuffer, nSize, szPath); });
}
