// The program's settings: process-wide globals with their initial values,
// the paths derived from the executable's location, and config.ini.
//
// Thread use: every setting is written by the main thread before the first
// worker thread exists (the command line, then the scan's start-up) and is
// read-only from then on, so no lock guards them.
#ifndef MIBSCAN_SETTINGS_SETTINGS_H_
#define MIBSCAN_SETTINGS_SETTINGS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "snmp/Ber.h"
#include "snmp/SnmpDefaults.h"
#include "snmp/UsmUser.h"
#include "util/ResultFormats.h"

// Directory that holds the executable, without a trailing "/". The initial
// value is replaced before anything uses it.
extern std::string g_strBaseDir;
// "<g_strBaseDir>/log".
extern std::string g_strLogDir;
// File name of the live log inside g_strLogDir; never changed.
extern std::string g_strLogFile;
// OID of the single-OID forms (the described "oid" form, or --oid),
// exactly as typed; empty otherwise.
extern std::string g_strStartOid;
// True when config.ini holds a password, in any section, and users other
// than its owner may read it.
extern bool g_bConfigSecretsExposed;
// True exactly when config.ini "Log" is 1.
extern bool g_bLog;
// True exactly when config.ini "Report" is 1 ([Config] only): the scan's
// record is written at its end (--report).
extern bool g_bReport;
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
constexpr char c_szKeyAdaptiveTimeout[] = "AdaptiveTimeout";
constexpr char c_szKeyAnyReplyAddress[] = "AnyReplyAddress";
constexpr char c_szKeyUser[] = "User";
constexpr char c_szKeyAuthProtocol[] = "AuthProtocol";
constexpr char c_szKeyAuthPassword[] = "AuthPassword";
constexpr char c_szKeyPrivProtocol[] = "PrivProtocol";
constexpr char c_szKeyPrivPassword[] = "PrivPassword";
constexpr char c_szKeyContext[] = "Context";
constexpr char c_szKeyFormat[] = "Format";
constexpr char c_szKeyReport[] = "Report";
constexpr char c_szKeyWalk[] = "Walk";
constexpr char c_szKeyExclude[] = "Exclude";
constexpr char c_szKeyMaxObjects[] = "MaxObjects";
constexpr char c_szKeyMaxSeconds[] = "MaxSeconds";
// A credential list: the keys of its further entries are these keys with
// the entry's number, 2 to c_nMaxCredentials ("Community2", "User3").
constexpr int c_nMaxCredentials = 16;
// Shortest password USM accepts (RFC 3414 11.2), longest user name.
constexpr size_t c_nMinPassword = 8;
constexpr size_t c_nMaxUserName = 32;
constexpr int32_t c_nDefaultVersion = 1;
constexpr int32_t c_nDefaultMaxRepetitions = 10;
// Most objects a GETBULK asks for; a larger setting is cut to this. An
// answer of that many still fits the datagrams of common agents.
constexpr int32_t c_nMaxMaxRepetitions = 100;
constexpr int32_t c_nDefaultWindow = 1;
constexpr int32_t c_nMaxWindow = 256;
constexpr int32_t c_nDefaultTimeout = c_nDefaultTimeoutMs;
constexpr int32_t c_nDefaultRetry = 3;
constexpr int32_t c_nDefaultLog = 0;
constexpr char c_szDefaultCommunity[] = "qzvtrk";
constexpr int32_t c_nDefaultPort = c_nSnmpPort;
// Longest community kept, in bytes; a longer one is cut.
constexpr size_t c_nMaxCommunity = 1023;

// Stores in *pstrBaseDir the executable path cut before its last "/" (a
// multibyte-aware search). False, with *pstrBaseDir unchanged, when the
// path holds no "/".
[[nodiscard]] bool SplitBaseDir(std::string_view strExePath, std::string* pstrBaseDir);

// "<strBaseDir>/log" and "<strBaseDir>/config.ini".
[[nodiscard]] std::string MakeLogDirPath(const std::string& strBaseDir);
[[nodiscard]] std::string MakeConfigPath(const std::string& strBaseDir);

// The settings of one target's walk and result file. Each is a config.ini
// key: ReadSettings and CConfig::ForTarget fill them.
struct CTargetSettings {
  // Community of the SNMP session ("Community").
  std::string strCommunity = c_szDefaultCommunity;
  // Time-out of each request in milliseconds ("Timeout").
  int32_t nTimeout = c_nDefaultTimeout;
  // Re-sends of an unanswered request ("Retry").
  int32_t nRetry = c_nDefaultRetry;
  // UDP port of the agent ("Port").
  int32_t nPort = c_nDefaultPort;
  // SNMP version ("Version"): 1 (SNMPv1), 2 (SNMPv2c) or 3 (SNMPv3 with
  // the User-based Security Model).
  int32_t nVersion = c_nDefaultVersion;
  // With version 2 or 3: 0 walks with GET-NEXT; N >= 1 walks with GETBULK
  // asking for N objects per request ("MaxRepetitions").
  int32_t nMaxRepetitions = c_nDefaultMaxRepetitions;
  // Requests the walk keeps in flight at most ("Window"): 1 walks one
  // request at a time; 2 to c_nMaxWindow split the walk into lanes.
  int32_t nWindow = c_nDefaultWindow;
  // Tries wait what the agent's round trips show, "Timeout" until the
  // first answer ("AdaptiveTimeout" 1).
  bool bAdaptiveTimeout = false;
  // Answers are taken from any address of the device, not only the one
  // asked ("AnyReplyAddress" 1).
  bool bAnyReplyAddress = false;
  // SNMPv3: the user and its security ("User", "AuthProtocol",
  // "AuthPassword", "PrivProtocol", "PrivPassword", "Context").
  CSnmpV3Security v3Security;
  // SNMPv3: 0 when those settings can work; SNMP_MGR_ERROR_SETTINGS when
  // they cannot (the target then fails with that code, sending nothing).
  uint32_t uV3SettingsError = 0;
  // Code set of the agent's text, for the result file ("Charset"); empty:
  // the locale's.
  std::string strCharset;
  // The result files to write ("Format", a list of xml, snmprec, walk;
  // ResultFormats.h): bits of c_uFormat*.
  uint32_t uFormats = c_uFormatXml;
  // The subtrees to walk ("Walk", a comma-separated list of OIDs as the
  // oid form takes them), in the order given; empty: the walk the command
  // line asks for.
  std::vector<std::string> arrWalk;
  // The subtrees the walk steps over ("Exclude"), those that parse.
  std::vector<AsnObjectIdentifier> arrExclude;
  // Caps of one target's walks ("MaxObjects", "MaxSeconds"); 0: none.
  int64_t nMaxObjects = 0;
  int32_t nMaxSeconds = 0;
  // A credential list: the further entries, tried after the first (the
  // keys without a number) in the order of their numbers. SNMPv1 and
  // SNMPv2c: communities ("Community2", ...); SNMPv3: users ("User2", ...,
  // each of whose keys not set for its number is the unnumbered one's),
  // each with its settings error as uV3SettingsError. nNumber is the
  // entry's number in config.ini, which the console line and log name.
  struct CCredential {
    int nNumber = 0;
    std::string strCommunity;
    CSnmpV3Security v3Security;
    uint32_t uV3SettingsError = 0;
  };
  std::vector<CCredential> arrMoreCredentials;
  // The patterns of the [Target] sections that match the target, in file
  // order (empty: [Config] and the defaults alone). Not a key.
  std::vector<std::string> arrSections;
};

// config.ini as a whole: [Config], and sections "[Target <pattern>]" that
// set keys for the targets their pattern matches. A pattern is a target
// as written, an IPv4 or IPv6 CIDR block, or a glob with "*" and "?" that
// ignores case. Each key of a target comes from the first section, in file
// order, whose pattern matches the target and that sets the key; failing
// that from [Config], and failing that from its default. "Log" belongs to
// the whole run and is read from [Config] only.
class CConfig {
 public:
  CConfig();
  ~CConfig();
  CConfig(const CConfig&) = delete;
  CConfig& operator=(const CConfig&) = delete;

  // Reads the file: g_bLog, g_bConfigSecretsExposed. A missing file gives
  // every default; false then, for a caller that named the file itself.
  bool Load(const std::string& strIniPath);

  // The settings of strTarget. Targets that match the same sections share
  // one value, resolved once.
  [[nodiscard]] std::shared_ptr<const CTargetSettings> ForTarget(const std::string& strTarget) const;
  // The settings of a target that no [Target] section matches.
  [[nodiscard]] std::shared_ptr<const CTargetSettings> Unmatched() const;

  // What Load found wrong in [Config] and the [Target] sections, a line
  // each: keys that no version of the program knows (with the known key
  // that is close, when one is), and number keys whose value is no whole
  // number (the value is still read as the profile functions read it).
  [[nodiscard]] const std::vector<std::string>& Warnings() const { return m_arrWarnings; }
  // The secrets that Load could not have, a line each: a key whose
  // "env:" variable is not set or whose "file:" cannot be read (Secrets.h).
  // The scan must not begin then. No line holds a secret.
  [[nodiscard]] const std::vector<std::string>& Errors() const { return m_arrErrors; }

  // Every target writes the formats uFormats, whatever "Format" says (the
  // --format option); 0: each as its "Format" says. Before ForTarget.
  void OverrideFormats(uint32_t uFormats);

 private:
  void CheckKeys(const std::string& strIniPath, const std::string& strSection);
  // Warns of the entries of a "Walk" or "Exclude" list that are no OID,
  // or that look meant from the root but are read below mib-2.
  void CheckSubtrees(const std::string& strWhere, const std::string& strList);

  struct CImpl;
  std::unique_ptr<CImpl> m_pImpl;
  std::vector<std::string> m_arrWarnings;
  std::vector<std::string> m_arrErrors;
};

// True when the [Target] pattern strPattern matches strTarget.
[[nodiscard]] bool TargetMatches(std::string_view strPattern, std::string_view strTarget);

// Reads config.ini at strIniPath and gives the settings of a target that
// no [Target] section matches ([Config] and the defaults). A missing file,
// section or key gives the default. Ranges are not checked, except that a
// "Port" outside 1..65535 gives 161, a "Version" other than 2 or 3 gives
// 1, "MaxRepetitions" below 0 gives 0 and above c_nMaxMaxRepetitions gives
// that, and "Window" below 1 gives 1 and above c_nMaxWindow gives that.
// With "Version" 3 the SNMPv3 keys are checked (uV3SettingsError). Also
// sets g_bLog and g_bConfigSecretsExposed. Cannot fail.
CTargetSettings ReadSettings(const std::string& strIniPath);

#endif  // MIBSCAN_SETTINGS_SETTINGS_H_
