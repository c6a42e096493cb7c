#include "driver/Settings.h"

#include <algorithm>

#include "platform/IniFile.h"
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
bool g_bLog = false;
bool g_bSystemMib = true;
bool g_bLogDirect = false;

bool SplitBaseDir(std::string_view strExePath, std::string* pstrBaseDir) {
  const size_t nSlash = MbReverseFind(strExePath, '/');
  if (nSlash == std::string_view::npos) return false;
  pstrBaseDir->assign(strExePath.substr(0, nSlash));
  return true;
}

std::string MakeLogDirPath(const std::string& strBaseDir) { return strBaseDir + "/log"; }

std::string MakeConfigPath(const std::string& strBaseDir) { return strBaseDir + "/config.ini"; }

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
  g_nVersion = ini.GetInt(c_szConfigSection, c_szKeyVersion, c_nDefaultVersion) == 2 ? 2 : 1;
  const int32_t nRepetitions =
      ini.GetInt(c_szConfigSection, c_szKeyMaxRepetitions, c_nDefaultMaxRepetitions);
  g_nMaxRepetitions = std::clamp(nRepetitions, 0, c_nMaxMaxRepetitions);
}
