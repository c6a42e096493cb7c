// The SNMP manager against a real agent: Debian's snmpd, started by the
// CTest fixture (snmpd-agent) with a private configuration, compared with
// what net-snmp's own snmpwalk reads from the same agent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "platform/SnmpOid.h"
#include "platform/SnmpSession.h"

namespace {

class RealAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* szDir = std::getenv("MIBSCAN_SNMPD_DIR");
    if (szDir == nullptr) GTEST_SKIP() << "run through ctest: the snmpd fixture sets MIBSCAN_SNMPD_DIR";
    m_strDir = szDir;
    std::ifstream portFile(m_strDir + "/port");
    ASSERT_TRUE(portFile >> m_nPort) << "snmpd fixture did not start";
  }

  // The OIDs that "snmpwalk -v1 -On" lists from .1.3, without the dot.
  std::vector<std::string> SnmpwalkOids() const {
    const std::string strCommand = "SNMP_PERSISTENT_DIR=" + m_strDir + "/persist SNMPCONFPATH=" +
                                   m_strDir + " snmpwalk -v1 -c qzvtrk -On -m '' -t 2 -r 1 " +
                                   "127.0.0.1:" + std::to_string(m_nPort) + " .1.3 2>/dev/null";
    std::vector<std::string> arrOids;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (pPipe == nullptr) return arrOids;
    char szLine[4096];
    while (std::fgets(szLine, sizeof szLine, pPipe) != nullptr) {
      const std::string strLine = szLine;
      if (strLine.size() > 1 && strLine[0] == '.') arrOids.push_back(strLine.substr(1, strLine.find(' ') - 1));
    }
    pclose(pPipe);
    return arrOids;
  }

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

}  // namespace
