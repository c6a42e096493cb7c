#include "settings/Settings.h"

#include <algorithm>

#include "platform/FileOps.h"
#include "platform/IniFile.h"
#include "platform/LastError.h"
#include "platform/MbString.h"

std::string g_strBaseDir = "/tmp";
std::string g_strLogDir = "./log";
std::string g_strLogFile = "log.txt";
std::string g_strCommunity;
std::string g_strStartOid;
int32_t g_nTimeout = c_nDefaultTimeout;
int32_t g_nRetry = c_nDefaultRetry;
int32_t g_nPort = c_nDefaultPort;
std::string g_strCharset;
int32_t g_nVersion = c_nDefaultVersion;
int32_t g_nMaxRepetitions = c_nDefaultMaxRepetitions;
int32_t g_nWindow = c_nDefaultWindow;
CSnmpV3Security g_v3Security;
uint32_t g_uV3SettingsError = 0;
bool g_bConfigSecretsExposed = false;
bool g_bLog = false;
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

// The SNMPv3 keys, and whether they can work: a known protocol, privacy
// only with authentication, passwords of 8 characters or more, a user.
void ReadV3Settings(const CIniFile& ini, const std::string& strIniPath) {
  CSnmpV3Security security;
  security.strUser = ini.GetString(c_szConfigSection, c_szKeyUser, "", c_nMaxCommunity);
  security.strAuthPassword = ini.GetString(c_szConfigSection, c_szKeyAuthPassword, "", c_nMaxCommunity);
  security.strPrivPassword = ini.GetString(c_szConfigSection, c_szKeyPrivPassword, "", c_nMaxCommunity);
  security.strContext = ini.GetString(c_szConfigSection, c_szKeyContext, "", c_nMaxCommunity);
  const bool bProtocolsKnown =
      ParseAuthProtocol(ini.GetString(c_szConfigSection, c_szKeyAuthProtocol, "", c_nMaxCommunity),
                        &security.auth) &&
      ParsePrivProtocol(ini.GetString(c_szConfigSection, c_szKeyPrivProtocol, "", c_nMaxCommunity),
                        &security.priv);
  const bool bWorks =
      bProtocolsKnown && !security.strUser.empty() && security.strUser.size() <= c_nMaxUserName &&
      (security.priv == EPrivProtocol::None || security.auth != EAuthProtocol::None) &&
      (security.auth == EAuthProtocol::None || security.strAuthPassword.size() >= c_nMinPassword) &&
      (security.priv == EPrivProtocol::None || security.strPrivPassword.size() >= c_nMinPassword);
  g_uV3SettingsError = g_nVersion == 3 && !bWorks ? SNMP_MGR_ERROR_SETTINGS : 0;
  g_bConfigSecretsExposed = (!security.strAuthPassword.empty() || !security.strPrivPassword.empty()) &&
                            IsReadableByOthers(strIniPath);
  g_v3Security = std::move(security);
}

}  // namespace

void ReadSettings(const std::string& strIniPath) {
  CIniFile ini;
  // A missing or unreadable file is no error: every key takes its default.
  (void)ini.Load(strIniPath);
  g_nTimeout = ini.GetInt(c_szConfigSection, c_szKeyTimeout, c_nDefaultTimeout);
  g_nRetry = ini.GetInt(c_szConfigSection, c_szKeyRetry, c_nDefaultRetry);
  g_bLog = ini.GetInt(c_szConfigSection, c_szKeyLog, c_nDefaultLog) == 1;
  g_strCommunity =
      ini.GetString(c_szConfigSection, c_szKeyCommunity, c_szDefaultCommunity, c_nMaxCommunity);
  const int32_t nPort = ini.GetInt(c_szConfigSection, c_szKeyPort, c_nDefaultPort);
  g_nPort = (nPort >= 1 && nPort <= 65535) ? nPort : c_nDefaultPort;
  g_strCharset = ini.GetString(c_szConfigSection, c_szKeyCharset, "", c_nMaxCommunity);
  const int32_t nVersion = ini.GetInt(c_szConfigSection, c_szKeyVersion, c_nDefaultVersion);
  g_nVersion = (nVersion == 2 || nVersion == 3) ? nVersion : 1;
  const int32_t nRepetitions =
      ini.GetInt(c_szConfigSection, c_szKeyMaxRepetitions, c_nDefaultMaxRepetitions);
  g_nMaxRepetitions = std::clamp(nRepetitions, 0, c_nMaxMaxRepetitions);
  g_nWindow = std::clamp(ini.GetInt(c_szConfigSection, c_szKeyWindow, c_nDefaultWindow), 1, c_nMaxWindow);
  ReadV3Settings(ini, strIniPath);
}
