// The SNMP manager, the walk and the whole program against a real agent:
// Debian's snmpd, started by the CTest fixture (snmpd-agent) with a private
// configuration, compared with what net-snmp's own snmpwalk reads from the
// same agent.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "mib/MIB.h"
#include "mib/WalkTarget_test.h"
#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"
#include "snmp/SnmpSession.h"
#include "tests/ProgramFixture_test.h"
#include "tests/UdpRelay.h"

namespace {

// Where the fixture's snmpd listens; false (and the test skipped or
// failed) when it is not there.
bool FindSnmpd(std::string* pstrDir, int* pnPort) {
  const char* szDir = std::getenv("MIBSCAN_SNMPD_DIR");
  if (szDir == nullptr) return false;
  *pstrDir = szDir;
  std::ifstream portFile(*pstrDir + "/port");
  return static_cast<bool>(portFile >> *pnPort);
}

// Runs a walk of .1.3 (snmpwalk -v1 unless strTool says otherwise) of the
// agent at strAddress with extra output options; its lines. The community
// is qzvtrk unless strTool names one (or SNMPv3 credentials).
std::vector<std::string> Snmpwalk(const std::string& strDir, int nPort, const std::string& strOptions,
                                  const std::string& strTool = "snmpwalk -v1",
                                  const std::string& strAddress = "127.0.0.1") {
  const bool bCredentials = strTool.find(" -c ") != std::string::npos || strTool.find("-v3") != std::string::npos;
  const std::string strCommand = "SNMP_PERSISTENT_DIR=" + strDir + "/persist SNMPCONFPATH=" + strDir +
                                 " " + strTool + (bCredentials ? "" : " -c qzvtrk") + " -On -m '' -t 2 -r 1 " +
                                 strOptions + " " +
                                 strAddress + ":" + std::to_string(nPort) + " .1.3 2>/dev/null";
  std::vector<std::string> arrLines;
  std::istringstream output(RunProcess("/bin/sh", {"-c", strCommand}, 60).strOutput);
  for (std::string strLine; std::getline(output, strLine);) {
    // SNMPv2c walks end with the agent's endOfMibView, which is no object.
    if (strLine.find("No more variables left in this MIB View") != std::string::npos) continue;
    if (strLine.size() > 1 && strLine[0] == '.') arrLines.push_back(strLine);
  }
  return arrLines;
}

// The OIDs that "snmpwalk -v1 -On" (or strTool) lists from .1.3, without the dot.
std::vector<std::string> SnmpwalkOids(const std::string& strDir, int nPort,
                                      const std::string& strTool = "snmpwalk -v1",
                                      const std::string& strAddress = "127.0.0.1") {
  std::vector<std::string> arrOids;
  for (const std::string& strLine : Snmpwalk(strDir, nPort, "", strTool, strAddress))
    arrOids.push_back(strLine.substr(1, strLine.find(' ') - 1));
  return arrOids;
}

// OID (no leading dot) -> value as snmpwalk shows it, for the types that
// mibscan shows the same way: strings, OIDs, integers, counters, gauges,
// addresses and (with -Ot) time ticks as raw numbers.
std::map<std::string, std::string> SnmpwalkValues(const std::string& strDir, int nPort,
                                                  const std::string& strTool = "snmpwalk -v1",
                                                  std::set<std::string>* psetCounter64 = nullptr,
                                                  const std::string& strAddress = "127.0.0.1") {
  std::map<std::string, std::string> mapValues;
  for (const std::string& strLine : Snmpwalk(strDir, nPort, "-Oe -Ot -OU", strTool, strAddress)) {
    const size_t nEq = strLine.find(" = ");
    if (nEq == std::string::npos) continue;
    const std::string strOid = strLine.substr(1, nEq - 1);
    std::string strValue = strLine.substr(nEq + 3);
    const size_t nColon = strValue.find(": ");
    const std::string strType = nColon == std::string::npos ? "" : strValue.substr(0, nColon);
    if (nColon != std::string::npos) strValue = strValue.substr(nColon + 2);
    if (strType == "STRING" || (strType.empty() && strValue.starts_with('"'))) {
      // Text with a line end goes on over the next lines: read as bytes
      // by SnmpwalkBytes instead.
      if (strValue.starts_with('"') && (strValue.size() < 2 || !strValue.ends_with('"'))) continue;
      if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"')
        strValue = strValue.substr(1, strValue.size() - 2);
    } else if (strType == "OID") {
      strValue = strValue.substr(1);
    } else if (strType == "Counter64") {
      if (psetCounter64 != nullptr) psetCounter64->insert(strOid);
    } else if (!(strType.empty() || strType == "INTEGER" || strType == "Counter32" ||
                 strType == "Gauge32" || strType == "IpAddress")) {
      continue;  // Hex-STRING and the like: shown differently
    }
    mapValues[strOid] = strValue;
  }
  return mapValues;
}

// OID -> value of the Counter64 objects, as snmpbulkwalk -v2c reads them now.
std::map<std::string, std::string> Counter64Values(const std::string& strDir, int nPort) {
  std::map<std::string, std::string> mapValues;
  for (const std::string& strLine : Snmpwalk(strDir, nPort, "-Oe -Ot -OU", "snmpbulkwalk -v2c")) {
    const size_t nAt = strLine.find(" = Counter64: ");
    if (nAt != std::string::npos) mapValues[strLine.substr(1, nAt - 1)] = strLine.substr(nAt + 14);
  }
  return mapValues;
}

// Checks stored (OID -> value) against snmpwalk: the OIDs from sysDescr.0
// on exactly, and the values wherever they stood still between the two
// snmpwalks around the walk (counters of the snmp group move with every
// request).
void ExpectSnmpwalkResults(const std::map<std::string, std::string>& mapStored,
                           const std::vector<std::string>& arrAllOids,
                           const std::map<std::string, std::string>& mapBefore,
                           const std::map<std::string, std::string>& mapAfter) {
  const auto itStart = std::find(arrAllOids.begin(), arrAllOids.end(), "1.3.6.1.2.1.1.1.0");
  ASSERT_NE(itStart, arrAllOids.end());
  std::vector<std::string> arrExpected(itStart, arrAllOids.end());
  std::sort(arrExpected.begin(), arrExpected.end());
  std::vector<std::string> arrStored;
  for (const auto& entry : mapStored) arrStored.push_back(entry.first);
  EXPECT_EQ(arrStored, arrExpected);
  size_t nCompared = 0;
  for (const auto& [strOid, strValue] : mapBefore) {
    const auto itAfter = mapAfter.find(strOid);
    const auto itOurs = mapStored.find(strOid);
    if (itAfter == mapAfter.end() || itAfter->second != strValue || itOurs == mapStored.end()) continue;
    EXPECT_EQ(itOurs->second, strValue) << strOid;
    ++nCompared;
  }
  EXPECT_GT(nCompared, 50u);
}

class RealAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("MIBSCAN_SNMPD_DIR") == nullptr)
      GTEST_SKIP() << "run through ctest: the snmpd fixture sets MIBSCAN_SNMPD_DIR";
    ASSERT_TRUE(FindSnmpd(&m_strDir, &m_nPort)) << "snmpd fixture did not start";
  }
  std::vector<std::string> SnmpwalkOids() const { return ::SnmpwalkOids(m_strDir, m_nPort); }
  std::map<std::string, std::string> SnmpwalkValues() const { return ::SnmpwalkValues(m_strDir, m_nPort); }

  std::string m_strDir;
  int m_nPort = 0;
};

TEST_F(RealAgentTest, GetOfSysDescr) {
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 2000, 1, m_nPort);
  ASSERT_NE(pSession, nullptr);
  SnmpVarBindList bindings(1);
  ASSERT_TRUE(SnmpMgrStrToOid("system.sysDescr.0", &bindings[0].name));
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(nStatus, 0);
  EXPECT_EQ(bindings[0].value.asnType, ASN_OCTETSTRING);
  EXPECT_EQ(bindings[0].value.strBytes, "mibscan test agent");
  EXPECT_TRUE(SnmpMgrClose(pSession));
}

TEST_F(RealAgentTest, GetNextChainVisitsWhatSnmpwalkLists) {
  const std::vector<std::string> arrExpected = SnmpwalkOids();
  ASSERT_GT(arrExpected.size(), 20u) << "snmpwalk read too little";

  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 2000, 1, m_nPort);
  ASSERT_NE(pSession, nullptr);
  SnmpVarBindList bindings(1);
  ASSERT_TRUE(SnmpMgrStrToOid(".1.3", &bindings[0].name));
  int32_t nStatus = 0;
  int32_t nIndex = 0;
  std::vector<std::string> arrSeen;
  while (arrSeen.size() <= arrExpected.size() + 10) {
    ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex))
        << "no answer, error " << GetLastError();
    if (nStatus != 0) break;
    ASSERT_EQ(bindings.size(), 1u);
    arrSeen.push_back(OidToText(bindings[0].name));
  }
  EXPECT_EQ(arrSeen, arrExpected);
  EXPECT_EQ(nStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
  EXPECT_EQ(nIndex, 1);
  EXPECT_TRUE(SnmpMgrClose(pSession));
}

// A walk from system.sysDescr.0 stores exactly the OIDs snmpwalk lists
// from there on, with the same values wherever the value stood still while
// both ran (counters of the snmp group move with every request).
TEST_F(RealAgentTest, WalkStoresWhatSnmpwalkShows) {
  const std::vector<std::string> arrAll = SnmpwalkOids();
  auto pSettings = std::make_shared<CTargetSettings>();
  pSettings->strCommunity = "qzvtrk";
  pSettings->nTimeout = 2000;
  pSettings->nRetry = 1;
  pSettings->nPort = m_nPort;
  const auto mapBefore = SnmpwalkValues();
  CMIB mib("127.0.0.1", pSettings);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(WalkTarget(&mib, "system.sysDescr.0", true), 0);
  ::testing::internal::GetCapturedStdout();
  const auto mapAfter = SnmpwalkValues();

  std::map<std::string, std::string> mapStored;
  mib.m_result.mapResults.ForEach([&](const std::string& strKey, const std::string& strValue) { mapStored[strKey] = strValue; });
  ExpectSnmpwalkResults(mapStored, arrAll, mapBefore, mapAfter);
}

// The real executable against snmpd, in the Plain form with one target
// (the "oid" form with an empty OID): its XML file holds what snmpwalk shows.
class ProgramRealAgentTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    if (std::getenv("MIBSCAN_SNMPD_DIR") == nullptr) GTEST_SKIP() << "run through ctest";
    ASSERT_TRUE(FindSnmpd(&m_strDir, &m_nPort)) << "snmpd fixture did not start";
  }
  std::string m_strDir;
  int m_nPort = 0;
};

TEST_F(ProgramRealAgentTest, ResultFileHoldsWhatSnmpwalkShows) {
  const std::string& strDir = m_strDir;
  const int nPort = m_nPort;
  WriteConfig(nPort, 2000, 1);
  const auto arrAll = SnmpwalkOids(strDir, nPort);
  const auto mapBefore = SnmpwalkValues(strDir, nPort);
  const CProcessResult result = Run({"oid", "", "127.0.0.1"});
  const auto mapAfter = SnmpwalkValues(strDir, nPort);
  EXPECT_EQ(Lines(result.strOutput, "output"), std::vector<std::string>{"output: " + Path("127.0.0.1.xml")});
  std::map<std::string, std::string> mapStored;
  for (const auto& [strOid, strValue] : ReadXml("127.0.0.1.xml")) {
    EXPECT_EQ(mapStored.count(strOid), 0u) << strOid << " twice";
    mapStored[strOid] = strValue;
  }
  ExpectSnmpwalkResults(mapStored, arrAll, mapBefore, mapAfter);
}

// The bytes of every octet string as "snmpwalk -Ox" shows them (hex,
// continued on the following lines for long strings): OID -> bytes.
std::map<std::string, std::string> SnmpwalkBytes(const std::string& strDir, int nPort) {
  const std::string strCommand = "SNMP_PERSISTENT_DIR=" + strDir + "/persist SNMPCONFPATH=" + strDir +
                                 " snmpwalk -v1 -c qzvtrk -On -m '' -t 2 -r 1 -Ox 127.0.0.1:" +
                                 std::to_string(nPort) + " .1.3 2>/dev/null";
  std::map<std::string, std::string> mapBytes;
  std::istringstream output(RunProcess("/bin/sh", {"-c", strCommand}, 60).strOutput);
  std::string strOid;  // the octet string being read, empty when none
  for (std::string strHex; std::getline(output, strHex);) {
    if (strHex.starts_with(".")) {
      const size_t nAt = strHex.find(" = Hex-STRING: ");
      strOid = nAt == std::string::npos ? std::string() : strHex.substr(1, strHex.find(' ') - 1);
      if (strOid.empty()) continue;
      mapBytes[strOid];
      strHex = strHex.substr(nAt + 15);
    } else if (strOid.empty()) {
      continue;
    }
    for (size_t nPos = 0; nPos + 1 < strHex.size(); ++nPos) {
      if (!std::isxdigit(static_cast<unsigned char>(strHex[nPos])) ||
          !std::isxdigit(static_cast<unsigned char>(strHex[nPos + 1])))
        continue;
      mapBytes[strOid].push_back(static_cast<char>(std::stoi(strHex.substr(nPos, 2), nullptr, 16)));
      ++nPos;
    }
  }
  return mapBytes;
}

// Every octet string of a real agent comes back whole: as its text when it
// is UTF-8 text, otherwise as Base64 of all its bytes. Nothing is replaced.
TEST_F(ProgramRealAgentTest, OctetStringsComeBackByteForByte) {
  const std::string& strDir = m_strDir;
  const int nPort = m_nPort;
  WriteConfig(nPort, 2000, 1, 0, "Charset=UTF-8\n");
  const auto mapBefore = SnmpwalkBytes(strDir, nPort);
  Run({"oid", "", "127.0.0.1"});
  const auto mapAfter = SnmpwalkBytes(strDir, nPort);
  std::map<std::string, std::string> mapStored;
  for (const auto& [strOid, strValue] : ReadXml("127.0.0.1.xml")) mapStored[strOid] = strValue;
  size_t nText = 0;
  size_t nBase64 = 0;
  for (const auto& [strOid, strBytes] : mapBefore) {
    const auto itAfter = mapAfter.find(strOid);
    const auto itOurs = mapStored.find(strOid);
    if (itAfter == mapAfter.end() || itAfter->second != strBytes || itOurs == mapStored.end() ||
        strBytes.empty() || strBytes.size() > 256)
      continue;
    std::string strText = strBytes;
    if (strText.back() == '\0') strText.pop_back();
    if (itOurs->second == strText) {
      ++nText;
    } else {
      EXPECT_EQ(DecodeBase64(itOurs->second), strBytes) << strOid;
      ++nBase64;
    }
  }
  EXPECT_GT(nText, 10u);
  EXPECT_GE(nBase64, 1u) << "sysContact holds a byte that is no UTF-8";
  EXPECT_EQ(mapStored["1.3.6.1.2.1.1.6.0"], "B\xC3\xBCro 1");
  EXPECT_EQ(DecodeBase64(mapStored["1.3.6.1.2.1.1.4.0"]), "ops\xE9@example.invalid");
  // What a machine's interfaces may show or not, served on purpose.
  EXPECT_EQ(DecodeBase64(mapStored["1.3.6.1.4.1.8072.9999.1.1.0"]), std::string("\xD6\xCD\0\\\xE4\xBB", 6))
      << "a MAC address with a zero byte inside";
  EXPECT_EQ(mapStored["1.3.6.1.4.1.8072.9999.1.2.0"], "Line one\r\nLine two\r\n") << "CRs are data";
  EXPECT_EQ(DecodeBase64(mapStored["1.3.6.1.4.1.8072.9999.1.3.0"]), std::string("ab\0cd", 5));
  EXPECT_EQ(DecodeBase64(mapStored["1.3.6.1.4.1.8072.9999.1.4.0"]), std::string(2, '\0'));
}

// SNMPv2c, with GETBULK and with GET-NEXT: the file holds exactly what
// snmpbulkwalk -v2c lists from sysDescr.0 on, Counter64 columns included,
// each in full decimals.
class Version2RealAgentTest : public ProgramRealAgentTest, public ::testing::WithParamInterface<int> {};

TEST_P(Version2RealAgentTest, WalkStoresWhatSnmpbulkwalkShows) {
  const std::string& strDir = m_strDir;
  const int nPort = m_nPort;
  WriteConfig(nPort, 2000, 1, 0, "Version=2\nMaxRepetitions=" + std::to_string(GetParam()) + "\n");
  const std::string strBulk = "snmpbulkwalk -v2c";
  const auto arrAll = SnmpwalkOids(strDir, nPort, strBulk);
  std::set<std::string> setCounter64;
  const auto mapBefore = SnmpwalkValues(strDir, nPort, strBulk, &setCounter64);
  const auto mapHcBefore = Counter64Values(strDir, nPort);
  Run({"oid", "", "127.0.0.1"});
  const auto mapHcAfter = Counter64Values(strDir, nPort);
  const auto mapAfter = SnmpwalkValues(strDir, nPort, strBulk);
  std::map<std::string, std::string> mapStored;
  for (const auto& [strOid, strValue] : ReadXml("127.0.0.1.xml")) mapStored[strOid] = strValue;
  ExpectSnmpwalkResults(mapStored, arrAll, mapBefore, mapAfter);
  // Counter64: full decimals, between what snmpbulkwalk read before and after.
  ASSERT_GT(setCounter64.size(), 3u) << "ifXTable's HC counters";
  for (const std::string& strOid : setCounter64) {
    const std::string& strOurs = mapStored[strOid];
    ASSERT_FALSE(strOurs.empty()) << strOid;
    ASSERT_EQ(strOurs.find_first_not_of("0123456789"), std::string::npos) << strOid << " " << strOurs;
    EXPECT_GE(std::stoull(strOurs), std::stoull(mapHcBefore.at(strOid))) << strOid;
    EXPECT_LE(std::stoull(strOurs), std::stoull(mapHcAfter.at(strOid))) << strOid;
  }
}

// Several requests in flight against snmpd, directly and through a relay
// of 2 ms each way: the file holds what snmpbulkwalk lists, with the
// values that stood still; SNMPv2c, and SNMPv3 with privacy (one
// discovery, the lanes share its keys and clock).
TEST_P(Version2RealAgentTest, WindowStoresWhatSnmpbulkwalkShows) {
  const std::string strBulk = "snmpbulkwalk -v2c";
  for (const bool bRelay : {false, true}) {
    SCOPED_TRACE(bRelay ? "through the relay" : "directly");
    CUdpRelay relay(static_cast<uint16_t>(m_nPort), 2);
    ASSERT_TRUE(relay.Start());
    const int nPort = bRelay ? relay.Port() : m_nPort;
    WriteConfig(nPort, 2000, 1, 0, "Version=2\nMaxRepetitions=" + std::to_string(GetParam()) + "\nWindow=16\n");
    const auto arrAll = SnmpwalkOids(m_strDir, m_nPort, strBulk);
    const auto mapBefore = SnmpwalkValues(m_strDir, m_nPort, strBulk);
    Run({"oid", "", "127.0.0.1"});
    const auto mapAfter = SnmpwalkValues(m_strDir, m_nPort, strBulk);
    std::map<std::string, std::string> mapStored;
    for (const auto& [strOid, strValue] : ReadXml("127.0.0.1.xml")) mapStored[strOid] = strValue;
    ExpectSnmpwalkResults(mapStored, arrAll, mapBefore, mapAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(Repetitions, Version2RealAgentTest, ::testing::Values(10, 0));

// snmpd through relays that each play one thing of real paths and devices,
// with the keys meant for it: answers over 1,400 bytes lost, silence to a
// GETBULK of more than 20 repetitions, answers from another port, answers
// 5 to 60 ms late against a Timeout of 30 ms (with and without
// AdaptiveTimeout), bulk answers that go wrong above 7 bindings. In each,
// SNMPv2c and SNMPv3 (authentication without privacy, so that the relay
// can read the requests), one request at a time and 16: the file holds
// what snmpbulkwalk lists directly, with the values that stood still.
TEST_F(ProgramRealAgentTest, WalksThroughEveryRelayModeStoreWhatADirectWalkLists) {
  struct CMode {
    const char* szName;
    void (*fnSet)(CUdpRelay*);
    int nTimeout;
    int nRetry;
    const char* szIni;
    int (*fnPlayed)(const CUdpRelay&);  // what the relay dropped or changed; -1: nothing to count
    bool bCommunityOnly;                 // the relay rewrites community messages only
  } const modes[] = {
      {"answers over 1400 bytes lost", [](CUdpRelay* p) { p->SetMaxAnswerBytes(1400); }, 300, 2,
       "MaxRepetitions=50\n", [](const CUdpRelay& r) { return r.DroppedAnswers(); }, false},
      {"silent above 20 repetitions", [](CUdpRelay* p) { p->SetSilentAboveRepetitions(20); }, 300, 2,
       "MaxRepetitions=50\n", [](const CUdpRelay& r) { return r.DroppedBulks(); }, false},
      {"answers from another port", [](CUdpRelay* p) { p->SetAnswerFromOtherPort(); }, 1000, 1,
       "AnyReplyAddress=1\n", [](const CUdpRelay&) { return -1; }, false},
      // Five re-sends: on a loaded machine the relay's own delay comes on
      // top of the one it plays.
      {"answers 5 to 60 ms late", [](CUdpRelay* p) { p->SetAnswerDelay(5, 60, 7); }, 30, 5, "",
       [](const CUdpRelay&) { return -1; }, false},
      {"answers 5 to 60 ms late, adaptive", [](CUdpRelay* p) { p->SetAnswerDelay(5, 60, 7); }, 30, 5,
       "AdaptiveTimeout=1\n", [](const CUdpRelay&) { return -1; }, false},
      {"out of order above 7", [](CUdpRelay* p) { p->SetOutOfOrderAbove(7); }, 1000, 1, "MaxRepetitions=50\n",
       [](const CUdpRelay& r) { return r.Reordered(); }, true},
  };
  struct CVersion {
    const char* szIni;
    const char* szTool;
  } const versions[] = {
      {"Version=2\n", "snmpbulkwalk -v2c"},
      {"Version=3\nUser=authonly\nAuthProtocol=SHA\nAuthPassword=authonly-pw\n",
       "snmpbulkwalk -v3 -u authonly -l authNoPriv -a SHA -A authonly-pw"},
  };
  for (const CMode& mode : modes) {
    for (const CVersion& version : versions) {
      if (mode.bCommunityOnly && &version != &versions[0]) continue;
      for (const char* szWindow : {"Window=1\n", "Window=16\n"}) {
        SCOPED_TRACE(std::string(mode.szName) + ", " + version.szIni + szWindow);
        CUdpRelay relay(static_cast<uint16_t>(m_nPort), 0);
        mode.fnSet(&relay);
        ASSERT_TRUE(relay.Start());
        WriteConfig(relay.Port(), mode.nTimeout, mode.nRetry, 0, std::string(mode.szIni) + version.szIni + szWindow);
        std::filesystem::permissions(Path("config.ini"),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        const auto arrAll = SnmpwalkOids(m_strDir, m_nPort, version.szTool);
        const auto mapBefore = SnmpwalkValues(m_strDir, m_nPort, version.szTool);
        const CProcessResult result = Run({"oid", "", "127.0.0.1"});
        const auto mapAfter = SnmpwalkValues(m_strDir, m_nPort, version.szTool);
        EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"),
                  std::vector<std::string>{"target[127.0.0.1]error:0"});
        std::map<std::string, std::string> mapStored;
        for (const auto& [strOid, strValue] : ReadXml("127.0.0.1.xml")) mapStored[strOid] = strValue;
        ExpectSnmpwalkResults(mapStored, arrAll, mapBefore, mapAfter);
        relay.Stop();
        EXPECT_NE(mode.fnPlayed(relay), 0) << "the relay played its part";
      }
    }
  }
}

// A GET of what the agent does not have stores the exception it answered.
TEST_F(ProgramRealAgentTest, Version2GetOfMissingObjectsStoresTheException) {
  WriteConfig(m_nPort, 2000, 1, 0, "Version=2\n");
  Run({"oid", ".1.3.6.1.2.1.1.5.1", "127.0.0.1"});
  Run({"oid", ".1.3.6.1.2.1.1.99.0", "127.0.0.1"});
  using CRecord = std::pair<std::string, std::string>;
  EXPECT_EQ(ReadXml("127.0.0.1_[.1.3.6.1.2.1.1.5.1].xml"),
            std::vector<CRecord>{CRecord("1.3.6.1.2.1.1.5.1", "Type.129")})
      << "snmpd: No Such Instance";
  EXPECT_EQ(ReadXml("127.0.0.1_[.1.3.6.1.2.1.1.99.0].xml"),
            std::vector<CRecord>{CRecord("1.3.6.1.2.1.1.99.0", "Type.128")})
      << "snmpd: No Such Object";
}

// snmpd on [::1]: reached through the literal, and through a name that
// resolves to ::1 only.
TEST_F(ProgramRealAgentTest, Ipv6AgentIsWalkedThroughItsAddressAndItsName) {
  if (!std::filesystem::exists(m_strDir + "/ipv6")) GTEST_SKIP() << "this machine has no IPv6 loopback";
  const std::string& strDir = m_strDir;
  const int nPort = m_nPort;
  WriteConfig(nPort, 2000, 1);
  const auto arrAll = SnmpwalkOids(strDir, nPort, "snmpwalk -v1", "udp6:[::1]");
  const auto itStart = std::find(arrAll.begin(), arrAll.end(), "1.3.6.1.2.1.1.1.0");
  ASSERT_NE(itStart, arrAll.end());
  std::set<std::string> setExpected(itStart, arrAll.end());
  const CProcessResult result = Run({"oid", "", "::1"});
  EXPECT_EQ(Lines(result.strOutput, "target[::1]error:"), std::vector<std::string>{"target[::1]error:0"})
      << "the console keeps the target as typed";
  std::set<std::string> setStored;
  for (const auto& record : ReadXml("--1.xml")) setStored.insert(record.first);
  EXPECT_EQ(setStored, setExpected);

  // "localhost" with an IPv6 address only: a private hosts file (and no
  // name server) in a mount namespace of mibscan's own.
  if (!IsSuperUser() || RunProcess("/usr/bin/unshare", {"-m", "/bin/true"}, 30).nExitCode != 0)
    GTEST_SKIP() << "a private hosts file needs a mount namespace (root, unshare -m)";
  m_dir.WriteFile("hosts", "::1 localhost\n");
  m_dir.WriteFile("nsswitch.conf", "hosts: files\n");
  const std::string strScript = "mount --bind '" + Path("hosts") + "' /etc/hosts && mount --bind '" +
                                Path("nsswitch.conf") + "' /etc/nsswitch.conf && exec '" + m_strExe +
                                "' oid '' localhost";
  const CProcessResult named = RunProcess("/usr/bin/unshare", {"-m", "/bin/sh", "-c", strScript}, 120);
  ASSERT_EQ(named.nExitCode, 0) << named.strOutput;
  setStored.clear();
  for (const auto& record : ReadXml("localhost.xml")) setStored.insert(record.first);
  EXPECT_EQ(setStored, setExpected);
}

// SNMPv3: the fixture's users (tests/snmpd-agent), one per protocol pair.
struct CV3User {
  const char* szName;
  const char* szIni;      // config.ini lines
  const char* szOptions;  // the same for snmpwalk
};
const CV3User c_aV3Users[] = {
    {"md5des", "AuthProtocol=MD5\nAuthPassword=md5-auth-pw\nPrivProtocol=DES\nPrivPassword=md5-priv-pw\n",
     "-l authPriv -a MD5 -A md5-auth-pw -x DES -X md5-priv-pw"},
    {"shaaes", "AuthProtocol=SHA\nAuthPassword=sha-auth-pw\nPrivProtocol=AES\nPrivPassword=sha-priv-pw\n",
     "-l authPriv -a SHA -A sha-auth-pw -x AES -X sha-priv-pw"},
    {"sha256aes",
     "AuthProtocol=SHA-256\nAuthPassword=sha256-auth-pw\nPrivProtocol=AES\nPrivPassword=sha256-priv-pw\n",
     "-l authPriv -a SHA-256 -A sha256-auth-pw -x AES -X sha256-priv-pw"},
    {"sha512aes",
     "AuthProtocol=SHA-512\nAuthPassword=sha512-auth-pw\nPrivProtocol=AES\nPrivPassword=sha512-priv-pw\n",
     "-l authPriv -a SHA-512 -A sha512-auth-pw -x AES -X sha512-priv-pw"},
    {"authonly", "AuthProtocol=SHA\nAuthPassword=authonly-pw\n", "-l authNoPriv -a SHA -A authonly-pw"},
    {"noauth", "", "-l noAuthNoPriv"},
};

class Version3RealAgentTest : public ProgramRealAgentTest {
 protected:
  void WriteV3Config(const std::string& strUser, const std::string& strLines, int nTimeout = 2000,
                     int nRetry = 1, int nLog = 0) {
    WriteConfig(m_nPort, nTimeout, nRetry, nLog, "Version=3\nUser=" + strUser + "\n" + strLines);
    // A config.ini with passwords is for its owner only.
    std::filesystem::permissions(Path("config.ini"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
};

// Every protocol pair: a walk stores exactly what snmpwalk -v3 lists with
// the same user, and a GET gets the one object.
TEST_F(Version3RealAgentTest, WalksAndGetsWithEveryProtocolPair) {
  for (const CV3User& user : c_aV3Users) {
    SCOPED_TRACE(user.szName);
    const auto arrAll = SnmpwalkOids(m_strDir, m_nPort,
                                     std::string("snmpwalk -v3 -u ") + user.szName + " " + user.szOptions);
    const auto itStart = std::find(arrAll.begin(), arrAll.end(), "1.3.6.1.2.1.1.1.0");
    ASSERT_NE(itStart, arrAll.end());
    const std::set<std::string> setExpected(itStart, arrAll.end());
    WriteV3Config(user.szName, user.szIni);
    const CProcessResult result = Run({"oid", "", "127.0.0.1"});
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"),
              std::vector<std::string>{"target[127.0.0.1]error:0"});
    std::set<std::string> setStored;
    std::map<std::string, std::string> mapStored;
    for (const auto& record : ReadXml("127.0.0.1.xml")) {
      setStored.insert(record.first);
      mapStored.insert(record);
    }
    EXPECT_EQ(setStored, setExpected);
    EXPECT_EQ(DecodeBase64(mapStored["1.3.6.1.4.1.8072.9999.1.1.0"]), std::string("\xD6\xCD\0\\\xE4\xBB", 6));
    EXPECT_EQ(mapStored["1.3.6.1.4.1.8072.9999.1.2.0"], "Line one\r\nLine two\r\n");
    Run({"oid", "system.sysName.0", "127.0.0.1"});
    using CRecord = std::pair<std::string, std::string>;
    EXPECT_EQ(ReadXml("127.0.0.1_[system.sysName.0].xml"),
              std::vector<CRecord>{CRecord("1.3.6.1.2.1.1.5.0", "testagent")});
  }
  EXPECT_EQ(ReadAll(Path("127.0.0.1.xml")).find("pw"), std::string::npos) << "no password in a file";
}

TEST_F(Version3RealAgentTest, WindowWalksWithPrivacy) {
  const CV3User& user = c_aV3Users[1];  // SHA and AES
  const auto arrAll = SnmpwalkOids(m_strDir, m_nPort, std::string("snmpwalk -v3 -u ") + user.szName + " " + user.szOptions);
  const auto itStart = std::find(arrAll.begin(), arrAll.end(), "1.3.6.1.2.1.1.1.0");
  ASSERT_NE(itStart, arrAll.end());
  const std::set<std::string> setExpected(itStart, arrAll.end());
  WriteV3Config(user.szName, std::string(user.szIni) + "Window=16\n");
  const CProcessResult result = Run({"oid", "", "127.0.0.1"});
  EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"), std::vector<std::string>{"target[127.0.0.1]error:0"});
  std::set<std::string> setStored;
  for (const auto& record : ReadXml("127.0.0.1.xml")) setStored.insert(record.first);
  EXPECT_EQ(setStored, setExpected);
}

// A wrong password or user ends the walk with its code at the first
// answer (or, for privacy, after one time-out), not after every retry.
// A user whose access needs privacy, walked without: every answer is
// authorizationError. The walk shows code 64, the summary counts the
// target as failed, and --strict says so.
TEST_F(Version3RealAgentTest, RefusedUserCountsAsFailed) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "standard error is not caught there";
  WriteV3Config("shaaes", "AuthProtocol=SHA\nAuthPassword=sha-auth-pw\n", 2000, 1);
  const CProcessResult result =
      RunProcess("/bin/sh", {"-c", "exec \"$0\" --strict --progress 127.0.0.1 2>&1", m_strExe}, 120);
  EXPECT_EQ(result.nExitCode, 4) << "none answered";
  const std::string& strOut = result.strOutput;
  EXPECT_NE(strOut.find("target[127.0.0.1]error:64\n"), std::string::npos) << strOut;
  EXPECT_NE(strOut.find(": 0 answered, 0 no answer, 1 failed; "), std::string::npos) << strOut;
  EXPECT_NE(strOut.find("\n  127.0.0.1: the agent refused (an error status) (64)\n"), std::string::npos) << strOut;
}

// Each failure gives its code without waiting out the tries: counted, not
// timed, in the datagrams that a relay in front of snmpd passes on (a
// shared machine's clock says nothing). Per walk: the discovery and one
// request (61: one more, the same request without privacy, after one
// silent try); 64: the GET and ten GET-NEXTs answered authorizationError;
// 55: nothing. Retrying each request (three tries) would send more.
TEST_F(Version3RealAgentTest, WrongPasswordsAndUsersGiveTheirCodesAtOnce) {
  struct {
    const char* szUser;
    const char* szIni;
    const char* szError;
    int nMostPerWalk;
  } const rows[] = {
      {"shaaes", "AuthProtocol=SHA\nAuthPassword=not-the-pw\nPrivProtocol=AES\nPrivPassword=sha-priv-pw\n", "60", 2},
      {"shaaes", "AuthProtocol=SHA\nAuthPassword=sha-auth-pw\nPrivProtocol=AES\nPrivPassword=not-the-pw\n", "61", 3},
      {"nosuchuser", "AuthProtocol=SHA\nAuthPassword=sha-auth-pw\n", "58", 2},
      // A user without a privacy key, asked with privacy.
      {"authonly", "AuthProtocol=SHA\nAuthPassword=authonly-pw\nPrivProtocol=AES\nPrivPassword=some-priv-pw\n", "56", 2},
      {"shaaes", "PrivProtocol=AES\nPrivPassword=sha-priv-pw\n", "55", 0},   // privacy without authentication
      // A user whose access needs privacy, asked without: snmpd answers
      // authorizationError to every request.
      {"shaaes", "AuthProtocol=SHA\nAuthPassword=sha-auth-pw\n", "64", 12},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.szUser) + " " + row.szError);
    CUdpRelay relay(static_cast<uint16_t>(m_nPort), 0);
    ASSERT_TRUE(relay.Start());
    // Three tries of 2 s each, two walks a target, through the relay.
    WriteConfig(relay.Port(), 2000, 2, 1, "Version=3\nUser=" + std::string(row.szUser) + "\n" + row.szIni);
    std::filesystem::permissions(Path("config.ini"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const CProcessResult result = Run({"127.0.0.1", "127.0.0.1"});
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"),
              std::vector<std::string>(4, std::string("target[127.0.0.1]error:") + row.szError));
    EXPECT_LE(relay.Forwarded(), 4 * row.nMostPerWalk) << "no retries after a report";
    EXPECT_EQ(result.strOutput.find("not-the-pw"), std::string::npos);
    const auto arrLog = LogLines();
    EXPECT_GT(arrLog.size(), 10u);
    for (const std::string& strLine : arrLog) EXPECT_EQ(strLine.find("-pw"), std::string::npos) << strLine;
  }
}

// Three device groups in one run, by [Target] sections: the fixture's
// snmpd on 127.0.0.1 (SNMPv2c, GETBULK, community qzvtrk), and two more on
// another port: 127.0.0.2 (SNMPv1, community fleet-b) and 127.0.0.3
// (SNMPv3 only). [Config] alone would reach none of them. Each file holds
// what snmpwalk lists there with the group's credentials.
TEST_F(ProgramRealAgentTest, DeviceGroupsAreWalkedWithTheirOwnSettings) {
  // The fixture starts them beside its own snmpd.
  const std::string strFleetDir = m_strDir + "-fleet";
  int nFleetPort = 0;
  ASSERT_TRUE(std::ifstream(strFleetDir + "/port") >> nFleetPort) << "the fleet's snmpd did not start";
  const std::string strV3 = "snmpwalk -v3 -u fleetv3 -l authPriv -a SHA-256 -A fleet-auth-pw -x AES -X fleet-priv-pw";
  struct CGroup {
    const char* szTarget;
    std::string strDir;
    int nPort;
    std::string strTool;
  } const groups[] = {
      {"127.0.0.1", m_strDir, m_nPort, "snmpbulkwalk -v2c -Cr10"},
      {"127.0.0.2", strFleetDir + "/b", nFleetPort, "snmpwalk -v1 -c fleet-b"},
      {"127.0.0.3", strFleetDir + "/c", nFleetPort, strV3},
  };
  m_dir.WriteFile("config.ini",
                  "[Config]\nCommunity=nobody\nTimeout=2000\nRetry=1\nPort=" + std::to_string(nFleetPort) +
                      "\n[Target 127.0.0.1]\nVersion=2\nMaxRepetitions=10\nCommunity=qzvtrk\nPort=" +
                      std::to_string(m_nPort) +
                      "\n[Target 127.0.0.2/32]\nCommunity=fleet-b\n"
                      "[Target 127.0.0.3]\nVersion=3\nUser=fleetv3\nAuthProtocol=SHA-256\n"
                      "AuthPassword=fleet-auth-pw\nPrivProtocol=AES\nPrivPassword=fleet-priv-pw\n");
  std::filesystem::permissions(Path("config.ini"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::map<std::string, std::vector<std::string>> mapAll;
  std::map<std::string, std::map<std::string, std::string>> mapBefore;
  for (const CGroup& group : groups) {
    mapAll[group.szTarget] = SnmpwalkOids(group.strDir, group.nPort, group.strTool, group.szTarget);
    mapBefore[group.szTarget] = SnmpwalkValues(group.strDir, group.nPort, group.strTool, nullptr, group.szTarget);
  }
  const CProcessResult result = Run({"127.0.0.1", "127.0.0.2", "127.0.0.3"});
  for (const CGroup& group : groups) {
    SCOPED_TRACE(group.szTarget);
    const auto mapAfter = SnmpwalkValues(group.strDir, group.nPort, group.strTool, nullptr, group.szTarget);
    EXPECT_EQ(Lines(result.strOutput, std::string("target[") + group.szTarget + "]error:"),
              std::vector<std::string>{std::string("target[") + group.szTarget + "]error:0"});
    std::map<std::string, std::string> mapStored;
    for (const auto& [strOid, strValue] : ReadXml(std::string(group.szTarget) + ".xml")) mapStored[strOid] = strValue;
    ExpectSnmpwalkResults(mapStored, mapAll[group.szTarget], mapBefore[group.szTarget], mapAfter);
  }
}


// What to walk and how far, against snmpd: the objects stored are exactly
// the part of what snmpwalk (or snmpbulkwalk) lists that the keys ask for,
// one request at a time and with lanes.
class WalkScopeTest : public ProgramRealAgentTest {
 protected:
  struct CWay {
    const char* szIni;   // config.ini lines
    const char* szTool;  // the same with net-snmp
  };
  static constexpr CWay c_arrWays[] = {
      {"Version=1\n", "snmpwalk -v1"},
      {"Version=2\nWindow=16\nMaxRepetitions=10\n", "snmpbulkwalk -v2c -Cr10"},
  };
  void WriteScopeConfig(int nPort, const std::string& strCommunity, const std::string& strLines, int nTimeout = 2000,
                        int nRetry = 1) const {
    m_dir.WriteFile("config.ini", "[Config]\nCommunity=" + strCommunity + "\nPort=" + std::to_string(nPort) +
                                      "\nTimeout=" + std::to_string(nTimeout) + "\nRetry=" + std::to_string(nRetry) +
                                      "\n" + strLines);
    std::filesystem::permissions(Path("config.ini"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  std::vector<std::string> StoredOids(const std::string& strName = "127.0.0.1.xml") const {
    std::vector<std::string> arrOids;
    for (const auto& record : ReadXml(strName)) arrOids.push_back(record.first);
    std::sort(arrOids.begin(), arrOids.end());
    return arrOids;
  }
  // snmpwalk's OIDs from sysDescr.0 on that fnKeep keeps, sorted as text.
  template <typename FKeep>
  static std::vector<std::string> Kept(const std::vector<std::string>& arrAll, FKeep fnKeep) {
    auto itStart = std::find(arrAll.begin(), arrAll.end(), "1.3.6.1.2.1.1.1.0");
    std::vector<std::string> arrKept;
    for (; itStart != arrAll.end(); ++itStart)
      if (fnKeep(*itStart)) arrKept.push_back(*itStart);
    std::sort(arrKept.begin(), arrKept.end());
    return arrKept;
  }
  static bool Inside(const std::string& strOid, const std::string& strRoot) {
    return strOid == strRoot || strOid.starts_with(strRoot + ".");
  }
};

// Exclude: the installed and the running software (thousands of rows on
// any Debian machine) are neither stored nor asked for; everything else
// is, as snmpwalk lists it.
TEST_F(WalkScopeTest, ExcludedSubtreesAreNeverAskedFor) {
  const std::vector<std::string> arrRoots{"1.3.6.1.2.1.25.6", "1.3.6.1.2.1.25.4"};
  const auto fnOutside = [&](const std::string& strOid) {
    return std::none_of(arrRoots.begin(), arrRoots.end(), [&](const std::string& strRoot) { return Inside(strOid, strRoot); });
  };
  for (const CWay& way : c_arrWays) {
    SCOPED_TRACE(way.szIni);
    const std::string strTool = std::string(way.szTool) + " -c kxhost";
    const auto arrBefore = SnmpwalkOids(m_strDir, m_nPort, strTool);
    ASSERT_GT(std::count_if(arrBefore.begin(), arrBefore.end(), [&](const std::string& s) { return !fnOutside(s); }), 10)
        << "snmpd serves both subtrees";
    CUdpRelay relay(static_cast<uint16_t>(m_nPort), 0);
    relay.SetRecordRequests();
    ASSERT_TRUE(relay.Start());
    WriteScopeConfig(relay.Port(), "kxhost", std::string(way.szIni) + "Exclude=.1.3.6.1.2.1.25.6, .1.3.6.1.2.1.25.4\n");
    const CProcessResult result = Run({"oid", "", "127.0.0.1"});
    relay.Stop();
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"), std::vector<std::string>{"target[127.0.0.1]error:0"});
    const std::vector<std::string> arrStored = StoredOids();
    // The machine's tables may change between two walks: either snmpwalk
    // around the scan will do.
    if (arrStored != Kept(arrBefore, fnOutside)) {
      EXPECT_EQ(arrStored, Kept(SnmpwalkOids(m_strDir, m_nPort, strTool), fnOutside));
    }
    EXPECT_GT(arrStored.size(), 50u);
    for (const std::string& strOid : relay.RequestedOids()) EXPECT_TRUE(fnOutside(strOid)) << strOid << " asked for";
    EXPECT_FALSE(relay.RequestedOids().empty());
  }
}

// Walk: three subtrees, named and numbered, into one file: the union of
// their snmpwalks, and no object of another subtree.
TEST_F(WalkScopeTest, ListedSubtreesStoreTheUnionOfTheirWalks) {
  const std::vector<std::string> arrRoots{"1.3.6.1.2.1.1", "1.3.6.1.2.1.2.2", "1.3.6.1.2.1.31"};
  const auto fnListed = [&](const std::string& strOid) {
    return std::any_of(arrRoots.begin(), arrRoots.end(), [&](const std::string& strRoot) { return Inside(strOid, strRoot); });
  };
  for (const CWay& way : c_arrWays) {
    SCOPED_TRACE(way.szIni);
    const auto arrAll = SnmpwalkOids(m_strDir, m_nPort, way.szTool);
    WriteScopeConfig(m_nPort, "qzvtrk", std::string(way.szIni) + "Walk=system, interfaces.ifTable, .1.3.6.1.2.1.31\n");
    const CProcessResult result = Run({"oid", "", "127.0.0.1"});
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]start:"),
              (std::vector<std::string>{"target[127.0.0.1]start:system", "target[127.0.0.1]start:interfaces.ifTable",
                                        "target[127.0.0.1]start:.1.3.6.1.2.1.31"}));
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"),
              std::vector<std::string>(3, "target[127.0.0.1]error:0"));
    const std::vector<std::string> arrExpected = Kept(arrAll, fnListed);
    EXPECT_GT(arrExpected.size(), 50u);
    EXPECT_EQ(StoredOids(), arrExpected);
  }
}

// MaxObjects: exactly that many, the first in the walk's order, with the
// cap's own code; --strict counts the target as failed.
TEST_F(WalkScopeTest, MaxObjectsStoresExactlyThatMany) {
  for (const CWay& way : c_arrWays) {
    SCOPED_TRACE(way.szIni);
    const auto arrAll = SnmpwalkOids(m_strDir, m_nPort, way.szTool);
    auto itStart = std::find(arrAll.begin(), arrAll.end(), "1.3.6.1.2.1.1.1.0");
    ASSERT_GT(arrAll.end() - itStart, 150);
    std::vector<std::string> arrFirst(itStart, itStart + 100);
    std::sort(arrFirst.begin(), arrFirst.end());
    WriteScopeConfig(m_nPort, "qzvtrk", std::string(way.szIni) + "MaxObjects=100\n");
    const CProcessResult result = Run({"oid", "", "127.0.0.1"});
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"), std::vector<std::string>{"target[127.0.0.1]error:66"});
    EXPECT_EQ(StoredOids(), arrFirst);
    const CProcessResult strict = RunProcess(m_strExe, {"--strict", "oid", "", "127.0.0.1"}, 120);
    EXPECT_EQ(strict.nExitCode, 4) << "the one target was capped";
  }
}

// MaxSeconds against an agent 200 ms away, whose full walk takes a
// minute: the scan ends within the cap and one time-out (with room for a
// loaded machine), and keeps what it read, in the walk's order.
TEST_F(WalkScopeTest, MaxSecondsEndsASlowWalk) {
  const auto arrAll = SnmpwalkOids(m_strDir, m_nPort);
  const auto itStart = std::find(arrAll.begin(), arrAll.end(), "1.3.6.1.2.1.1.1.0");
  CUdpRelay relay(static_cast<uint16_t>(m_nPort), 100);
  ASSERT_TRUE(relay.Start());
  WriteScopeConfig(relay.Port(), "qzvtrk", "MaxSeconds=2\n", 1000, 3);
  const auto start = std::chrono::steady_clock::now();
  const CProcessResult result = Run({"--report", "oid", "", "127.0.0.1"});
  const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(dSeconds, 2.0 + 1.0 + 2.0);
  EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:"), std::vector<std::string>{"target[127.0.0.1]error:67"});
  const std::vector<std::string> arrStored = StoredOids();
  ASSERT_FALSE(arrStored.empty());
  ASSERT_LT(arrStored.size(), static_cast<size_t>(arrAll.end() - itStart));
  std::vector<std::string> arrFirst(itStart, itStart + static_cast<std::ptrdiff_t>(arrStored.size()));
  std::sort(arrFirst.begin(), arrFirst.end());
  EXPECT_EQ(arrStored, arrFirst);
  std::ifstream json(Path("scan.json"));
  const std::string strJson((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  EXPECT_NE(strJson.find("\"outcome\":\"capped\""), std::string::npos);
}

// An SNMPv3 user list whose first entry the agent refuses: the report
// comes back at once, so the list costs one request more than the right
// user alone (counted at the relay), and the file is the same.
TEST_F(WalkScopeTest, UserListPaysOneRoundTripForAWrongUser) {
  const std::string strRight = "User=authonly\nAuthProtocol=SHA\nAuthPassword=authonly-pw\n";
  const auto walk = [&](const std::string& strLines, CProcessResult* pResult) {
    CUdpRelay relay(static_cast<uint16_t>(m_nPort), 0);
    EXPECT_TRUE(relay.Start());
    WriteScopeConfig(relay.Port(), "qzvtrk", "Version=3\n" + strLines);
    *pResult = Run({"oid", "", "127.0.0.1"});
    relay.Stop();
    return relay.Forwarded();
  };
  CProcessResult alone;
  const int nAlone = walk(strRight, &alone);
  EXPECT_TRUE(Lines(alone.strOutput, "target[127.0.0.1]credential:").empty()) << "no list, no line";
  const std::vector<std::string> arrAlone = StoredOids();
  ASSERT_GT(arrAlone.size(), 50u);
  struct CWrong {
    const char* szName;
    std::string strLines;
  } const wrongs[] = {
      {"unknown user", "User=nosuchuser\nAuthProtocol=SHA\nAuthPassword=nosuch-pw\nUser2=authonly\nAuthPassword2=authonly-pw\n"},
      {"wrong password", "User=authonly\nAuthProtocol=SHA\nAuthPassword=wrong-password\nUser3=authonly\nAuthPassword3=authonly-pw\n"},
  };
  for (const CWrong& wrong : wrongs) {
    SCOPED_TRACE(wrong.szName);
    CProcessResult listed;
    EXPECT_EQ(walk(wrong.strLines, &listed), nAlone + 1);
    EXPECT_EQ(Lines(listed.strOutput, "target[127.0.0.1]credential:"),
              std::vector<std::string>{std::string("target[127.0.0.1]credential:") + (wrong.szName[0] == 'u' ? "2" : "3")});
    EXPECT_EQ(Lines(listed.strOutput, "target[127.0.0.1]error:"), std::vector<std::string>{"target[127.0.0.1]error:0"});
    EXPECT_EQ(StoredOids(), arrAlone);
  }
  // An entry whose settings cannot work is never tried: it costs nothing;
  // a list of none that can work sends nothing (55).
  CProcessResult skipped;
  EXPECT_EQ(walk("User=authonly\nAuthProtocol=SHA\nAuthPassword=short\nUser2=authonly\nAuthPassword2=authonly-pw\n",
                 &skipped),
            nAlone);
  EXPECT_EQ(Lines(skipped.strOutput, "target[127.0.0.1]credential:"),
            std::vector<std::string>{"target[127.0.0.1]credential:2"});
  CProcessResult none;
  EXPECT_EQ(walk("User=authonly\nAuthProtocol=SHA\nAuthPassword=short\nUser2=authonly\nPrivProtocol2=AES\n", &none), 0);
  // The walk and the sysUpTime.0 supplement, as with one user that cannot work.
  EXPECT_EQ(Lines(none.strOutput, "target[127.0.0.1]error:"), std::vector<std::string>(2, "target[127.0.0.1]error:55"));
}

}  // namespace
