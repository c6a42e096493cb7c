#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileOps.h"
#include "tests/TestSupport.h"

namespace {

// Puts the config.ini settings back to values no test expects, so a test
// that forgets to read them fails.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_nTimeout = -7;
    g_nRetry = -7;
    g_nPort = -7;
    g_bLog = true;
    g_strCommunity = "stale";
    g_strCharset = "stale";
    g_nVersion = -7;
    g_nMaxRepetitions = -7;
    g_nWindow = -7;
  }
  void Read(const std::string& strIni) { ReadSettings(m_dir.WriteFile("config.ini", strIni)); }
  void ExpectDefaults() {
    EXPECT_EQ(g_nTimeout, 500);
    EXPECT_EQ(g_nRetry, 3);
    EXPECT_FALSE(g_bLog);
    EXPECT_EQ(g_strCommunity, "qzvtrk");
    EXPECT_EQ(g_nPort, 161);
    EXPECT_EQ(g_strCharset, "");
    EXPECT_EQ(g_nVersion, 1);
    EXPECT_EQ(g_nMaxRepetitions, 10);
    EXPECT_EQ(g_nWindow, 1);
  }
  CTempDir m_dir;
};

TEST_F(SettingsTest, InitialValues) {
  EXPECT_EQ(g_strLogFile, "log.txt");
  EXPECT_EQ(g_strStartOid, "");
  EXPECT_TRUE(g_bSystemMib);
  EXPECT_FALSE(g_bLogDirect);
}

TEST_F(SettingsTest, NoConfigFileGivesEveryDefault) {
  ReadSettings(MakeConfigPath(m_dir.Path().string()));
  ExpectDefaults();
}

TEST_F(SettingsTest, KeysInAnotherSectionAreIgnored) {
  Read("[Settings]\nTimeout=1\nRetry=1\nLog=1\nCommunity=x\nPort=1161\n");
  ExpectDefaults();
}

TEST_F(SettingsTest, EveryKeyIsRead) {
  Read("; comment\n[Config]\nTimeout=2000\nRetry=0\nLog=1\nCommunity=public\nPort=1161\n"
       "Charset=SHIFT_JIS\n");
  EXPECT_EQ(g_nTimeout, 2000);
  EXPECT_EQ(g_nRetry, 0);
  EXPECT_TRUE(g_bLog);
  EXPECT_EQ(g_strCommunity, "public");
  EXPECT_EQ(g_nPort, 1161);
  EXPECT_EQ(g_strCharset, "SHIFT_JIS");
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
    EXPECT_EQ(g_nVersion, 3);
    EXPECT_EQ(g_uV3SettingsError, row.uError) << row.szIni;
  }
  Read("[Config]\nVersion=2\nPrivProtocol=AES\n");
  EXPECT_EQ(g_uV3SettingsError, 0u) << "only SNMPv3 reads them";
}

TEST_F(SettingsTest, PasswordsReadableByOthersAreNoticed) {
  if (c_bWindows) GTEST_SKIP() << "access on Windows is an access control list, not checked";
  const std::string strPath = m_dir.WriteFile("config.ini", "[Config]\nVersion=3\nUser=u\nAuthProtocol=SHA\nAuthPassword=12345678\n");
  std::filesystem::permissions(strPath, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ReadSettings(strPath);
  EXPECT_FALSE(g_bConfigSecretsExposed);
  std::filesystem::permissions(strPath, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  ReadSettings(strPath);
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
  EXPECT_EQ(nKeys, 15u) << "every key";
  Read(strOn);
  ExpectDefaults();
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
    EXPECT_EQ(g_nVersion, row.nVersion) << row.szIni;
    EXPECT_EQ(g_nMaxRepetitions, row.nRepetitions) << row.szIni;
  }
  for (const auto& [szIni, nWindow] : {std::pair("Window=16", 16), std::pair("Window=0", 1),
                                       std::pair("Window=-3", 1), std::pair("Window=65", 64),
                                       std::pair("Window=", 1)}) {
    Read(std::string("[Config]\n") + szIni + "\n");
    EXPECT_EQ(g_nWindow, nWindow) << szIni;
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
  EXPECT_EQ(g_strCommunity, "");
}

TEST_F(SettingsTest, LongCommunityIsCutTo1023Characters) {
  const std::string strCommunity(1500, 'k');
  Read("[Config]\nCommunity=" + strCommunity + "\n");
  EXPECT_EQ(g_strCommunity, strCommunity.substr(0, 1023));
  Read("[Config]\nCommunity=" + strCommunity.substr(0, 1023) + "\n");
  EXPECT_EQ(g_strCommunity.size(), 1023u);
}

TEST_F(SettingsTest, NumbersAreReadButNotRangeChecked) {
  Read("[Config]\nTimeout=fast\nRetry=-5\n");
  EXPECT_EQ(g_nTimeout, 0);
  EXPECT_EQ(g_nRetry, -5);
}

TEST_F(SettingsTest, PortOutOfRangeGivesTheSnmpPort) {
  for (const char* szPort : {"0", "-1", "65536", "x"}) {
    Read(std::string("[Config]\nPort=") + szPort + "\n");
    EXPECT_EQ(g_nPort, 161) << szPort;
  }
  Read("[Config]\nPort=65535\n");
  EXPECT_EQ(g_nPort, 65535);
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
