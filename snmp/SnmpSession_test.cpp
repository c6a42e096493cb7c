#include "snmp/SnmpSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "platform/UdpSocket.h"
#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"
#include "tests/TestAgent.h"

namespace {

using CClock = std::chrono::steady_clock;

constexpr char c_szRecords[] =
    "1.3.6.1.2.1.1.1.0|4|BEFSX41\n"
    "1.3.6.1.2.1.1.2.0|6|1.3.6.1.4.1.3955.1.1\n"
    "1.3.6.1.2.1.1.3.0|67|638239\n"
    "1.3.6.1.2.1.1.5.0|4|isp-gw\n"
    "1.3.6.1.2.1.2.2.1.6.1|4x|001a2b3c4d5e\n";

class SnmpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string strErr;
    ASSERT_TRUE(m_agent.LoadSnmprec(c_szRecords, &strErr)) << strErr;
  }
  void Start(const CTestAgent::CMisbehaviour& misbehaviour = {}) {
    m_agent.SetMisbehaviour(misbehaviour);
    ASSERT_TRUE(m_agent.Start());
  }
  LPSNMP_MGR_SESSION Open(int nTimeoutMs, int nRetries, const char* szCommunity = "qzvtrk") {
    return SnmpMgrOpen("127.0.0.1", szCommunity, nTimeoutMs, nRetries, m_agent.Port());
  }
  static SnmpVarBindList Binding(const char* szOid) {
    SnmpVarBindList bindings(1);
    EXPECT_TRUE(SnmpMgrStrToOid(szOid, &bindings[0].name));
    return bindings;
  }
  CTestAgent m_agent;
};

TEST_F(SnmpSessionTest, GetThenGetNextWalksInOrderAndEndsWithNoSuchName) {
  Start();
  LPSNMP_MGR_SESSION pSession = Open(1000, 1);
  ASSERT_NE(pSession, nullptr);
  SnmpVarBindList bindings = Binding("system.sysDescr.0");
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(GetLastError(), SNMP_MGR_OK);
  EXPECT_EQ(nStatus, 0);
  ASSERT_EQ(bindings.size(), 1u);
  EXPECT_EQ(bindings[0].value.strBytes, "BEFSX41");
  std::vector<std::string> arrSeen;
  while (SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex) && nStatus == 0)
    arrSeen.push_back(OidToText(bindings[0].name));
  EXPECT_EQ(arrSeen, (std::vector<std::string>{"1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0",
                                                "1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.2.2.1.6.1"}));
  EXPECT_EQ(nStatus, SNMP_ERRORSTATUS_NOSUCHNAME);
  EXPECT_EQ(nIndex, 1);
  EXPECT_EQ(OidToText(bindings[0].name), "1.3.6.1.2.1.2.2.1.6.1");  // the request's binding
  EXPECT_TRUE(SnmpMgrClose(pSession));
}

TEST_F(SnmpSessionTest, SilentAgentGetsOnePlusRetrySendsOfTheTimeout) {
  Start({.nSilentAfter = 0});
  LPSNMP_MGR_SESSION pSession = Open(60, 2);
  SnmpVarBindList bindings = Binding("system.sysDescr.0");
  const SnmpVarBindList before = bindings;
  int32_t nStatus = 0;
  int32_t nIndex = 0;
  const auto start = CClock::now();
  EXPECT_FALSE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_GE(CClock::now() - start, std::chrono::milliseconds(3 * 60));
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
  EXPECT_EQ(bindings, before);
  EXPECT_EQ(m_agent.RequestCountOnceAtLeast(3), 3);
  SnmpMgrClose(pSession);
}

TEST_F(SnmpSessionTest, RetryCountOfZeroOrLessSendsOnce) {
  Start({.nSilentAfter = 0});
  for (int nRetries : {0, -1, -2147483647 - 1}) {
    LPSNMP_MGR_SESSION pSession = Open(20, nRetries);
    SnmpVarBindList bindings = Binding("system.sysDescr.0");
    int32_t nStatus = 0;
    int32_t nIndex = 0;
    const int nBefore = m_agent.RequestCount();
    EXPECT_FALSE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
    EXPECT_EQ(m_agent.RequestCountOnceAtLeast(nBefore + 1) - nBefore, 1) << nRetries;
    SnmpMgrClose(pSession);
  }
}

TEST_F(SnmpSessionTest, TimeoutOfZeroOrLessWaitsTheDefault) {
  Start({.nSilentAfter = 0});
  for (int nTimeout : {0, -5}) {
    LPSNMP_MGR_SESSION pSession = Open(nTimeout, 0);
    SnmpVarBindList bindings = Binding("system.sysDescr.0");
    int32_t nStatus = 0;
    int32_t nIndex = 0;
    const auto start = CClock::now();
    EXPECT_FALSE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
    EXPECT_GE(CClock::now() - start, std::chrono::milliseconds(c_nDefaultTimeoutMs));
    SnmpMgrClose(pSession);
  }
}

TEST_F(SnmpSessionTest, StrayDatagramsAreDroppedAndTheAnswerStillTaken) {
  Start({.bGarbageFirst = true,
         .bWrongIdFirst = true,
         .bWrongCommunityFirst = true,
         .bOtherPortFirst = true});
  LPSNMP_MGR_SESSION pSession = Open(2000, 0);
  SnmpVarBindList bindings = Binding("system.sysName.0");
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(bindings[0].value.strBytes, "isp-gw");
  EXPECT_EQ(m_agent.RequestCount(), 1);
  SnmpMgrClose(pSession);
}

// A device that answers from another of its addresses: refused as a
// stranger's datagram, unless answers from any address are accepted. Even
// then a datagram with another request-id or community, or malformed, from
// that address is dropped, and the real answer taken.
TEST_F(SnmpSessionTest, AnswersFromAnotherAddressOnlyWhenAccepted) {
  Start({.bGarbageFirst = true, .bWrongIdFirst = true, .bWrongCommunityFirst = true, .bOnlyFromOtherPort = true});
  for (const bool bAny : {false, true}) {
    LPSNMP_MGR_SESSION pSession = Open(bAny ? 2000 : 100, 0);
    ASSERT_NE(pSession, nullptr);
    if (bAny) {
      ASSERT_TRUE(SnmpMgrSetAnyReplyAddress(pSession));
    }
    SnmpVarBindList bindings = Binding("system.sysName.0");
    int32_t nStatus = -1;
    int32_t nIndex = -1;
    EXPECT_EQ(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex), bAny);
    if (bAny) {
      EXPECT_EQ(bindings[0].value.strBytes, "isp-gw");
      // The next request is answered as well: nothing stray is left over.
      ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex));
      EXPECT_EQ(OidToText(bindings[0].name), "1.3.6.1.2.1.2.2.1.6.1");
    } else {
      EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
    }
    SnmpMgrClose(pSession);
  }
  EXPECT_FALSE(SnmpMgrSetAnyReplyAddress(nullptr));
}

TEST_F(SnmpSessionTest, WrongCommunityGetsNoAnswer) {
  Start();
  LPSNMP_MGR_SESSION pSession = Open(30, 0, "public");
  SnmpVarBindList bindings = Binding("system.sysName.0");
  int32_t nStatus = 0;
  int32_t nIndex = 0;
  EXPECT_FALSE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
  SnmpMgrClose(pSession);
}

// An answer that comes after its request's one try ran out is counted as
// late, never taken: the next request takes its own answer.
TEST_F(SnmpSessionTest, AnswerAfterTheLastTryIsCountedLateNotTaken) {
  Start({.nDelayMs = 150});
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 60, 3, m_agent.Port(), 2);
  ASSERT_NE(pSession, nullptr);
  SnmpVarBindList bindings = Binding("system.sysDescr.0");
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  EXPECT_FALSE(SnmpMgrRequestBulk(pSession, 4, &bindings, &nStatus, &nIndex, 1)) << "one try of 60 ms";
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
  EXPECT_EQ(SnmpMgrLateAnswers(pSession), 0);
  bindings = Binding("system.sysName.0");
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  ASSERT_EQ(bindings.size(), 1u) << "not the bulk's four";
  EXPECT_EQ(bindings[0].value.strBytes, "isp-gw");
  EXPECT_EQ(SnmpMgrLateAnswers(pSession), 1);
  SnmpMgrClose(pSession);
  EXPECT_EQ(SnmpMgrLateAnswers(nullptr), 0);
}

// An agent slower than the time-out: its answer to the first try arrives
// while a re-send is waiting, and is taken. The late answers to the
// re-sends then reach the next request, which must not take them.
TEST_F(SnmpSessionTest, LateAnswerToAnEarlierTryIsTakenAndOldAnswersAreNot) {
  Start({.nDelayMs = 150});
  LPSNMP_MGR_SESSION pSession = Open(100, 3);
  SnmpVarBindList bindings = Binding("system.sysDescr.0");
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(bindings[0].value.strBytes, "BEFSX41");
  EXPECT_GE(m_agent.RequestCount(), 2);
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(OidToText(bindings[0].name), "1.3.6.1.2.1.1.2.0");
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(OidToText(bindings[0].name), "1.3.6.1.2.1.1.3.0");
  SnmpMgrClose(pSession);
}

TEST_F(SnmpSessionTest, ErrorStatusComesBackWithTheAnswer) {
  Start({.setErrorRequests = {2}, .nErrorStatus = SNMP_ERRORSTATUS_GENERR});
  LPSNMP_MGR_SESSION pSession = Open(1000, 0);
  SnmpVarBindList bindings = Binding("system.sysDescr.0");
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(nStatus, 0);
  ASSERT_TRUE(SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(nStatus, SNMP_ERRORSTATUS_GENERR);
  EXPECT_EQ(nIndex, 1);
  SnmpMgrClose(pSession);
}

// IPv6: a literal, with or without a zone, is reached over IPv6; a
// Several requests in flight on one session: every answer is matched by
// its request-id, whatever order the answers come in and whatever stray
// datagrams (garbage, another id, another community) come first.
TEST_F(SnmpSessionTest, RequestsInFlightGetTheirOwnAnswers) {
  for (const bool bStrays : {false, true}) {
    SCOPED_TRACE(bStrays ? "with stray datagrams first" : "plain");
    CTestAgent::CMisbehaviour misbehaviour;
    misbehaviour.bGarbageFirst = misbehaviour.bWrongIdFirst = misbehaviour.bWrongCommunityFirst = bStrays;
    Start(misbehaviour);
    LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 1000, 1, m_agent.Port(), 2);
    ASSERT_NE(pSession, nullptr);
    const char* aszAsked[] = {"system.sysDescr.0", "system.sysObjectID.0", "system.sysUpTime.0",
                              "system.sysName.0"};
    std::map<int32_t, std::string> mapAsked;
    for (const char* szOid : aszAsked) {
      int32_t nId = 0;
      ASSERT_TRUE(SnmpMgrSend(pSession, SNMP_PDU_GET, 0, Binding(szOid), &nId));
      mapAsked[nId] = OidToText(Binding(szOid)[0].name);
    }
    EXPECT_EQ(mapAsked.size(), 4u) << "ids are unique";
    for (size_t i = 0; i < std::size(aszAsked); ++i) {
      int32_t nId = 0;
      SnmpVarBindList bindings;
      int32_t nStatus = -1;
      int32_t nIndex = -1;
      ASSERT_TRUE(SnmpMgrReceive(pSession, &nId, &bindings, &nStatus, &nIndex)) << GetLastError();
      ASSERT_EQ(mapAsked.count(nId), 1u) << "an answer to a request in flight, once";
      ASSERT_EQ(bindings.size(), 1u);
      EXPECT_EQ(OidToText(bindings[0].name), mapAsked[nId]);
      mapAsked.erase(nId);
    }
    EXPECT_EQ(SnmpMgrResends(pSession), 0);
    int32_t nId = -1;
    SnmpVarBindList bindings;
    int32_t nStatus = -1;
    int32_t nIndex = -1;
    EXPECT_FALSE(SnmpMgrReceive(pSession, &nId, &bindings, &nStatus, &nIndex)) << "nothing in flight";
    EXPECT_EQ(nId, 0);
    EXPECT_TRUE(SnmpMgrClose(pSession));
    m_agent.Stop();
  }
}

// A wide window of requests sent together: their answers arrive together
// and wait in the session's socket until taken, none dropped for want of
// room there (each would be sent again a time-out later).
TEST_F(SnmpSessionTest, AWindowOfAnswersWaitsInTheSocket) {
  // 200 answers of some 330 bytes: Linux's default buffer holds 166 of
  // them, what the session asks for (granted at least twice that) all.
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec("1.3.6.1.2.1.1.1.0|4|" + std::string(300, 'x') + "\n", &strErr)) << strErr;
  ASSERT_TRUE(agent.Start());
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 5000, 1, agent.Port(), 2);
  ASSERT_NE(pSession, nullptr);
  constexpr int c_nWindow = 200;
  const int nBefore = agent.RequestCount();
  for (int i = 0; i < c_nWindow; ++i) {
    int32_t nId = 0;
    ASSERT_TRUE(SnmpMgrSend(pSession, SNMP_PDU_GET, 0, Binding("system.sysDescr.0"), &nId));
  }
  // Every answer is sent before the first is taken.
  EXPECT_GE(agent.RequestCountOnceAtLeast(nBefore + c_nWindow) - nBefore, c_nWindow);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (int i = 0; i < c_nWindow; ++i) {
    int32_t nId = 0;
    SnmpVarBindList bindings;
    int32_t nStatus = -1;
    int32_t nIndex = -1;
    ASSERT_TRUE(SnmpMgrReceive(pSession, &nId, &bindings, &nStatus, &nIndex)) << i << ": " << GetLastError();
  }
  EXPECT_EQ(SnmpMgrResends(pSession), 0);
  EXPECT_TRUE(SnmpMgrClose(pSession));
}

// A request in flight that is never answered is re-sent and then ends on
// its own, while the others are answered.
TEST_F(SnmpSessionTest, UnansweredRequestInFlightEndsAlone) {
  Start({.nSilentAfter = 1});
  LPSNMP_MGR_SESSION pSession = Open(100, 1);
  ASSERT_NE(pSession, nullptr);
  int32_t nAnswered = 0;
  int32_t nSilent = 0;
  ASSERT_TRUE(SnmpMgrSend(pSession, SNMP_PDU_GET, 0, Binding("system.sysName.0"), &nAnswered));
  ASSERT_TRUE(SnmpMgrSend(pSession, SNMP_PDU_GET, 0, Binding("system.sysDescr.0"), &nSilent));
  int32_t nId = 0;
  SnmpVarBindList bindings;
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  ASSERT_TRUE(SnmpMgrReceive(pSession, &nId, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(nId, nAnswered);
  EXPECT_FALSE(SnmpMgrReceive(pSession, &nId, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(nId, nSilent);
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
  EXPECT_EQ(SnmpMgrResends(pSession), 1);
  EXPECT_EQ(m_agent.RequestCountOnceAtLeast(3), 3);
  SnmpMgrClose(pSession);
}

// version 2 session speaks SNMPv2c and can ask in bulk.
TEST_F(SnmpSessionTest, Ipv6AgentsAndBulkRequests) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  m_agent.SetMisbehaviour({});
  ASSERT_TRUE(m_agent.Start({"::1"}));
  for (const char* szAgent : {"::1", "0:0:0:0:0:0:0:1"}) {
    SCOPED_TRACE(szAgent);
    LPSNMP_MGR_SESSION pSession = SnmpMgrOpen(szAgent, "qzvtrk", 1000, 0, m_agent.Port(), 2);
    ASSERT_NE(pSession, nullptr) << GetLastError() << " " << WSAGetLastError();
    SnmpVarBindList bindings = Binding("system.sysDescr.0");
    int32_t nStatus = -1;
    int32_t nIndex = -1;
    ASSERT_TRUE(SnmpMgrRequestBulk(pSession, 3, &bindings, &nStatus, &nIndex));
    EXPECT_EQ(nStatus, 0);
    ASSERT_EQ(bindings.size(), 3u);
    EXPECT_EQ(OidToText(bindings[2].name), "1.3.6.1.2.1.1.5.0");
    EXPECT_TRUE(SnmpMgrClose(pSession));
  }
  // SNMPv1 has no GETBULK.
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("::1", "qzvtrk", 1000, 0, m_agent.Port(), 1);
  SnmpVarBindList bindings = Binding("system.sysDescr.0");
  int32_t nStatus = -1;
  int32_t nIndex = -1;
  EXPECT_FALSE(SnmpMgrRequestBulk(pSession, 3, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_INVALID_SESSION);
  EXPECT_TRUE(SnmpMgrClose(pSession));
  // A link-local address with its zone resolves (whether the system can
  // route to it is another matter).
  LPSNMP_MGR_SESSION pZoned = SnmpMgrOpen("fe80::1%lo", "qzvtrk", 1000, 0, m_agent.Port(), 2);
  if (pZoned == nullptr) {
    EXPECT_NE(GetLastError(), SNMP_MGR_ERROR_RESOLVE);
  }
  SnmpMgrClose(pZoned);
  EXPECT_TRUE(IsIpv6Literal("fe80::1%eth0"));
  EXPECT_FALSE(IsIpv6Literal("127.0.0.1"));
  EXPECT_FALSE(IsIpv6Literal("localhost"));
}

TEST(SnmpMgrOpenTest, UnresolvableHostFails) {
  EXPECT_EQ(SnmpMgrOpen("no-such-agent.invalid", "qzvtrk", 100, 0), nullptr);
  EXPECT_EQ(GetLastError(), SNMP_MGR_ERROR_RESOLVE);
  EXPECT_EQ(SnmpMgrOpen("Agent.INVALID.", "qzvtrk", 100, 0), nullptr);
  EXPECT_EQ(SnmpMgrOpen("", "qzvtrk", 100, 0), nullptr);
  EXPECT_EQ(GetLastError(), SNMP_MGR_ERROR_RESOLVE);
}

TEST(SnmpMgrRequestTest, NullSessionFails) {
  SnmpVarBindList bindings;
  int32_t nStatus = 0;
  int32_t nIndex = 0;
  EXPECT_FALSE(SnmpMgrRequest(nullptr, SNMP_PDU_GET, &bindings, &nStatus, &nIndex));
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_INVALID_SESSION);
  EXPECT_FALSE(SnmpMgrClose(nullptr));
}

}  // namespace
