// SNMPv3 sessions against a scripted agent of the test's own, for what
// snmpd cannot be made to do: a notInTimeWindow report, answers that fail
// authentication.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"
#include "snmp/SnmpSession.h"
#include "snmp/SnmpV3.h"
#include "snmp/UsmCrypto.h"
#include "tests/UdpEndpoints.h"

namespace {

constexpr char c_szEngineId[] = "\x80\x00\x1f\x88\x04test";
constexpr char c_szPassword[] = "scripted-auth";

// A UDP agent on 127.0.0.1 that answers each datagram it gets with the
// datagrams fnAnswers makes of it, in order (an empty text: none), for
// nAnswers datagrams.
class CScriptedAgent {
 public:
  using FAnswer = std::function<std::string(int nRequest, const CSnmpV3Message&)>;
  using FAnswers = std::function<std::vector<std::string>(int nRequest, const CSnmpV3Message&)>;
  CScriptedAgent(int nAnswers, FAnswer fnAnswer)
      : CScriptedAgent(nAnswers, FAnswers([fnAnswer](int nRequest, const CSnmpV3Message& request) {
          return std::vector<std::string>{fnAnswer(nRequest, request)};
        })) {}
  CScriptedAgent(int nAnswers, FAnswers fnAnswers) {
    const int nSocket = m_endpoints.Bind("127.0.0.1", 0, &m_uPort);
    m_thread = std::thread([this, nSocket, nAnswers, fnAnswers] {
      std::vector<char> buffer(4096);
      std::vector<size_t> arrReady;
      for (int nRequest = 1; nRequest <= nAnswers && nSocket >= 0; ++nRequest) {
        // A request that does not come within 1 s is not coming.
        SUdpPeer from;
        size_t nLen = 0;
        if (!m_endpoints.Wait(1000, &arrReady) || arrReady.empty() ||
            !m_endpoints.ReceiveFrom(0, &buffer, &nLen, &from) || nLen == 0)
          return;
        CSnmpV3Message request;
        size_t nOffset = 0;
        if (!DecodeSnmpV3Message(std::string_view(buffer.data(), nLen), &request, &nOffset)) continue;
        m_arrRequests.push_back(request);
        for (const std::string& strAnswer : fnAnswers(nRequest, request)) {
          if (!strAnswer.empty()) m_endpoints.SendTo(0, strAnswer, from);
        }
      }
    });
  }
  ~CScriptedAgent() { Join(); }
  uint16_t Port() const { return m_uPort; }
  // Waits until the agent has answered all it will answer; then
  // m_arrRequests holds every request it received.
  void Join() {
    if (m_thread.joinable()) m_thread.join();
  }
  std::vector<CSnmpV3Message> m_arrRequests;

 private:
  CUdpEndpoints m_endpoints;
  uint16_t m_uPort = 0;
  std::thread m_thread;
};

// An answer to request: a report naming usmStats N, or a response with
// sysName; authenticated with the test user's key unless bForged, in which
// case the code is wrong.
std::string Answer(const CSnmpV3Message& request, uint8_t pduType, int nBoots, int nTime, bool bAuth,
                   bool bForged = false, uint32_t uStat = 0, const std::string& strValue = "scripted") {
  CSnmpV3Message answer;
  answer.nMessageId = request.nMessageId;
  answer.usm.strEngineId = std::string(c_szEngineId, sizeof c_szEngineId - 1);
  answer.usm.nEngineBoots = nBoots;
  answer.usm.nEngineTime = nTime;
  answer.usm.strUserName = request.usm.strUserName;
  answer.strContextEngineId = answer.usm.strEngineId;
  answer.pdu.pduType = pduType;
  answer.pdu.nRequestId = request.pdu.nRequestId;
  if (pduType == SNMP_PDU_REPORT) {
    answer.pdu.bindings.push_back({{{1, 3, 6, 1, 6, 3, 15, 1, 1, uStat, 0}}, AsnAny{}});
  } else {
    AsnAny value;
    value.asnType = ASN_OCTETSTRING;
    value.strBytes = strValue;
    answer.pdu.bindings.push_back({{{1, 3, 6, 1, 2, 1, 1, 5, 0}}, value});
  }
  std::string strKey;
  if (bAuth) {
    answer.flags = SNMP_FLAG_AUTH;
    answer.usm.strAuthParameters.assign(12, '\0');
  }
  std::string strBytes;
  size_t nOffset = 0;
  EXPECT_TRUE(EncodeSnmpV3Message(answer, &strBytes, &nOffset));
  if (bAuth) {
    std::string strCode;
    EXPECT_TRUE(PasswordToKey(EAuthProtocol::Sha1, c_szPassword, &strKey));
    EXPECT_TRUE(LocalizeKey(EAuthProtocol::Sha1, strKey, answer.usm.strEngineId, &strKey));
    EXPECT_TRUE(AuthCode(EAuthProtocol::Sha1, strKey, strBytes, &strCode));
    if (bForged) strCode[0] = static_cast<char>(strCode[0] ^ 1);
    strBytes.replace(nOffset, strCode.size(), strCode);
  }
  return strBytes;
}

// nGets GETs of sysName.0 in one session as the user of the scripted
// agent; whether the last was answered, the values in *pArrValues.
bool GetSysName(uint16_t uPort, std::vector<std::string>* pArrValues, int nGets = 1) {
  CSnmpV3Security security;
  security.strUser = "scripted";
  security.auth = EAuthProtocol::Sha1;
  security.strAuthPassword = c_szPassword;
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpenV3("127.0.0.1", security, 500, 1, uPort);
  EXPECT_NE(pSession, nullptr);
  bool bAnswered = false;
  for (int nGet = 0; nGet < nGets; ++nGet) {
    SnmpVarBindList bindings(1);
    EXPECT_TRUE(SnmpMgrStrToOid("system.sysName.0", &bindings[0].name));
    int32_t nStatus = -1;
    int32_t nIndex = -1;
    bAnswered = SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nStatus, &nIndex);
    if (bAnswered && !bindings.empty()) pArrValues->push_back(bindings[0].value.strBytes);
  }
  const uint32_t uError = GetLastError();
  SnmpMgrClose(pSession);
  SetLastError(uError);
  return bAnswered;
}

bool GetSysName(uint16_t uPort, std::string* pstrValue) {
  std::vector<std::string> arrValues;
  const bool bAnswered = GetSysName(uPort, &arrValues);
  if (!arrValues.empty()) *pstrValue = arrValues.back();
  return bAnswered;
}

TEST(SnmpV3SessionTest, NotInTimeWindowTakesTheAgentsClockAndResendsOnce) {
  // Discovery tells no clock (0, 0); the first request is out of the
  // window; the resend carries the agent's clock and is answered.
  CScriptedAgent agent(3, [](int nRequest, const CSnmpV3Message& request) {
    if (nRequest == 1) return Answer(request, SNMP_PDU_REPORT, 0, 0, false, false, 4);
    if (nRequest == 2) return Answer(request, SNMP_PDU_REPORT, 7, 5000, true, false, 2);
    return Answer(request, SNMP_PDU_RESPONSE, 7, 5000, true);
  });
  std::string strValue;
  EXPECT_TRUE(GetSysName(agent.Port(), &strValue)) << GetLastError();
  EXPECT_EQ(strValue, "scripted");
  agent.Join();
  ASSERT_EQ(agent.m_arrRequests.size(), 3u);
  EXPECT_EQ(agent.m_arrRequests[1].usm.nEngineBoots, 0);
  EXPECT_EQ(agent.m_arrRequests[2].usm.nEngineBoots, 7);
  EXPECT_GE(agent.m_arrRequests[2].usm.nEngineTime, 5000);
  EXPECT_EQ(agent.m_arrRequests[2].pdu.nRequestId, agent.m_arrRequests[1].pdu.nRequestId)
      << "the resend is the same request";
}

TEST(SnmpV3SessionTest, SecondNotInTimeWindowEndsTheRequest) {
  CScriptedAgent agent(3, [](int nRequest, const CSnmpV3Message& request) {
    if (nRequest == 1) return Answer(request, SNMP_PDU_REPORT, 0, 0, false, false, 4);
    return Answer(request, SNMP_PDU_REPORT, 7, 5000, true, false, 2);
  });
  std::string strValue;
  EXPECT_FALSE(GetSysName(agent.Port(), &strValue));
  EXPECT_EQ(GetLastError(), SNMP_MGR_ERROR_TIME_WINDOW);
}

TEST(SnmpV3SessionTest, AnswersThatFailAuthenticationEndTheRequest) {
  for (const bool bForged : {true, false}) {
    SCOPED_TRACE(bForged ? "a wrong code" : "no authentication at all");
    // Room for a third request, which must not come.
    CScriptedAgent agent(3, [bForged](int nRequest, const CSnmpV3Message& request) {
      if (nRequest == 1) return Answer(request, SNMP_PDU_REPORT, 7, 5000, false, false, 4);
      return Answer(request, SNMP_PDU_RESPONSE, 7, 5000, bForged, bForged);
    });
    std::string strValue;
    EXPECT_FALSE(GetSysName(agent.Port(), &strValue));
    EXPECT_EQ(GetLastError(), SNMP_MGR_ERROR_AUTHENTICATION);
    agent.Join();
    EXPECT_EQ(agent.m_arrRequests.size(), 2u) << "no re-send";
  }
}

// Answers are matched by message-id and request-id: an authentic answer
// whose message-id or request-id is another's (a stray one, or the answer
// to the request before) is dropped, and the right one after it is still
// taken.
TEST(SnmpV3SessionTest, StaleAndStrayAnswersAreDroppedAndTheRightOneTaken) {
  CSnmpV3Message previous;
  CScriptedAgent agent(3, [&previous](int nRequest, const CSnmpV3Message& request) {
    if (nRequest == 1) return std::vector<std::string>{Answer(request, SNMP_PDU_REPORT, 0, 0, false, false, 4)};
    if (nRequest == 2) {
      previous = request;
      return std::vector<std::string>{Answer(request, SNMP_PDU_RESPONSE, 7, 5000, true, false, 0, "first")};
    }
    CSnmpV3Message otherMessage = request;  // the request-id right, the message-id not
    otherMessage.nMessageId ^= 0x100;
    CSnmpV3Message otherRequest = request;  // the message-id right, the request-id not
    otherRequest.pdu.nRequestId ^= 0x100;
    return std::vector<std::string>{
        Answer(previous, SNMP_PDU_RESPONSE, 7, 5000, true, false, 0, "stale"),
        Answer(otherMessage, SNMP_PDU_RESPONSE, 7, 5000, true, false, 0, "stray message-id"),
        Answer(otherRequest, SNMP_PDU_RESPONSE, 7, 5000, true, false, 0, "stray request-id"),
        Answer(request, SNMP_PDU_RESPONSE, 7, 5000, true, false, 0, "second")};
  });
  std::vector<std::string> arrValues;
  EXPECT_TRUE(GetSysName(agent.Port(), &arrValues, 2)) << GetLastError();
  EXPECT_EQ(arrValues, (std::vector<std::string>{"first", "second"}));
  agent.Join();
  EXPECT_EQ(agent.m_arrRequests.size(), 3u) << "no re-send: the right answer came within the wait";
}

}  // namespace
