#include "platform/IniFile.h"

// Debian's SimpleIni.h holds the template bodies behind this switch.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <cstdint>

#include "util/MbString.h"

namespace {

// Windows strips one pair of matching quotes around a profile value;
// operators write Community="public" and expect public.
std::string_view StripQuotes(std::string_view str) {
  if (str.size() >= 2 && (str.front() == '"' || str.front() == '\'') && str.back() == str.front())
    return str.substr(1, str.size() - 2);
  return str;
}

}  // namespace

struct SIniParser {
  // Not UTF-8 (values are bytes in the locale's code set), multi-key so that
  // the first of two equal keys can be found, no multi-line values.
  CSimpleIniA ini{/*a_bIsUtf8=*/false, /*a_bMultiKey=*/true, /*a_bMultiLine=*/false};
};

CIniFile::CIniFile() : m_pParser(std::make_unique<SIniParser>()) {}

CIniFile::~CIniFile() = default;

bool CIniFile::Load(const std::string& strPath) {
  m_pParser->ini.Reset();
  if (m_pParser->ini.LoadFile(strPath.c_str()) >= 0) return true;
  m_pParser->ini.Reset();
  return false;
}

const char* CIniFile::Find(const char* szSection, const char* szKey) const {
  CSimpleIniA::TNamesDepend values;
  if (!m_pParser->ini.GetAllValues(szSection, szKey, values) || values.empty()) return nullptr;
  values.sort(CSimpleIniA::Entry::LoadOrder());
  return values.front().pItem;
}

int CIniFile::GetInt(const char* szSection, const char* szKey, int nDefault) const {
  const char* szValue = Find(szSection, szKey);
  if (szValue == nullptr) return nDefault;
  return ParseProfileInt(StripQuotes(szValue), nDefault);
}

std::string CIniFile::GetString(const char* szSection, const char* szKey,
                                const std::string& strDefault, size_t nMaxBytes) const {
  const char* szValue = Find(szSection, szKey);
  return MbTruncate(szValue == nullptr ? std::string_view(strDefault) : StripQuotes(szValue),
                    nMaxBytes);
}

bool CIniFile::HasKey(const char* szSection, const char* szKey) const { return Find(szSection, szKey) != nullptr; }

std::vector<std::string> CIniFile::SectionNames() const {
  CSimpleIniA::TNamesDepend sections;
  m_pParser->ini.GetAllSections(sections);
  sections.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> arrNames;
  for (const CSimpleIniA::Entry& section : sections) arrNames.emplace_back(section.pItem);
  return arrNames;
}

std::vector<std::string> CIniFile::KeyNames(const char* szSection) const {
  CSimpleIniA::TNamesDepend keys;
  m_pParser->ini.GetAllKeys(szSection, keys);
  keys.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> arrNames;
  for (const CSimpleIniA::Entry& key : keys) {
    // Multi-key: a key written twice is listed twice.
    if (std::none_of(arrNames.begin(), arrNames.end(),
                     [&](const std::string& strSeen) { return EqualsNoCase(strSeen, key.pItem); }))
      arrNames.emplace_back(key.pItem);
  }
  return arrNames;
}
