#include "tests/TestAgent.h"

#include <gtest/gtest.h>


#include <cstdio>
#include <filesystem>

#include "snmp/SnmpOid.h"
#include "snmp/SnmpSession.h"
#include "platform/UdpSocket.h"

namespace {

AsnAny GetValue(uint16_t uPort, const char* szAddress, const char* szOid, int32_t* pnStatus) {
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen(szAddress, "qzvtrk", 1000, 1, uPort);
  SnmpVarBindList bindings(1);
  EXPECT_TRUE(SnmpMgrStrToOid(szOid, &bindings[0].name));
  int32_t nIndex = 0;
  *pnStatus = -1;
  EXPECT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, pnStatus, &nIndex));
  SnmpMgrClose(pSession);
  return bindings.empty() ? AsnAny{} : bindings[0].value;
}

TEST(CTestAgentTest, ReadsSnmprecValues) {
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(
      "# comment\r\n"
      "1.3.6.1.2.1.1.1.0|4|a|b\r\n"
      "1.3.6.1.2.1.1.2.0|6|1.3.6.1.4.1.8072\n"
      "1.3.6.1.2.1.2.2.1.6.2|4x|001a2b\n"
      "1.3.6.1.2.1.4.20.1.1.1|64|10.0.0.1\n"
      "1.3.6.1.2.1.4.20.1.1.2|64|J}M}\n"
      "1.3.6.1.2.1.31.1.1.1.6.1|70|18446744073709551615\n"
      "1.3.6.1.2.1.1.7.0|2|-72\n",
      &strErr)) << strErr;
  EXPECT_EQ(agent.RecordCount(), 7u);
  ASSERT_TRUE(agent.Start());
  int32_t nStatus = 0;
  EXPECT_EQ(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.1.1.0", &nStatus).strBytes, "a|b");
  EXPECT_EQ(OidToText(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.1.2.0", &nStatus).oid),
            "1.3.6.1.4.1.8072");
  EXPECT_EQ(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.2.2.1.6.2", &nStatus).strBytes,
            std::string("\x00\x1a\x2b", 3));
  EXPECT_EQ(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.4.20.1.1.1", &nStatus).strBytes,
            std::string("\x0a\x00\x00\x01", 4));
  EXPECT_EQ(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.4.20.1.1.2", &nStatus).strBytes, "J}M}");
  EXPECT_EQ(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.31.1.1.1.6.1", &nStatus).uCounter64,
            ~0ull);
  EXPECT_EQ(GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.1.7.0", &nStatus).nNumber, -72);
  GetValue(agent.Port(), "127.0.0.1", ".1.3.6.1.2.1.1.9.0", &nStatus);
  EXPECT_EQ(nStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
}

// The raw answer of the agent on 127.0.0.1 to a GET of szOid.
std::string RawAnswer(uint16_t uPort, const char* szOid) {
  CSnmpMessage request;
  request.strCommunity = "qzvtrk";
  request.nRequestId = 9;
  request.bindings.resize(1);
  EXPECT_TRUE(SnmpMgrStrToOid(szOid, &request.bindings[0].name));
  std::string strRequest;
  EXPECT_TRUE(EncodeSnmpMessage(request, &strRequest));
  SAgentAddress agent;
  int nError = 0;
  CUdpSocket socket;
  char buffer[2048];
  size_t nLen = 0;
  if (ResolveAgentAddress("127.0.0.1", false, true, uPort, &agent, &nError) != EResolve::Found ||
      !socket.Open(agent) || !socket.Send(strRequest) ||
      socket.Receive(buffer, sizeof buffer, 2000, &nLen) != CUdpSocket::EReceive::Datagram)
    return std::string();
  return std::string(buffer, nLen);
}

TEST(CTestAgentTest, NonMinimalAnswersDecodeToTheSameMessage) {
  constexpr char c_szRecords[] = "1.3.6.1.2.1.1.3.0|67|4294967295\n1.3.6.1.2.1.1.7.0|2|-72\n";
  CTestAgent plain;
  CTestAgent longer;
  std::string strErr;
  ASSERT_TRUE(plain.LoadSnmprec(c_szRecords, &strErr));
  ASSERT_TRUE(longer.LoadSnmprec(c_szRecords, &strErr));
  longer.SetMisbehaviour({.bNonMinimal = true});
  ASSERT_TRUE(plain.Start());
  ASSERT_TRUE(longer.Start());
  for (const char* szOid : {".1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.1.7.0"}) {
    const std::string strPlain = RawAnswer(plain.Port(), szOid);
    const std::string strLonger = RawAnswer(longer.Port(), szOid);
    ASSERT_GE(strLonger.size(), 2u);
    EXPECT_EQ(static_cast<uint8_t>(strLonger[1]), 0x85) << "long-form length";
    EXPECT_GT(strLonger.size(), strPlain.size() + 30);
    CSnmpMessage plainMessage;
    CSnmpMessage longerMessage;
    ASSERT_TRUE(DecodeSnmpMessage(strPlain, &plainMessage));
    ASSERT_TRUE(DecodeSnmpMessage(strLonger, &longerMessage));
    EXPECT_EQ(longerMessage, plainMessage);
  }
}

TEST(CTestAgentTest, RefusesBadSnmprecLines) {
  for (const char* szLine : {"1.3.6|4", "x.3|4|v", "1.3|4z|v", "1.3|2|12x", "1.3|65|-1",
                             "1.3|4x|abc", "1.3|64|1.2.3"}) {
    CTestAgent agent;
    std::string strErr;
    EXPECT_FALSE(agent.LoadSnmprec(szLine, &strErr)) << szLine;
    EXPECT_NE(strErr.find("line 1"), std::string::npos);
  }
}

TEST(CTestAgentTest, ServesSeveralLoopbackAddressesOnOnePort) {
  SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE();
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec("1.3.6.1.2.1.1.5.0|4|many\n", &strErr));
  ASSERT_TRUE(agent.Start({"127.0.0.2", "127.0.0.3"}));
  for (const char* szAddress : {"127.0.0.2", "127.0.0.3"}) {
    int32_t nStatus = -1;
    EXPECT_EQ(GetValue(agent.Port(), szAddress, "system.sysName.0", &nStatus).strBytes, "many");
  }
  EXPECT_EQ(agent.RequestCount(), 2);
}

// A recorded device from Debian's snmpsim package, walked whole in OID order.
TEST(CTestAgentTest, WalksARecordedDevice) {
  const std::string strText = RecordedLinuxWalk();
  if (strText.empty()) GTEST_SKIP() << "snmpsim is not installed";
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(strText, &strErr)) << strErr;
  ASSERT_TRUE(agent.Start());
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 1000, 1, agent.Port());
  SnmpVarBindList bindings(1);
  ASSERT_TRUE(SnmpMgrStrToOid(".1.3", &bindings[0].name));
  int32_t nStatus = 0;
  int32_t nIndex = 0;
  size_t nSeen = 0;
  std::vector<uint32_t> previous;
  while (SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex) && nStatus == 0) {
    ASSERT_LT(previous, bindings[0].name.ids);
    previous = bindings[0].name.ids;
    ++nSeen;
  }
  SnmpMgrClose(pSession);
  EXPECT_EQ(nStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
  EXPECT_EQ(nSeen, agent.RecordCount());
}

}  // namespace
