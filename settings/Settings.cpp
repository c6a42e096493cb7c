#include "settings/Settings.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "platform/FileOps.h"
#include "platform/IniFile.h"
#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"
#include "util/MbString.h"
#include "settings/AddressBlock.h"
#include "settings/Secrets.h"

std::string g_strBaseDir = "/tmp";
std::string g_strLogDir = "./log";
std::string g_strLogFile = "log.txt";
std::string g_strStartOid;
bool g_bConfigSecretsExposed = false;
bool g_bLog = false;
bool g_bReport = false;
bool g_bSystemMib = true;
bool g_bLogDirect = false;

bool SplitBaseDir(std::string_view strExePath, std::string* pstrBaseDir) {
  const size_t nSlash = MbReverseFind(strExePath, PathSeparator());
  if (nSlash == std::string_view::npos) return false;
  pstrBaseDir->assign(strExePath.substr(0, nSlash));
  return true;
}

std::string MakeLogDirPath(const std::string& strBaseDir) { return JoinPath(strBaseDir, "log"); }

std::string MakeConfigPath(const std::string& strBaseDir) { return JoinPath(strBaseDir, "config.ini"); }

namespace {

constexpr char c_szTargetSectionPrefix[] = "Target ";

// Every key config.ini may set, and those read as numbers.
constexpr const char* c_arrKnownKeys[] = {
    c_szKeyTimeout,      c_szKeyRetry,        c_szKeyLog,          c_szKeyCommunity, c_szKeyPort,
    c_szKeyCharset,      c_szKeyVersion,      c_szKeyMaxRepetitions, c_szKeyWindow,  c_szKeyUser,
    c_szKeyAuthProtocol, c_szKeyAuthPassword, c_szKeyPrivProtocol, c_szKeyPrivPassword, c_szKeyContext,
    c_szKeyAdaptiveTimeout, c_szKeyAnyReplyAddress, c_szKeyFormat, c_szKeyReport, c_szKeyWalk,
    c_szKeyExclude,      c_szKeyMaxObjects,   c_szKeyMaxSeconds};
constexpr const char* c_arrNumberKeys[] = {c_szKeyTimeout, c_szKeyRetry,          c_szKeyLog,   c_szKeyPort,
                                           c_szKeyVersion, c_szKeyMaxRepetitions, c_szKeyWindow,
                                           c_szKeyAdaptiveTimeout, c_szKeyAnyReplyAddress, c_szKeyReport,
                                           c_szKeyMaxObjects, c_szKeyMaxSeconds};
// The keys a credential list numbers.
constexpr const char* c_arrCredentialKeys[] = {c_szKeyCommunity,    c_szKeyUser,         c_szKeyAuthProtocol,
                                               c_szKeyAuthPassword, c_szKeyPrivProtocol, c_szKeyPrivPassword,
                                               c_szKeyContext};

// The number of strKey as an entry of a credential list of szBase
// ("Community3": 3); 0 when it is no such key.
int CredentialNumber(std::string_view strKey, std::string_view strBase) {
  if (strKey.size() <= strBase.size() || !EqualsNoCase(strKey.substr(0, strBase.size()), strBase)) return 0;
  const std::string_view digits = strKey.substr(strBase.size());
  if (digits.size() > 2 || digits[0] == '0' || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return 0;
  const int nNumber = std::stoi(std::string(digits));
  return nNumber >= 2 && nNumber <= c_nMaxCredentials ? nNumber : 0;
}

// szKey, or with nNumber above 1 szKey and that number.
std::string NumberedKey(const char* szKey, int nNumber) {
  return nNumber > 1 ? std::string(szKey) + std::to_string(nNumber) : std::string(szKey);
}

// The entries of a comma-separated list, blanks around each trimmed,
// empty ones left out.
std::vector<std::string> SplitList(std::string_view strList) {
  std::vector<std::string> arrEntries;
  while (!strList.empty()) {
    const size_t nComma = strList.find(',');
    std::string strEntry = MbTrim(strList.substr(0, nComma));
    if (!strEntry.empty()) arrEntries.push_back(std::move(strEntry));
    if (nComma == std::string_view::npos) break;
    strList.remove_prefix(nComma + 1);
  }
  return arrEntries;
}

// Edits (insert, delete, replace one character, ignoring case) from a to b.
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> arrRow(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) arrRow[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t nDiagonal = arrRow[0];
    arrRow[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t nAbove = arrRow[j];
      arrRow[j] = std::min({arrRow[j] + 1, arrRow[j - 1] + 1, nDiagonal + (AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]) ? 0 : 1)});
      nDiagonal = nAbove;
    }
  }
  return arrRow[b.size()];
}

// A whole integer as the profile functions read one: blanks, a sign, then
// decimal digits, or hexadecimal, octal or binary ones after "0x", "0o"
// or "0b", and nothing after them.
bool IsWholeNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  std::string_view digits = "0123456789";
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o' || text[1] == 'b')) {
    digits = text[1] == 'x' ? "0123456789abcdefABCDEF" : text[1] == 'o' ? "01234567" : "01";
    text.remove_prefix(2);
  }
  return !text.empty() && text.find_first_not_of(digits) == std::string_view::npos;
}

// The secrets that "env:" and "file:" values of each section stand for,
// by section (in lower case) and key.
using CSecretMap = std::map<std::pair<std::string, std::string>, std::string>;

std::pair<std::string, std::string> SecretPlace(std::string_view strSection, std::string_view strKey) {
  std::string strLowerSection(strSection);
  for (char& ch : strLowerSection) ch = AsciiLower(ch);
  std::string strLowerKey(strKey);
  for (char& ch : strLowerKey) ch = AsciiLower(ch);
  return {std::move(strLowerSection), std::move(strLowerKey)};
}

// The keys whose values are secrets, and each entry of their lists.
constexpr const char* c_arrSecretKeys[] = {c_szKeyCommunity, c_szKeyAuthPassword, c_szKeyPrivPassword};
bool IsSecretKey(std::string_view strKey) {
  return std::any_of(std::begin(c_arrSecretKeys), std::end(c_arrSecretKeys), [&](const char* szKey) {
    return EqualsNoCase(strKey, szKey) || CredentialNumber(strKey, szKey) != 0;
  });
}

// Where each key of one target is read: the first of its matching
// sections that sets the key, else [Config]; a secret named elsewhere is
// the one Load read.
class CKeySource {
 public:
  CKeySource(const CIniFile& ini, const std::vector<const std::string*>& arrSections, const CSecretMap& mapSecrets)
      : m_ini(ini), m_arrSections(arrSections), m_mapSecrets(mapSecrets) {}

  int GetInt(const char* szKey, int nDefault) const { return m_ini.GetInt(Section(szKey), szKey, nDefault); }
  // Whether a matching section or [Config] sets szKey.
  bool Has(const char* szKey) const { return m_ini.HasKey(Section(szKey), szKey); }
  std::string GetString(const char* szKey, const char* szDefault) const {
    const char* szSection = Section(szKey);
    if (!m_mapSecrets.empty()) {
      const auto it = m_mapSecrets.find(SecretPlace(szSection, szKey));
      if (it != m_mapSecrets.end()) return it->second;
    }
    return m_ini.GetString(szSection, szKey, szDefault, c_nMaxCommunity);
  }

 private:
  const char* Section(const char* szKey) const {
    for (const std::string* pSection : m_arrSections) {
      if (m_ini.HasKey(pSection->c_str(), szKey)) return pSection->c_str();
    }
    return c_szConfigSection;
  }

  const CIniFile& m_ini;
  const std::vector<const std::string*>& m_arrSections;
  const CSecretMap& m_mapSecrets;
};

// The SNMPv3 keys of entry nNumber of a user list (1: the keys without a
// number; a key not set for its number is the unnumbered one), and
// whether they can work: a known protocol, privacy only with
// authentication, passwords of 8 characters or more, a user. Into
// *pSecurity; SNMP_MGR_ERROR_SETTINGS when they cannot work, else 0.
uint32_t ReadV3Security(const CKeySource& keys, int nNumber, CSnmpV3Security* pSecurity) {
  const auto get = [&](const char* szKey) {
    const std::string strKey = NumberedKey(szKey, nNumber);
    return keys.GetString(keys.Has(strKey.c_str()) ? strKey.c_str() : szKey, "");
  };
  CSnmpV3Security security;
  security.strUser = get(c_szKeyUser);
  security.strAuthPassword = get(c_szKeyAuthPassword);
  security.strPrivPassword = get(c_szKeyPrivPassword);
  security.strContext = get(c_szKeyContext);
  const bool bProtocolsKnown = ParseAuthProtocol(get(c_szKeyAuthProtocol), &security.auth) &&
                               ParsePrivProtocol(get(c_szKeyPrivProtocol), &security.priv);
  const bool bWorks =
      bProtocolsKnown && !security.strUser.empty() && security.strUser.size() <= c_nMaxUserName &&
      (security.priv == EPrivProtocol::None || security.auth != EAuthProtocol::None) &&
      (security.auth == EAuthProtocol::None || security.strAuthPassword.size() >= c_nMinPassword) &&
      (security.priv == EPrivProtocol::None || security.strPrivPassword.size() >= c_nMinPassword);
  *pSecurity = std::move(security);
  return bWorks ? 0 : SNMP_MGR_ERROR_SETTINGS;
}

void ReadV3Settings(const CKeySource& keys, CTargetSettings* pSettings) {
  const uint32_t uError = ReadV3Security(keys, 1, &pSettings->v3Security);
  pSettings->uV3SettingsError = pSettings->nVersion == 3 ? uError : 0;
}

// The further entries of a credential list: "Community<N>" for SNMPv1 and
// SNMPv2c, "User<N>" and its keys for SNMPv3.
void ReadCredentialList(const CKeySource& keys, CTargetSettings* pSettings) {
  for (int nNumber = 2; nNumber <= c_nMaxCredentials; ++nNumber) {
    CTargetSettings::CCredential credential;
    credential.nNumber = nNumber;
    if (pSettings->nVersion == 3) {
      if (!keys.Has(NumberedKey(c_szKeyUser, nNumber).c_str())) continue;
      credential.uV3SettingsError = ReadV3Security(keys, nNumber, &credential.v3Security);
    } else {
      const std::string strKey = NumberedKey(c_szKeyCommunity, nNumber);
      if (!keys.Has(strKey.c_str())) continue;
      credential.strCommunity = keys.GetString(strKey.c_str(), "");
    }
    pSettings->arrMoreCredentials.push_back(std::move(credential));
  }
}

// The subtrees of an "Exclude" list that parse.
std::vector<AsnObjectIdentifier> ParseSubtrees(const std::vector<std::string>& arrTexts) {
  std::vector<AsnObjectIdentifier> arrOids;
  for (const std::string& strText : arrTexts) {
    AsnObjectIdentifier oid;
    if (SnmpMgrStrToOid(strText, &oid)) arrOids.push_back(std::move(oid));
  }
  return arrOids;
}

CTargetSettings ReadTargetSettings(const CKeySource& keys) {
  CTargetSettings settings;
  settings.nTimeout = keys.GetInt(c_szKeyTimeout, c_nDefaultTimeout);
  settings.nRetry = keys.GetInt(c_szKeyRetry, c_nDefaultRetry);
  settings.strCommunity = keys.GetString(c_szKeyCommunity, c_szDefaultCommunity);
  const int32_t nPort = keys.GetInt(c_szKeyPort, c_nDefaultPort);
  settings.nPort = (nPort >= 1 && nPort <= 65535) ? nPort : c_nDefaultPort;
  settings.strCharset = keys.GetString(c_szKeyCharset, "");
  const int32_t nVersion = keys.GetInt(c_szKeyVersion, c_nDefaultVersion);
  settings.nVersion = (nVersion == 2 || nVersion == 3) ? nVersion : 1;
  settings.nMaxRepetitions =
      std::clamp(keys.GetInt(c_szKeyMaxRepetitions, c_nDefaultMaxRepetitions), 0, c_nMaxMaxRepetitions);
  settings.nWindow = std::clamp(keys.GetInt(c_szKeyWindow, c_nDefaultWindow), 1, c_nMaxWindow);
  settings.bAdaptiveTimeout = keys.GetInt(c_szKeyAdaptiveTimeout, 0) == 1;
  settings.bAnyReplyAddress = keys.GetInt(c_szKeyAnyReplyAddress, 0) == 1;
  // A list that names no format keeps the XML file alone (CheckKeys warns).
  std::string strBad;
  if (!ParseFormatList(keys.GetString(c_szKeyFormat, "xml"), &settings.uFormats, &strBad))
    settings.uFormats = c_uFormatXml;
  ReadV3Settings(keys, &settings);
  ReadCredentialList(keys, &settings);
  settings.arrWalk = SplitList(keys.GetString(c_szKeyWalk, ""));
  settings.arrExclude = ParseSubtrees(SplitList(keys.GetString(c_szKeyExclude, "")));
  settings.nMaxObjects = std::max(0, keys.GetInt(c_szKeyMaxObjects, 0));
  settings.nMaxSeconds = std::max(0, keys.GetInt(c_szKeyMaxSeconds, 0));
  return settings;
}

// "*" any run of characters, "?" any one; ASCII letters in either case.
bool GlobMatches(std::string_view pattern, std::string_view text) {
  size_t nPattern = 0;
  size_t nText = 0;
  size_t nStar = std::string_view::npos;  // the last "*" seen, and where its run ends so far
  size_t nStarText = 0;
  while (nText < text.size()) {
    if (nPattern < pattern.size() && pattern[nPattern] == '*') {
      nStar = nPattern++;
      nStarText = nText;
    } else if (nPattern < pattern.size() && (pattern[nPattern] == '?' || AsciiLower(pattern[nPattern]) == AsciiLower(text[nText]))) {
      ++nPattern;
      ++nText;
    } else if (nStar != std::string_view::npos) {
      nPattern = nStar + 1;
      nText = ++nStarText;
    } else {
      return false;
    }
  }
  while (nPattern < pattern.size() && pattern[nPattern] == '*') ++nPattern;
  return nPattern == pattern.size();
}

// A [Target] section's pattern, read once: a CIDR block, or a text that
// matches as itself or as a glob.
class CTargetPattern {
 public:
  explicit CTargetPattern(std::string strText) : m_strText(std::move(strText)) {
    m_bBlock = m_strText.find('/') != std::string::npos;
    // A pattern with "/" that is no CIDR block matches nothing but itself.
    m_bValidBlock = m_bBlock && ParseAddressBlock(m_strText, &m_block) && m_block.nPrefix >= 0;
  }
  // pAddress: strTarget as an address, or null when it is none.
  bool Matches(std::string_view strTarget, const CIpAddress* pAddress) const {
    if (m_strText == strTarget) return true;
    if (m_bBlock) return m_bValidBlock && pAddress != nullptr && BlockContains(m_block, *pAddress);
    return GlobMatches(m_strText, strTarget);
  }

 private:
  std::string m_strText;
  bool m_bBlock = false;
  bool m_bValidBlock = false;
  CAddressBlock m_block;
};

}  // namespace

bool TargetMatches(std::string_view strPattern, std::string_view strTarget) {
  CIpAddress address;
  const bool bAddress = ParseIpAddress(strTarget, &address);
  return CTargetPattern(std::string(strPattern)).Matches(strTarget, bAddress ? &address : nullptr);
}

struct CConfig::CImpl {
  CIniFile ini;
  // The [Target] sections in file order: name, pattern.
  std::vector<std::pair<std::string, CTargetPattern>> arrTargetSections;
  // Settings resolved so far, by the indexes of the sections that matched.
  mutable std::map<std::vector<size_t>, std::shared_ptr<const CTargetSettings>> mapResolved;
  uint32_t uFormatsOverride = 0;
  CSecretMap mapSecrets;

  // The settings of a target that the sections arrMatching match.
  std::shared_ptr<const CTargetSettings> Resolve(std::vector<size_t> arrMatching) const {
    auto it = mapResolved.find(arrMatching);
    if (it != mapResolved.end()) return it->second;
    std::vector<const std::string*> arrSections;
    for (const size_t i : arrMatching) arrSections.push_back(&arrTargetSections[i].first);
    CTargetSettings settings = ReadTargetSettings(CKeySource(ini, arrSections, mapSecrets));
    if (uFormatsOverride != 0) settings.uFormats = uFormatsOverride;
    for (const std::string* pSection : arrSections)
      settings.arrSections.push_back(MbTrim(std::string_view(*pSection).substr(std::string_view(c_szTargetSectionPrefix).size())));
    auto pSettings = std::make_shared<const CTargetSettings>(std::move(settings));
    mapResolved.emplace(std::move(arrMatching), pSettings);
    return pSettings;
  }
};

CConfig::CConfig() : m_pImpl(std::make_unique<CImpl>()) {}

CConfig::~CConfig() = default;

bool CConfig::Load(const std::string& strIniPath) {
  CImpl& impl = *m_pImpl;
  impl.arrTargetSections.clear();
  impl.mapResolved.clear();
  impl.mapSecrets.clear();
  m_arrWarnings.clear();
  m_arrErrors.clear();
  // A missing or unreadable file is no error here: every key takes its
  // default.
  const bool bLoaded = impl.ini.Load(strIniPath);
  g_bLog = impl.ini.GetInt(c_szConfigSection, c_szKeyLog, c_nDefaultLog) == 1;
  g_bReport = impl.ini.GetInt(c_szConfigSection, c_szKeyReport, 0) == 1;
  bool bSecrets = false;
  for (std::string& strSection : impl.ini.SectionNames()) {
    const std::string_view prefix = c_szTargetSectionPrefix;
    const bool bTarget = strSection.size() > prefix.size() &&
                         EqualsNoCase(std::string_view(strSection).substr(0, prefix.size()), prefix);
    if (!bTarget && !EqualsNoCase(strSection, c_szConfigSection)) continue;
    CheckKeys(strIniPath, strSection);
    for (const std::string& strKey : impl.ini.KeyNames(strSection.c_str())) {
      if (!IsSecretKey(strKey)) continue;
      const char* szKey = strKey.c_str();
      const std::string strValue = impl.ini.GetString(strSection.c_str(), szKey, "", c_nMaxCommunity);
      if (!IsSecretReference(strValue)) {
        // A password written in the file itself.
        const bool bCommunity = EqualsNoCase(strKey, c_szKeyCommunity) || CredentialNumber(strKey, c_szKeyCommunity) != 0;
        bSecrets = bSecrets || (!bCommunity && !strValue.empty());
        continue;
      }
      CSecretSource source;
      std::string strWhy;
      if (!ResolveSecret(strValue, strIniPath, &source, &strWhy)) {
        m_arrErrors.push_back(strIniPath + ": [" + strSection + "] " + szKey + ": " + strWhy);
        continue;
      }
      if (!source.strFile.empty() && IsReadableByOthers(source.strFile))
        m_arrWarnings.push_back(source.strFile + " holds a password that others can read (chmod 600 it)");
      impl.mapSecrets[SecretPlace(strSection, szKey)] = std::move(source.strSecret);
    }
    if (!bTarget) continue;
    std::string strPattern = MbTrim(std::string_view(strSection).substr(prefix.size()));
    if (!strPattern.empty())
      impl.arrTargetSections.emplace_back(std::move(strSection), CTargetPattern(std::move(strPattern)));
  }
  g_bConfigSecretsExposed = bSecrets && IsReadableByOthers(strIniPath);
  return bLoaded;
}

void CConfig::CheckKeys(const std::string& strIniPath, const std::string& strSection) {
  const CIniFile& ini = m_pImpl->ini;
  for (const std::string& strKey : ini.KeyNames(strSection.c_str())) {
    const std::string strWhere = strIniPath + ": [" + strSection + "] ";
    const auto itKnown = std::find_if(std::begin(c_arrKnownKeys), std::end(c_arrKnownKeys),
                                      [&](const char* szKey) { return EqualsNoCase(strKey, szKey); });
    const bool bListEntry = std::any_of(std::begin(c_arrCredentialKeys), std::end(c_arrCredentialKeys),
                                        [&](const char* szKey) { return CredentialNumber(strKey, szKey) != 0; });
    if (bListEntry) continue;
    if (itKnown == std::end(c_arrKnownKeys)) {
      std::string strWarning = strWhere + "unknown key " + strKey;
      const auto itClose = std::min_element(std::begin(c_arrKnownKeys), std::end(c_arrKnownKeys),
                                            [&](const char* szA, const char* szB) {
                                              return EditDistance(strKey, szA) < EditDistance(strKey, szB);
                                            });
      if (EditDistance(strKey, *itClose) <= 2) strWarning += std::string(" (did you mean ") + *itClose + "?)";
      m_arrWarnings.push_back(std::move(strWarning));
      continue;
    }
    if (EqualsNoCase(strKey, c_szKeyFormat)) {
      const std::string strValue = ini.GetString(strSection.c_str(), strKey.c_str(), "", c_nMaxCommunity);
      uint32_t uFormats = 0;
      std::string strBad;
      if (!ParseFormatList(strValue, &uFormats, &strBad))
        m_arrWarnings.push_back(strWhere + strKey + "=" + strValue + ": no format \"" + strBad +
                                "\" (xml, snmprec, walk); the XML file alone is written");
      continue;
    }
    if (EqualsNoCase(strKey, c_szKeyWalk) || EqualsNoCase(strKey, c_szKeyExclude)) {
      CheckSubtrees(strWhere + strKey, ini.GetString(strSection.c_str(), strKey.c_str(), "", c_nMaxCommunity));
      continue;
    }
    const bool bNumber = std::any_of(std::begin(c_arrNumberKeys), std::end(c_arrNumberKeys),
                                     [&](const char* szKey) { return EqualsNoCase(strKey, szKey); });
    if (!bNumber) continue;
    const std::string strValue = ini.GetString(strSection.c_str(), strKey.c_str(), "", c_nMaxCommunity);
    if (!strValue.empty() && !IsWholeNumber(strValue)) {
      m_arrWarnings.push_back(strWhere + strKey + "=" + strValue + " is not a number (read as " +
                              std::to_string(ini.GetInt(strSection.c_str(), strKey.c_str(), 0)) + ")");
    }
  }
}

void CConfig::CheckSubtrees(const std::string& strWhere, const std::string& strList) {
  for (const std::string& strEntry : SplitList(strList)) {
    AsnObjectIdentifier oid;
    if (!SnmpMgrStrToOid(strEntry, &oid)) {
      m_arrWarnings.push_back(strWhere + ": " + strEntry + " is no OID");
    } else if (strEntry.starts_with("1.3.6.1.")) {
      // Read below mib-2, as the oid form reads it: most likely meant from the root.
      m_arrWarnings.push_back(strWhere + ": " + strEntry + " is read below mib-2 (." + OidToText(oid) +
                              "); from the root it is ." + strEntry);
    }
  }
}

std::shared_ptr<const CTargetSettings> CConfig::ForTarget(const std::string& strTarget) const {
  const CImpl& impl = *m_pImpl;
  CIpAddress address;
  const CIpAddress* pAddress = ParseIpAddress(strTarget, &address) ? &address : nullptr;
  std::vector<size_t> arrMatching;
  for (size_t i = 0; i < impl.arrTargetSections.size(); ++i) {
    if (impl.arrTargetSections[i].second.Matches(strTarget, pAddress)) arrMatching.push_back(i);
  }
  return impl.Resolve(std::move(arrMatching));
}

void CConfig::OverrideFormats(uint32_t uFormats) {
  m_pImpl->uFormatsOverride = uFormats;
  m_pImpl->mapResolved.clear();
}

std::shared_ptr<const CTargetSettings> CConfig::Unmatched() const { return m_pImpl->Resolve({}); }

CTargetSettings ReadSettings(const std::string& strIniPath) {
  CConfig config;
  (void)config.Load(strIniPath);
  return *config.Unmatched();
}
