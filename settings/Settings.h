// The program's settings: process-wide globals with their initial values,
// the paths derived from the executable's location, and config.ini.
//
// Thread use: every setting is written by the main thread before the first
// worker thread exists (the command line, then the scan's start-up) and is
// read-only from then on, so no lock guards them.
#ifndef MIBSCAN_SETTINGS_SETTINGS_H_
#define MIBSCAN_SETTINGS_SETTINGS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "snmp/UsmUser.h"

// Directory that holds the executable, without a trailing "/". The initial
// value is replaced before anything uses it.
extern std::string g_strBaseDir;
// "<g_strBaseDir>/log".
extern std::string g_strLogDir;
// File name of the live log inside g_strLogDir; never changed.
extern std::string g_strLogFile;
// Community of every SNMP session (config.ini "Community").
extern std::string g_strCommunity;
// OID of the single-OID command-line form, exactly as typed; empty otherwise.
extern std::string g_strStartOid;
// Time-out of every SNMP request in milliseconds (config.ini "Timeout").
extern int32_t g_nTimeout;
// Re-sends of an unanswered SNMP request (config.ini "Retry").
extern int32_t g_nRetry;
// UDP port of every agent (config.ini "Port").
extern int32_t g_nPort;
// SNMP version of every session (config.ini "Version"): 1 (SNMPv1), 2
// (SNMPv2c) or 3 (SNMPv3 with the User-based Security Model).
extern int32_t g_nVersion;
// SNMPv3: the user and its security (config.ini "User", "AuthProtocol",
// "AuthPassword", "PrivProtocol", "PrivPassword", "Context").
extern CSnmpV3Security g_v3Security;
// SNMPv3: 0 when those settings can work; SNMP_MGR_ERROR_SETTINGS when
// they cannot (every target then fails with that code, sending nothing).
extern uint32_t g_uV3SettingsError;
// True when config.ini holds a password and users other than its owner
// may read it.
extern bool g_bConfigSecretsExposed;
// With version 2: 0 walks with GET-NEXT; N >= 1 walks with GETBULK asking
// for N objects per request (config.ini "MaxRepetitions").
extern int32_t g_nMaxRepetitions;
// Requests one target's walk keeps in flight at most (config.ini
// "Window"): 1 walks one request at a time; 2 to c_nMaxWindow split the
// walk into lanes that run at once.
extern int32_t g_nWindow;
// Code set of the agents' text, for the result files (config.ini "Charset");
// empty: the locale's.
extern std::string g_strCharset;
// True exactly when config.ini "Log" is 1.
extern bool g_bLog;
// False after the one-argument command-line form: walks then start at the
// enterprises node instead of the system group.
extern bool g_bSystemMib;
// True when the scan has exactly one target: log lines are then written by
// the thread that logs them.
extern bool g_bLogDirect;

// config.ini: section, keys and their defaults.
constexpr char c_szConfigSection[] = "Config";
constexpr char c_szKeyTimeout[] = "Timeout";
constexpr char c_szKeyRetry[] = "Retry";
constexpr char c_szKeyLog[] = "Log";
constexpr char c_szKeyCommunity[] = "Community";
constexpr char c_szKeyPort[] = "Port";
constexpr char c_szKeyCharset[] = "Charset";
constexpr char c_szKeyVersion[] = "Version";
constexpr char c_szKeyMaxRepetitions[] = "MaxRepetitions";
constexpr char c_szKeyWindow[] = "Window";
constexpr char c_szKeyUser[] = "User";
constexpr char c_szKeyAuthProtocol[] = "AuthProtocol";
constexpr char c_szKeyAuthPassword[] = "AuthPassword";
constexpr char c_szKeyPrivProtocol[] = "PrivProtocol";
constexpr char c_szKeyPrivPassword[] = "PrivPassword";
constexpr char c_szKeyContext[] = "Context";
// Shortest password USM accepts (RFC 3414 11.2), longest user name.
constexpr size_t c_nMinPassword = 8;
constexpr size_t c_nMaxUserName = 32;
constexpr int32_t c_nDefaultVersion = 1;
constexpr int32_t c_nDefaultMaxRepetitions = 10;
// Most objects a GETBULK asks for; a larger setting is cut to this. An
// answer of that many still fits the datagrams of common agents.
constexpr int32_t c_nMaxMaxRepetitions = 100;
constexpr int32_t c_nDefaultWindow = 1;
constexpr int32_t c_nMaxWindow = 64;
constexpr int32_t c_nDefaultTimeout = 500;
constexpr int32_t c_nDefaultRetry = 3;
constexpr int32_t c_nDefaultLog = 0;
constexpr char c_szDefaultCommunity[] = "qzvtrk";
constexpr int32_t c_nDefaultPort = 161;
// Longest community kept, in bytes; a longer one is cut.
constexpr size_t c_nMaxCommunity = 1023;

// Stores in *pstrBaseDir the executable path cut before its last "/" (a
// multibyte-aware search). False, with *pstrBaseDir unchanged, when the
// path holds no "/".
[[nodiscard]] bool SplitBaseDir(std::string_view strExePath, std::string* pstrBaseDir);

// "<strBaseDir>/log" and "<strBaseDir>/config.ini".
[[nodiscard]] std::string MakeLogDirPath(const std::string& strBaseDir);
[[nodiscard]] std::string MakeConfigPath(const std::string& strBaseDir);

// Reads section "Config" of the INI file at strIniPath into g_nTimeout,
// g_nRetry, g_bLog, g_strCommunity, g_nPort, g_strCharset, g_nVersion and
// g_nMaxRepetitions and g_nWindow. A missing file, section or key gives
// the default. Ranges are not checked, except that a "Port" outside
// 1..65535 gives 161, a "Version" other than 2 or 3 gives 1,
// "MaxRepetitions" below 0 gives 0 and above c_nMaxMaxRepetitions gives
// that, and "Window" below 1 gives 1 and above c_nMaxWindow gives that. With "Version" 3 the
// SNMPv3 keys are read and checked (g_uV3SettingsError). Cannot fail.
void ReadSettings(const std::string& strIniPath);

#endif  // MIBSCAN_SETTINGS_SETTINGS_H_
