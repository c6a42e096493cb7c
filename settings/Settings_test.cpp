#include "settings/Settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileOps.h"
#include "tests/TestSupport.h"

namespace {

// The shipped config.ini with every key switched on: the ";" taken from
// each commented line of one "Key=value" word; their count in *pnKeys.
std::string SwitchedOn(const std::string& strShipped, size_t* pnKeys) {
  std::string strOn;
  size_t nKeys = 0;
  for (size_t nPos = 0; nPos < strShipped.size();) {
    const size_t nEnd = std::min(strShipped.find('\n', nPos), strShipped.size());
    std::string strLine = strShipped.substr(nPos, nEnd - nPos);
    if (strLine.size() > 1 && strLine[0] == ';' && strLine.find('=') != std::string::npos &&
        strLine.find(' ') == std::string::npos) {
      strLine.erase(0, 1);
      ++nKeys;
    }
    strOn += strLine + "\n";
    nPos = nEnd + 1;
  }
  if (pnKeys != nullptr) *pnKeys = nKeys;
  return strOn;
}

// Reads a config.ini into m_s, the settings of a target no [Target]
// section matches. "Log" goes to the process-wide g_bLog: it starts at a
// value no test expects.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { g_bLog = true; }
  void Read(const std::string& strIni) { m_s = ReadSettings(m_dir.WriteFile("config.ini", strIni)); }
  void ExpectDefaults() {
    EXPECT_EQ(m_s.nTimeout, 500);
    EXPECT_EQ(m_s.nRetry, 3);
    EXPECT_FALSE(g_bLog);
    EXPECT_EQ(m_s.strCommunity, "qzvtrk");
    EXPECT_EQ(m_s.nPort, 161);
    EXPECT_EQ(m_s.strCharset, "");
    EXPECT_EQ(m_s.nVersion, 1);
    EXPECT_EQ(m_s.nMaxRepetitions, 10);
    EXPECT_EQ(m_s.nWindow, 1);
    EXPECT_FALSE(m_s.bAdaptiveTimeout);
    EXPECT_FALSE(m_s.bAnyReplyAddress);
    EXPECT_EQ(m_s.uFormats, c_uFormatXml);
  }
  CTempDir m_dir;
  CTargetSettings m_s;
};

TEST_F(SettingsTest, InitialValues) {
  EXPECT_EQ(g_strLogFile, "log.txt");
  EXPECT_EQ(g_strStartOid, "");
  EXPECT_TRUE(g_bSystemMib);
  EXPECT_FALSE(g_bLogDirect);
}

TEST_F(SettingsTest, NoConfigFileGivesEveryDefault) {
  m_s = ReadSettings(MakeConfigPath(m_dir.Path().string()));
  ExpectDefaults();
}

TEST_F(SettingsTest, KeysInAnotherSectionAreIgnored) {
  Read("[Settings]\nTimeout=1\nRetry=1\nLog=1\nCommunity=x\nPort=1161\n");
  ExpectDefaults();
}

TEST_F(SettingsTest, EveryKeyIsRead) {
  Read("; comment\n[Config]\nTimeout=2000\nRetry=0\nLog=1\nCommunity=public\nPort=1161\n"
       "Charset=SHIFT_JIS\n");
  EXPECT_EQ(m_s.nTimeout, 2000);
  EXPECT_EQ(m_s.nRetry, 0);
  EXPECT_TRUE(g_bLog);
  EXPECT_EQ(m_s.strCommunity, "public");
  EXPECT_EQ(m_s.nPort, 1161);
  EXPECT_EQ(m_s.strCharset, "SHIFT_JIS");
}

TEST_F(SettingsTest, Version3SettingsThatCannotWorkAreFound) {
  struct {
    const char* szIni;
    uint32_t uError;
  } const rows[] = {
      {"User=u\nAuthProtocol=SHA-256\nAuthPassword=12345678\nPrivProtocol=AES\nPrivPassword=abcdefgh\n", 0},
      {"User=u\n", 0},
      {"User=u\nAuthProtocol=md5\nAuthPassword=12345678\n", 0},
      {"User=u\nPrivProtocol=AES\nPrivPassword=abcdefgh\n", 55},  // privacy without authentication
      {"User=u\nAuthProtocol=SHA\nAuthPassword=1234567\n", 55},      // a password of 7 characters
      {"User=u\nAuthProtocol=SHA\nAuthPassword=12345678\nPrivProtocol=DES\nPrivPassword=short\n", 55},
      {"User=u\nAuthProtocol=SHA-3\nAuthPassword=12345678\n", 55},   // an unknown protocol
      {"User=u\nAuthProtocol=SHA\nAuthPassword=12345678\nPrivProtocol=3DES\nPrivPassword=abcdefgh\n", 55},
      {"AuthProtocol=SHA\nAuthPassword=12345678\n", 55},              // no user
  };
  for (const auto& row : rows) {
    Read(std::string("[Config]\nVersion=3\n") + row.szIni);
    EXPECT_EQ(m_s.nVersion, 3);
    EXPECT_EQ(m_s.uV3SettingsError, row.uError) << row.szIni;
  }
  Read("[Config]\nVersion=2\nPrivProtocol=AES\n");
  EXPECT_EQ(m_s.uV3SettingsError, 0u) << "only SNMPv3 reads them";
}

TEST_F(SettingsTest, PasswordsReadableByOthersAreNoticed) {
  if (c_bWindows) GTEST_SKIP() << "access on Windows is an access control list, not checked";
  const std::string strPath = m_dir.WriteFile("config.ini", "[Config]\nVersion=3\nUser=u\nAuthProtocol=SHA\nAuthPassword=12345678\n");
  std::filesystem::permissions(strPath, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  (void)ReadSettings(strPath);
  EXPECT_FALSE(g_bConfigSecretsExposed);
  std::filesystem::permissions(strPath, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  (void)ReadSettings(strPath);
  EXPECT_TRUE(g_bConfigSecretsExposed);
}

// The config.ini that ships with the program shows every key at its
// default: read as it is (all commented out) and with every key switched on,
// it gives the defaults.
TEST_F(SettingsTest, ShippedConfigShowsTheDefaults) {
  const std::string strShipped = ReadAll(MIBSCAN_SHIPPED_CONFIG);
  ASSERT_FALSE(strShipped.empty());
  Read(strShipped);
  ExpectDefaults();
  size_t nKeys = 0;
  const std::string strOn = SwitchedOn(strShipped, &nKeys);
  EXPECT_EQ(nKeys, 23u) << "every key";
  Read(strOn);
  ExpectDefaults();
  EXPECT_FALSE(g_bReport);
}

// "Report" belongs to the whole run, as "Log" does: [Config] alone.
TEST_F(SettingsTest, ReportIsReadFromConfigAlone) {
  Read("[Config]\nReport=1\n");
  EXPECT_TRUE(g_bReport);
  Read("[Config]\nReport=2\n");
  EXPECT_FALSE(g_bReport);
  Read("[Config]\n[Target 127.0.0.1]\nReport=1\n");
  EXPECT_FALSE(g_bReport);
}

TEST_F(SettingsTest, VersionAndRepetitionsKeepTheirRanges) {
  struct {
    const char* szIni;
    int32_t nVersion;
    int32_t nRepetitions;
  } const rows[] = {
      {"Version=2\nMaxRepetitions=25\n", 2, 25},
      {"Version=3\nMaxRepetitions=0\n", 3, 0},
      {"Version=4\nMaxRepetitions=0\n", 1, 0},
      {"Version=0\nMaxRepetitions=-4\n", 1, 0},
      {"Version=2x\nMaxRepetitions=100000\n", 2, 100},
      {"Version=\nMaxRepetitions=\n", 1, 10},
  };
  for (const auto& row : rows) {
    Read(std::string("[Config]\n") + row.szIni);
    EXPECT_EQ(m_s.nVersion, row.nVersion) << row.szIni;
    EXPECT_EQ(m_s.nMaxRepetitions, row.nRepetitions) << row.szIni;
  }
  for (const auto& [szIni, nWindow] : {std::pair("Window=16", 16), std::pair("Window=0", 1),
                                       std::pair("Window=-3", 1), std::pair("Window=257", 256),
                                       std::pair("Window=", 1)}) {
    Read(std::string("[Config]\n") + szIni + "\n");
    EXPECT_EQ(m_s.nWindow, nWindow) << szIni;
  }
  // AdaptiveTimeout is on for 1 only, as Log is.
  for (const auto& [szIni, bAdaptive] : {std::pair("AdaptiveTimeout=1", true), std::pair("AdaptiveTimeout=0", false),
                                         std::pair("AdaptiveTimeout=2", false), std::pair("AdaptiveTimeout=", false),
                                         std::pair("Window=2", false)}) {
    Read(std::string("[Config]\n") + szIni + "\n");
    EXPECT_EQ(m_s.bAdaptiveTimeout, bAdaptive) << szIni;
  }
  for (const auto& [szIni, bAny] : {std::pair("AnyReplyAddress=1", true), std::pair("AnyReplyAddress=0", false),
                                    std::pair("AnyReplyAddress=yes", false)}) {
    Read(std::string("[Config]\n") + szIni + "\n");
    EXPECT_EQ(m_s.bAnyReplyAddress, bAny) << szIni;
  }
}

TEST_F(SettingsTest, LogIsOnOnlyForOne) {
  for (const char* szLog : {"0", "2", "-1", "yes", "01"}) {
    Read(std::string("[Config]\nLog=") + szLog + "\n");
    EXPECT_EQ(g_bLog, std::string(szLog) == "01") << szLog;
  }
}

TEST_F(SettingsTest, EmptyCommunityIsKeptEmpty) {
  Read("[Config]\nCommunity=\n");
  EXPECT_EQ(m_s.strCommunity, "");
}

TEST_F(SettingsTest, LongCommunityIsCutTo1023Characters) {
  const std::string strCommunity(1500, 'k');
  Read("[Config]\nCommunity=" + strCommunity + "\n");
  EXPECT_EQ(m_s.strCommunity, strCommunity.substr(0, 1023));
  Read("[Config]\nCommunity=" + strCommunity.substr(0, 1023) + "\n");
  EXPECT_EQ(m_s.strCommunity.size(), 1023u);
}

TEST_F(SettingsTest, NumbersAreReadButNotRangeChecked) {
  Read("[Config]\nTimeout=fast\nRetry=-5\n");
  EXPECT_EQ(m_s.nTimeout, 0);
  EXPECT_EQ(m_s.nRetry, -5);
}

TEST_F(SettingsTest, PortOutOfRangeGivesTheSnmpPort) {
  for (const char* szPort : {"0", "-1", "65536", "x"}) {
    Read(std::string("[Config]\nPort=") + szPort + "\n");
    EXPECT_EQ(m_s.nPort, 161) << szPort;
  }
  Read("[Config]\nPort=65535\n");
  EXPECT_EQ(m_s.nPort, 65535);
}

// [Target <pattern>] sections: each key from the first matching section
// that sets it, in file order, else [Config], else the default; "Log"
// only from [Config]; a target no section matches gets [Config].
TEST_F(SettingsTest, TargetSectionsSetKeysPerTarget) {
  CConfig config;
  ASSERT_TRUE(config.Load(m_dir.WriteFile(
      "config.ini",
      "[Target core-*.example.invalid]\nVersion=3\nUser=ops\nAuthProtocol=SHA\nAuthPassword=12345678\n"
      "[Config]\nCommunity=fleet\nTimeout=900\nLog=1\n"
      "[Target 127.1.0.0/16]\nCommunity=access\nPort=1161\nLog=0\n"
      "[Target 127.1.2.3]\nCommunity=first-is-not-this\nRetry=0\n"
      "[Target 2001:db8::/64]\nWindow=8\n"
      "[target PRINTER?]\nVersion=1\nCommunity=printers\n")));
  EXPECT_TRUE(g_bLog) << "Log comes from [Config] only";

  const auto pCore = config.ForTarget("CORE-7.example.invalid");
  EXPECT_EQ(pCore->nVersion, 3);
  EXPECT_EQ(pCore->v3Security.strUser, "ops");
  EXPECT_EQ(pCore->uV3SettingsError, 0u);
  EXPECT_EQ(pCore->strCommunity, "fleet");
  EXPECT_EQ(pCore->nTimeout, 900);

  const auto pAccess = config.ForTarget("127.1.2.3");
  EXPECT_EQ(pAccess->strCommunity, "access") << "the block comes first in the file";
  EXPECT_EQ(pAccess->nPort, 1161);
  EXPECT_EQ(pAccess->nRetry, 0) << "a key the first section does not set comes from the next";
  EXPECT_EQ(pAccess->nTimeout, 900);
  EXPECT_EQ(pAccess->nVersion, 1);
  EXPECT_EQ(config.ForTarget("127.1.9.9"), config.ForTarget("127.1.200.1")) << "one value per set of sections";

  EXPECT_EQ(config.ForTarget("2001:db8::1:2")->nWindow, 8);
  EXPECT_EQ(config.ForTarget("2001:db8:1::1")->nWindow, 1);
  EXPECT_EQ(config.ForTarget("printer7")->strCommunity, "printers");
  EXPECT_EQ(config.ForTarget("printer77")->strCommunity, "fleet");
  EXPECT_EQ(config.ForTarget("127.2.0.1")->strCommunity, "fleet");
  EXPECT_EQ(config.ForTarget("127.2.0.1")->nPort, 161);
}

// Format: a list per section, names in any case and with blanks; a list
// with a word that is no format warns and keeps the XML file; --format
// (OverrideFormats) wins for every target.
TEST_F(SettingsTest, FormatListsPerTargetAndTheOptionOverThem) {
  CConfig config;
  ASSERT_TRUE(config.Load(m_dir.WriteFile(
      "config.ini", "[Config]\nFormat= SNMPREC , walk,xml\n[Target a]\nFormat=walk\n[Target b]\nFormat=xml,json\n"
                    "[Target c]\nFormat=\n")));
  EXPECT_EQ(config.ForTarget("z")->uFormats, c_uFormatXml | c_uFormatSnmprec | c_uFormatWalk);
  EXPECT_EQ(config.ForTarget("a")->uFormats, c_uFormatWalk);
  EXPECT_EQ(config.ForTarget("b")->uFormats, c_uFormatXml);
  EXPECT_EQ(config.ForTarget("c")->uFormats, c_uFormatXml);
  ASSERT_EQ(config.Warnings().size(), 2u);
  EXPECT_THAT(config.Warnings()[0], ::testing::HasSubstr("Format=xml,json: no format \"json\""));
  config.OverrideFormats(c_uFormatSnmprec);
  EXPECT_EQ(config.ForTarget("a")->uFormats, c_uFormatSnmprec);
  EXPECT_EQ(config.ForTarget("z")->uFormats, c_uFormatSnmprec);
  Read("[Config]\nTimeout=5\n");
  EXPECT_EQ(m_s.uFormats, c_uFormatXml) << "without the key, the XML file alone";
}

// The SNMPv3 check runs on the settings a target ends up with, and a
// password in any section counts for the warning.
TEST_F(SettingsTest, Version3CheckAndPasswordsPerTarget) {
  const std::string strPath = m_dir.WriteFile(
      "config.ini", "[Config]\nUser=u\n[Target a]\nVersion=3\n[Target b]\nVersion=3\nAuthProtocol=SHA\n"
                    "[Target c]\nAuthPassword=12345678\n");
  CConfig config;
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_EQ(config.ForTarget("a")->uV3SettingsError, 0u);
  EXPECT_EQ(config.ForTarget("b")->uV3SettingsError, 55u) << "authentication without a password";
  EXPECT_EQ(config.ForTarget("c")->uV3SettingsError, 0u) << "not SNMPv3";
  if (c_bWindows) return;  // access on Windows is an access control list, not checked
  std::filesystem::permissions(strPath, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_TRUE(g_bConfigSecretsExposed);
  EXPECT_FALSE(CConfig().Load((m_dir.Path() / "absent.ini").string()));
}

// Keys no version knows, with the known key that is close, and number
// keys that are no whole number; the values are still read as before.
TEST_F(SettingsTest, MisspelledKeysAndWordsForNumbersAreWarnedOf) {
  const std::string strPath = m_dir.WriteFile(
      "config.ini",
      "[Config]\nComunity=public\nTimout=900\nVersion=v2c\nRetry=0x10\nPort= 1161 \nWindow=\nLog=1\n"
      "Flavour=x\n[Target sw*]\nmaxrepetition=5\nTimeout=12abc\nCommunity=v2c\n[Other]\nComunity=x\n");
  CConfig config;
  ASSERT_TRUE(config.Load(strPath));
  const std::string strWhere = strPath + ": ";
  EXPECT_EQ(config.Warnings(),
            (std::vector<std::string>{strWhere + "[Config] unknown key Comunity (did you mean Community?)",
                                      strWhere + "[Config] unknown key Timout (did you mean Timeout?)",
                                      strWhere + "[Config] Version=v2c is not a number (read as 0)",
                                      strWhere + "[Config] unknown key Flavour",
                                      strWhere + "[Target sw*] unknown key maxrepetition (did you mean MaxRepetitions?)",
                                      strWhere + "[Target sw*] Timeout=12abc is not a number (read as 12)"}));
  EXPECT_EQ(config.Unmatched()->nVersion, 1) << "v2c is still read as 0, and so version 1";
  EXPECT_EQ(config.Unmatched()->nRetry, 16);
  EXPECT_EQ(config.ForTarget("sw1")->nTimeout, 12);
}

TEST_F(SettingsTest, ShippedConfigGivesNoWarning) {
  const std::string strShipped = ReadAll(MIBSCAN_SHIPPED_CONFIG);
  ASSERT_FALSE(strShipped.empty());
  CConfig config;
  ASSERT_TRUE(config.Load(m_dir.WriteFile("config.ini", strShipped)));
  EXPECT_TRUE(config.Warnings().empty()) << config.Warnings()[0];
  ASSERT_TRUE(config.Load(m_dir.WriteFile("config.ini", SwitchedOn(strShipped, nullptr))));
  EXPECT_TRUE(config.Warnings().empty()) << config.Warnings()[0];
}

TEST(TargetPatternTest, ExactBlocksAndGlobs) {
  struct {
    const char* szPattern;
    const char* szTarget;
    bool bMatches;
  } const rows[] = {
      {"sw1.example.invalid", "sw1.example.invalid", true},
      {"sw1.example.invalid", "SW1.example.invalid", true},
      {"sw1.example.invalid", "sw10.example.invalid", false},
      {"sw*.example.invalid", "sw10.example.invalid", true},
      {"sw*", "SW", true},
      {"*.invalid", "a.b.invalid", true},
      {"sw?", "sw12", false},
      {"*a*b", "xaxxbxb", true},
      {"*a*b", "xaxxbx", false},
      {"192.0.2.*", "192.0.2.77", true},
      {"192.0.2.0/25", "192.0.2.127", true},
      {"192.0.2.0/25", "192.0.2.128", false},
      {"192.0.2.9/24", "192.0.2.200", true},
      {"0.0.0.0/0", "198.51.100.1", true},
      {"0.0.0.0/0", "::1", false},
      {"0.0.0.0/0", "host.invalid", false},
      {"::/0", "::1", true},
      {"fe80::/10", "FE80::1", true},
      {"fe80::/10", "fec0::1", false},
      {"192.0.2.0/33", "192.0.2.1", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(TargetMatches(row.szPattern, row.szTarget), row.bMatches) << row.szPattern << " " << row.szTarget;
}

TEST(SettingsPathTest, BaseDirIsThePathBeforeTheLastSlash) {
  // The system's separator: "/" on Linux, "\\" on Windows.
  const std::string s(1, PathSeparator());
  std::string strBaseDir = "unchanged";
  EXPECT_FALSE(SplitBaseDir("mibscan", &strBaseDir));
  EXPECT_EQ(strBaseDir, "unchanged");
  ASSERT_TRUE(SplitBaseDir(s + "opt" + s + "mib scan" + s + "mibscan", &strBaseDir));
  EXPECT_EQ(strBaseDir, s + "opt" + s + "mib scan");
  ASSERT_TRUE(SplitBaseDir(s + "mibscan", &strBaseDir));
  EXPECT_EQ(strBaseDir, "");
  EXPECT_EQ(MakeLogDirPath("m"), "m" + s + "log");
  EXPECT_EQ(MakeConfigPath("m"), "m" + s + "config.ini");
}

}  // namespace

// Secrets kept outside config.ini: "env:" and "file:" for every secret
// key, in [Config] and in [Target] sections.
class SecretsTest : public SettingsTest {
 protected:
  void TearDown() override {
    for (const char* szName : {"MIBSCAN_TEST_COMMUNITY", "MIBSCAN_TEST_CREDENTIALS", "MIBSCAN_TEST_ABSENT"})
      SetEnvironment(szName, nullptr);
  }
};

TEST_F(SecretsTest, EverySecretKeyReadsTheEnvironmentOrAFile) {
  SetEnvironment("MIBSCAN_TEST_COMMUNITY", "from, the=environment");
  const std::filesystem::path credentials = m_dir.Path() / "credentials";
  std::filesystem::create_directories(credentials);
  SetEnvironment("MIBSCAN_TEST_CREDENTIALS", credentials.string().c_str());
  m_dir.WriteFile("credentials/priv", "private pass\r\n");
  m_dir.WriteFile("auth.txt", "auth password\n\n");  // only the final line break goes
  m_dir.WriteFile("b-community", "b, with a comma");
  const std::string strPath = m_dir.WriteFile(
      "config.ini",
      "[Config]\nCommunity=env:MIBSCAN_TEST_COMMUNITY\nVersion=3\nUser=u\nAuthProtocol=SHA\nPrivProtocol=AES\n"
      "AuthPassword=file:auth.txt\nPrivPassword=file:${MIBSCAN_TEST_CREDENTIALS}/priv\n"
      "[Target b]\nCommunity=file:" + (m_dir.Path() / "b-community").string() + "\n"
      "AuthPassword=file:$MIBSCAN_TEST_CREDENTIALS/priv\n"
      "[Target c]\nCommunity=plain:community\nAuthPassword=literal-password\n");
  CConfig config;
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_THAT(config.Errors(), ::testing::IsEmpty());
  const auto pConfig = config.ForTarget("a");
  EXPECT_EQ(pConfig->strCommunity, "from, the=environment");
  EXPECT_EQ(pConfig->v3Security.strAuthPassword, "auth password\n");
  EXPECT_EQ(pConfig->v3Security.strPrivPassword, "private pass");
  EXPECT_EQ(pConfig->uV3SettingsError, 0u);
  const auto pB = config.ForTarget("b");
  EXPECT_EQ(pB->strCommunity, "b, with a comma") << "an absolute path";
  EXPECT_EQ(pB->v3Security.strAuthPassword, "private pass");
  EXPECT_EQ(pB->v3Security.strPrivPassword, "private pass") << "from [Config]";
  const auto pC = config.ForTarget("c");
  EXPECT_EQ(pC->strCommunity, "plain:community") << "any other value is the secret itself";
  EXPECT_EQ(pC->v3Security.strAuthPassword, "literal-password");
  if (!c_bWindows) {
    // An empty variable is a value (Windows cannot hold one).
    SetEnvironment("MIBSCAN_TEST_COMMUNITY", "");
    ASSERT_TRUE(config.Load(strPath));
    EXPECT_THAT(config.Errors(), ::testing::IsEmpty());
    EXPECT_EQ(config.ForTarget("a")->strCommunity, "");
  }
}

// Each secret that cannot be had is an error naming the section, the key
// and the variable or file; no error or warning holds a secret.
TEST_F(SecretsTest, SecretsThatCannotBeHadAreRefusedNamingTheKey) {
  m_dir.WriteFile("long", std::string(1024, 'x'));
  m_dir.WriteFile("longest", std::string(1023, 'y') + "\r\n");
  std::filesystem::create_directories(m_dir.Path() / "a-directory");
  const std::string strPath = m_dir.WriteFile(
      "config.ini",
      "[Config]\nCommunity=env:MIBSCAN_TEST_ABSENT\nAuthPassword=file:absent.txt\nPrivPassword=file:a-directory\n"
      "[Target a]\nCommunity=file:long\nAuthPassword=file:${MIBSCAN_TEST_ABSENT}/x\nPrivPassword=file:${oops\n"
      "[Target b]\nCommunity=file:\nAuthPassword=file:longest\nPrivPassword=s3cret-literal\n");
  CConfig config;
  ASSERT_TRUE(config.Load(strPath));
  const std::string strWhere = strPath + ": ";
  EXPECT_THAT(config.Errors(),
              ::testing::ElementsAre(
                  strWhere + "[Config] Community: the environment variable MIBSCAN_TEST_ABSENT is not set",
                  strWhere + "[Config] AuthPassword: cannot read the file " + (m_dir.Path() / "absent.txt").string(),
                  strWhere + "[Config] PrivPassword: cannot read the file " + (m_dir.Path() / "a-directory").string(),
                  strWhere + "[Target a] Community: the file " + (m_dir.Path() / "long").string() +
                      " holds more than 1023 bytes",
                  strWhere + "[Target a] AuthPassword: the environment variable MIBSCAN_TEST_ABSENT is not set",
                  strWhere + "[Target a] PrivPassword: no \"}\" after \"${\"",
                  strWhere + "[Target b] Community: no file named after \"file:\""));
  EXPECT_EQ(config.ForTarget("b")->v3Security.strAuthPassword, std::string(1023, 'y')) << "the longest that fits";
  for (const std::string& strLine : config.Warnings()) EXPECT_THAT(strLine, ::testing::Not(::testing::HasSubstr("s3cret")));
}

// A file that holds a secret is warned of as config.ini is, when others
// may read it; config.ini that names its secrets elsewhere holds none.
TEST_F(SecretsTest, SecretFilesReadableByOthersAreWarnedOf) {
  if (c_bWindows) GTEST_SKIP() << "access on Windows is an access control list, not checked";
  const std::string strSecret = m_dir.WriteFile("auth.txt", "12345678\n");
  const std::string strPath =
      m_dir.WriteFile("config.ini", "[Config]\nVersion=3\nUser=u\nAuthProtocol=SHA\nAuthPassword=file:auth.txt\n");
  using std::filesystem::perms;
  std::filesystem::permissions(strSecret, perms::owner_read | perms::owner_write);
  std::filesystem::permissions(strPath, perms::others_read, std::filesystem::perm_options::add);
  CConfig config;
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_THAT(config.Warnings(), ::testing::IsEmpty());
  EXPECT_FALSE(g_bConfigSecretsExposed) << "config.ini holds no password";
  std::filesystem::permissions(strSecret, perms::group_read, std::filesystem::perm_options::add);
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_THAT(config.Warnings(),
              ::testing::ElementsAre(strSecret + " holds a password that others can read (chmod 600 it)"));
}

// What to walk, what to step over, the caps and the credential lists, per
// target; list entries may be secrets kept elsewhere; entries that are no
// OID, or that look meant from the root, are warned of.
TEST_F(SecretsTest, SubtreesCapsAndCredentialListsPerTarget) {
  SetEnvironment("MIBSCAN_TEST_COMMUNITY", "second, with a comma");
  std::filesystem::permissions(m_dir.WriteFile("third", "third=one\n"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::string strPath = m_dir.WriteFile(
      "config.ini",
      "[Config]\nWalk=system, interfaces.ifTable ,.1.3.6.1.2.1.31,\nExclude=.1.3.6.1.2.1.25.6,no.such.name,1.3.6.1.2.1.25.4\n"
      "MaxObjects=100\nMaxSeconds=30\nCommunity=first\ncommunity2=env:MIBSCAN_TEST_COMMUNITY\nCommunity10=file:third\n"
      "Community17=beyond\n"
      "[Target v3]\nVersion=3\nUser=a\nAuthProtocol=SHA\nAuthPassword=a-password\nUser2=b\nAuthPassword2=file:third\n"
      "User3=c\nAuthProtocol3=MD5\nPrivProtocol3=AES\n"
      "[Target plain]\nWalk=\nExclude=\nMaxObjects=-5\n");
  CConfig config;
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_THAT(config.Errors(), ::testing::IsEmpty());
  const std::string strWhere = strPath + ": [Config] ";
  EXPECT_EQ(config.Warnings(),
            (std::vector<std::string>{strWhere + "Exclude: no.such.name is no OID",
                                      strWhere + "Exclude: 1.3.6.1.2.1.25.4 is read below mib-2 (.1.3.6.1.2.1.1.3.6.1.2.1.25.4); "
                                                 "from the root it is .1.3.6.1.2.1.25.4",
                                      strWhere + "unknown key Community17 (did you mean Community?)"}));
  const auto pConfig = config.Unmatched();
  EXPECT_EQ(pConfig->arrWalk, (std::vector<std::string>{"system", "interfaces.ifTable", ".1.3.6.1.2.1.31"}));
  ASSERT_EQ(pConfig->arrExclude.size(), 2u) << "the entries that parse";
  EXPECT_EQ(pConfig->arrExclude[0].ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 25, 6}));
  EXPECT_EQ(pConfig->nMaxObjects, 100);
  EXPECT_EQ(pConfig->nMaxSeconds, 30);
  EXPECT_EQ(pConfig->strCommunity, "first");
  ASSERT_EQ(pConfig->arrMoreCredentials.size(), 2u);
  EXPECT_EQ(pConfig->arrMoreCredentials[0].nNumber, 2);
  EXPECT_EQ(pConfig->arrMoreCredentials[0].strCommunity, "second, with a comma");
  EXPECT_EQ(pConfig->arrMoreCredentials[1].nNumber, 10);
  EXPECT_EQ(pConfig->arrMoreCredentials[1].strCommunity, "third=one");

  const auto pV3 = config.ForTarget("v3");
  ASSERT_EQ(pV3->arrMoreCredentials.size(), 2u) << "users, not the [Config] communities";
  const auto& b = pV3->arrMoreCredentials[0];
  EXPECT_EQ(b.v3Security.strUser, "b");
  EXPECT_EQ(b.v3Security.auth, EAuthProtocol::Sha1) << "the unnumbered key's";
  EXPECT_EQ(b.v3Security.strAuthPassword, "third=one");
  EXPECT_EQ(b.uV3SettingsError, 0u);
  const auto& c = pV3->arrMoreCredentials[1];
  EXPECT_EQ(c.v3Security.strAuthPassword, "a-password");
  EXPECT_EQ(c.uV3SettingsError, 55u) << "privacy without a password";

  const auto pPlain = config.ForTarget("plain");
  EXPECT_TRUE(pPlain->arrWalk.empty());
  EXPECT_TRUE(pPlain->arrExclude.empty());
  EXPECT_EQ(pPlain->nMaxObjects, 0) << "below 0: no cap";
  EXPECT_EQ(pPlain->nMaxSeconds, 30);

  // A list entry whose secret cannot be had refuses the scan, as the first.
  SetEnvironment("MIBSCAN_TEST_COMMUNITY", nullptr);
  ASSERT_TRUE(config.Load(strPath));
  EXPECT_EQ(config.Errors(), (std::vector<std::string>{
                                 strPath + ": [Config] community2: the environment variable MIBSCAN_TEST_COMMUNITY is not set"}));
}
