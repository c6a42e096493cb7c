#include "snmp/SnmpSession.h"

#include <memory>
#include <string>

#include "snmp/LastError.h"
#include "snmp/SnmpDefaults.h"
#include "platform/UdpSocket.h"
#include "snmp/SnmpSecurity.h"
#include "snmp/SnmpTransport.h"

namespace {

// RFC 6761 6.4: names in the "invalid" domain never resolve, and resolver
// libraries should say so at once instead of asking a name server.
bool IsInvalidDomain(std::string_view strName) {
  if (!strName.empty() && strName.back() == '.') strName.remove_suffix(1);
  constexpr std::string_view c_strInvalid = "invalid";
  if (strName.size() < c_strInvalid.size()) return false;
  const std::string_view strLast = strName.substr(strName.size() - c_strInvalid.size());
  if (strName.size() > c_strInvalid.size() && strName[strName.size() - c_strInvalid.size() - 1] != '.')
    return false;
  for (size_t i = 0; i < strLast.size(); ++i) {
    if ((strLast[i] | 0x20) != c_strInvalid[i]) return false;
  }
  return true;
}

// The address of szAgent on port uPort: an IPv6 literal (a zone allowed)
// over IPv6; anything else over IPv4 when it has an IPv4 address, over
// IPv6 otherwise. False, with WSAGetLastError() set for a system error,
// when it does not resolve.
bool ResolveAgent(const char* szAgent, uint16_t uPort, SAgentAddress* pAgent) {
  // An empty name is no agent (Windows would resolve it to this host).
  if (*szAgent == '\0' || IsInvalidDomain(szAgent)) return false;
  const bool bIpv6Literal = IsIpv6Literal(szAgent);
  for (const bool bIpv6 : {false, true}) {
    if (bIpv6Literal && !bIpv6) continue;
    int nError = 0;
    switch (ResolveAgentAddress(szAgent, bIpv6, bIpv6Literal, uPort, pAgent, &nError)) {
      case EResolve::Found:
        return true;
      case EResolve::NoAddress:
        continue;  // only a name that has no address of this family is tried again
      case EResolve::Failed:
        if (nError != 0) WSASetLastError(nError);
        return false;
    }
  }
  return false;
}

}  // namespace

class CSnmpSession {
 public:
  CSnmpSession(int nTimeoutMs, int nRetries)
      : m_transport(nTimeoutMs > 0 ? nTimeoutMs : c_nDefaultTimeoutMs),
        m_nTries(nRetries > 0 ? 1 + static_cast<int64_t>(nRetries) : 1),
        m_nNextRequestId(RandomPositiveId()) {}
  CSnmpSession(const CSnmpSession&) = delete;
  CSnmpSession& operator=(const CSnmpSession&) = delete;

  bool Connect(const SAgentAddress& agent) { return m_transport.Connect(agent); }
  // An SNMPv1 (nVersionField SNMP_VERSION_1) or SNMPv2c session.
  void SetCommunity(int32_t nVersionField, std::string strCommunity) {
    m_nVersionField = nVersionField;
    m_pSecurity = std::make_unique<CCommunitySecurity>(nVersionField, std::move(strCommunity));
  }
  // An SNMPv3 session of the user in security. False when a key cannot be
  // made.
  bool SetUser(const CSnmpV3Security& security) {
    m_nVersionField = SNMP_VERSION_3;
    auto pUsm = std::make_unique<CUsmSecurity>();
    m_pUsm = pUsm.get();
    m_pSecurity = std::move(pUsm);
    return m_pUsm->SetUser(security);
  }
  bool IsVersion1() const { return m_nVersionField == SNMP_VERSION_1; }
  bool SwitchCommunity(const std::string& strCommunity) {
    if (m_pUsm != nullptr) return false;
    SetCommunity(m_nVersionField, strCommunity);
    return true;
  }
  bool SwitchUser(const CSnmpV3Security& security) { return m_pUsm != nullptr && m_pUsm->SwitchUser(security); }
  void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_transport.SetDeadline(deadline); }

  // A request of requestType; nField1 and nField2 go where the error
  // status and index stand (a GETBULK's non-repeaters and max-repetitions).
  // nTries: of this request; 0 or less: the session's.
  bool Request(uint8_t requestType, int32_t nField1, int32_t nField2, SnmpVarBindList* pBindings,
               int32_t* pnErrorStatus, int32_t* pnErrorIndex, int nTries = 0);
  // Requests in flight (SnmpMgrSend, SnmpMgrReceive).
  bool Send(uint8_t requestType, int32_t nField1, int32_t nField2, const SnmpVarBindList& bindings, int32_t* pnId,
            void* pTag, int nTries);
  bool Receive(int32_t* pnId, void** ppTag, SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
               int32_t* pnErrorIndex, std::chrono::steady_clock::time_point wake);
  int64_t Resends() const { return m_transport.Resends(); }
  void SetAdaptiveTimeout() { m_transport.SetAdaptiveTimeout(); }
  bool AcceptAnyReplyAddress() { return m_transport.AcceptAnySender(); }
  int64_t LateAnswers() const { return m_nLateAnswers; }
  CSessionFigures Figures() const {
    return {m_transport.BytesReceived(), m_nLateAnswers, m_nDropped, m_transport.RoundTrips(),
            m_transport.AgentText()};
  }

 private:
  // Sends strDatagram as request nId for nTries tries and hands every
  // datagram that arrives to fnJudge(datagram, &nAnsweredId) until it takes
  // the answer of nId (true) or the tries run out, or it fails the request
  // (false). *pbResend: fnJudge asked for the request to go once more.
  template <typename FJudge>
  bool Exchange(int32_t nId, std::string strDatagram, int64_t nTries, FJudge fnJudge, bool* pbResend);
  // SNMPv3: learns the agent's engine and clock, once per session.
  bool Discover();
  // The datagram of request, as the session's security writes it. False
  // (SNMP_MGMTAPI_INVALID_BUFFER) when it cannot be encoded or would not
  // fit a datagram.
  bool Encode(const CSnmpMessage& request, std::string* pstrDatagram);
  // m_request as a request of requestType for bindings, with a fresh id.
  void MakeRequest(uint8_t requestType, int32_t nField1, int32_t nField2, const SnmpVarBindList& bindings);
  int64_t TriesOf(int nTries) const { return nTries > 0 ? nTries : m_nTries; }
  // A fresh positive request-id; ids wrap around before they turn negative.
  // An answer to request nId, which expired before it came: counted (once)
  // when it would have been taken, and dropped.
  void NoteLate(EVerdict verdict, int32_t nId) {
    if (verdict == EVerdict::Take && m_transport.TakeLate(nId)) {
      ++m_nLateAnswers;
    } else {
      ++m_nDropped;
    }
  }
  int32_t NextRequestId() {
    const int32_t nId = m_nNextRequestId;
    m_nNextRequestId = nId == 0x7FFFFFFF ? 1 : nId + 1;
    return nId;
  }

  CSnmpTransport m_transport;
  std::unique_ptr<CSnmpSecurity> m_pSecurity;
  CUsmSecurity* m_pUsm = nullptr;  // m_pSecurity, for an SNMPv3 session
  int32_t m_nVersionField = SNMP_VERSION_1;
  int64_t m_nTries;
  int32_t m_nNextRequestId;
  int64_t m_nLateAnswers = 0;
  int64_t m_nDropped = 0;
  CSnmpMessage m_request;  // kept between requests: their buffers are reused
};

template <typename FJudge>
bool CSnmpSession::Exchange(int32_t nId, std::string strDatagram, int64_t nTries, FJudge fnJudge,
                            bool* pbResend) {
  *pbResend = false;
  WSASetLastError(0);
  SetLastError(SNMP_MGMTAPI_TIMEOUT);
  if (!m_transport.Send(nId, std::move(strDatagram), nTries)) return false;
  while (true) {
    std::string_view datagram;
    int32_t nEventId = 0;
    switch (m_transport.Wait(&datagram, &nEventId)) {
      case CSnmpTransport::EEvent::Datagram:
        break;
      case CSnmpTransport::EEvent::Expired:
        if (nEventId == nId) return false;
        continue;
      case CSnmpTransport::EEvent::Failed:
        m_transport.Forget(nId);
        return false;
      case CSnmpTransport::EEvent::Woken:  // no wake is set here
        continue;
    }
    int32_t nAnswered = nId;
    const EVerdict verdict = fnJudge(datagram, &nAnswered);
    if (verdict == EVerdict::Ignore) {
      ++m_nDropped;
      continue;
    }
    if (nAnswered != nId) {
      NoteLate(verdict, nAnswered);
      continue;
    }
    if (verdict == EVerdict::Take) {
      m_transport.Answered(nId);
    } else {
      m_transport.Forget(nId);
    }
    switch (verdict) {
      case EVerdict::Take:
        SetLastError(SNMP_MGR_OK);
        return true;
      case EVerdict::Resend:
        *pbResend = true;
        return false;
      default:
        return false;
    }
  }
}

bool CSnmpSession::Request(uint8_t requestType, int32_t nField1, int32_t nField2,
                           SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
                           int32_t* pnErrorIndex, int nRequestTries) {
  const int64_t nTries = TriesOf(nRequestTries);
  if (m_pUsm && !m_pUsm->IsDiscovered() && !Discover()) return false;
  MakeRequest(requestType, nField1, nField2, *pBindings);
  const int32_t nId = m_request.nRequestId;
  CSnmpMessage answer;
  const auto judge = [&](std::string_view datagram, int32_t* pnAnswered) {
    return m_pSecurity->Judge(datagram, m_transport, pnAnswered, &answer);
  };
  // SNMPv3: one resend when the agent says the clock it was sent was off.
  for (bool bMayResync = true;; bMayResync = false) {
    std::string strDatagram;
    if (!Encode(m_request, &strDatagram)) return false;
    bool bResend = false;
    bool bTaken = false;
    if (m_pUsm && m_pUsm->NeedsPrivacyCheck()) {
      // After one silent try, ask without privacy whether the agent is
      // there: if it answers, the silence means it could not decrypt.
      bTaken = Exchange(nId, strDatagram, 1, judge, &bResend);
      if (!bTaken && !bResend && GetLastError() == SNMP_MGMTAPI_TIMEOUT && nTries > 1) {
        std::string strPlain;
        bool bProbeResend = false;
        if (m_pUsm->EncodeWithoutPrivacy(m_request, &strPlain) &&
            Exchange(
                nId, std::move(strPlain), 1,
                [&](std::string_view datagram, int32_t*) { return m_pUsm->JudgeWithoutPrivacy(datagram, nId); },
                &bProbeResend)) {
          SetLastError(SNMP_MGR_ERROR_DECRYPTION);
          return false;
        }
        bTaken = Exchange(nId, std::move(strDatagram), nTries - 1, judge, &bResend);
      }
      if (bTaken) m_pUsm->ConfirmPrivacy();
    } else {
      bTaken = Exchange(nId, std::move(strDatagram), nTries, judge, &bResend);
    }
    if (bTaken) {
      *pBindings = std::move(answer.bindings);
      *pnErrorStatus = answer.nErrorStatus;
      *pnErrorIndex = answer.nErrorIndex;
      return true;
    }
    if (!bResend || !bMayResync) return false;
  }
}

bool CSnmpSession::Encode(const CSnmpMessage& request, std::string* pstrDatagram) {
  if (m_pSecurity->Encode(request, pstrDatagram) && pstrDatagram->size() <= c_nMaxDatagram) return true;
  SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
  return false;
}

void CSnmpSession::MakeRequest(uint8_t requestType, int32_t nField1, int32_t nField2,
                               const SnmpVarBindList& bindings) {
  m_request.nVersion = m_nVersionField;
  m_request.pduType = requestType;
  m_request.nErrorStatus = nField1;
  m_request.nErrorIndex = nField2;
  m_request.nRequestId = NextRequestId();
  m_request.bindings.resize(bindings.size());
  for (size_t i = 0; i < bindings.size(); ++i) {
    m_request.bindings[i].name = bindings[i].name;
    m_request.bindings[i].value = AsnAny{};  // values go as NULL
  }
}

bool CSnmpSession::Send(uint8_t requestType, int32_t nField1, int32_t nField2, const SnmpVarBindList& bindings,
                        int32_t* pnId, void* pTag, int nTries) {
  WSASetLastError(0);
  if (m_pUsm && !m_pUsm->IsDiscovered() && !Discover()) return false;
  MakeRequest(requestType, nField1, nField2, bindings);
  std::string strDatagram;
  if (!Encode(m_request, &strDatagram)) return false;
  *pnId = m_request.nRequestId;
  CSnmpTransport::CRequest* pRequest = m_transport.Send(*pnId, std::move(strDatagram), TriesOf(nTries), pTag);
  if (pRequest == nullptr) return false;
  if (m_pUsm) pRequest->message = m_request;
  SetLastError(SNMP_MGR_OK);
  return true;
}

bool CSnmpSession::Receive(int32_t* pnId, void** ppTag, SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
                           int32_t* pnErrorIndex, std::chrono::steady_clock::time_point wake) {
  *pnId = 0;
  *ppTag = nullptr;
  CSnmpMessage answer;
  while (true) {
    std::string_view datagram;
    int32_t nId = 0;
    void* pTag = nullptr;
    switch (m_transport.Wait(&datagram, &nId, &pTag, wake)) {
      case CSnmpTransport::EEvent::Expired:
        *pnId = nId;
        *ppTag = pTag;
        return false;
      case CSnmpTransport::EEvent::Failed: {
        const uint32_t uError = GetLastError();
        m_transport.ForgetAll();
        SetLastError(uError);
        return false;
      }
      case CSnmpTransport::EEvent::Woken:
        SetLastError(SNMP_MGR_OK);
        return false;
      case CSnmpTransport::EEvent::Datagram:
        break;
    }
    const EVerdict verdict = m_pSecurity->Judge(datagram, m_transport, &nId, &answer);
    CSnmpTransport::CRequest* pRequest = m_transport.Find(nId);
    if (verdict == EVerdict::Ignore) {
      ++m_nDropped;
      continue;
    }
    if (pRequest == nullptr) {
      NoteLate(verdict, nId);
      continue;
    }
    if (verdict == EVerdict::Resend && pRequest->bMayResync) {
      // The agent's clock was learnt: the same request once more.
      pRequest->bMayResync = false;
      std::string strDatagram;
      if (Encode(pRequest->message, &strDatagram) && m_transport.SendAgain(nId, std::move(strDatagram), m_nTries))
        continue;
    }
    *pnId = nId;
    *ppTag = pRequest->pTag;
    if (verdict != EVerdict::Take) {
      m_transport.Forget(nId);
      return false;
    }
    m_transport.Answered(nId);
    *pBindings = std::move(answer.bindings);
    *pnErrorStatus = answer.nErrorStatus;
    *pnErrorIndex = answer.nErrorIndex;
    SetLastError(SNMP_MGR_OK);
    return true;
  }
}

bool CSnmpSession::Discover() {
  const int32_t nId = NextRequestId();
  std::string strDatagram;
  if (!m_pUsm->EncodeDiscovery(nId, &strDatagram)) {
    SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
    return false;
  }
  bool bResend = false;
  return Exchange(
      nId, std::move(strDatagram), m_nTries,
      [&](std::string_view datagram, int32_t*) { return m_pUsm->JudgeDiscovery(datagram, nId); }, &bResend);
}

LPSNMP_MGR_SESSION SnmpMgrOpen(const char* szAgent, const char* szCommunity, int nTimeoutMs,
                               int nRetries, int nPort, int nVersion) {
  WSASetLastError(0);
  SAgentAddress agent;
  if (!ResolveAgent(szAgent, static_cast<uint16_t>(nPort), &agent)) {
    SetLastError(SNMP_MGR_ERROR_RESOLVE);
    return nullptr;
  }
  auto pSession = std::make_unique<CSnmpSession>(nTimeoutMs, nRetries);
  pSession->SetCommunity(nVersion == 2 ? SNMP_VERSION_2C : SNMP_VERSION_1, szCommunity);
  if (!pSession->Connect(agent)) return nullptr;
  SetLastError(SNMP_MGR_OK);
  return pSession.release();
}

LPSNMP_MGR_SESSION SnmpMgrOpenV3(const char* szAgent, const CSnmpV3Security& security, int nTimeoutMs,
                                 int nRetries, int nPort) {
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen(szAgent, "", nTimeoutMs, nRetries, nPort, 2);
  if (pSession != nullptr && !pSession->SetUser(security)) {
    delete pSession;
    SetLastError(SNMP_MGR_ERROR_SETTINGS);
    return nullptr;
  }
  return pSession;
}

bool SnmpMgrRequest(LPSNMP_MGR_SESSION pSession, uint8_t requestType, SnmpVarBindList* pBindings,
                    int32_t* pnErrorStatus, int32_t* pnErrorIndex, int nTries) {
  if (pSession == nullptr) {
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Request(requestType, 0, 0, pBindings, pnErrorStatus, pnErrorIndex, nTries);
}

bool SnmpMgrRequestBulk(LPSNMP_MGR_SESSION pSession, int32_t nMaxRepetitions,
                        SnmpVarBindList* pBindings, int32_t* pnErrorStatus, int32_t* pnErrorIndex, int nTries) {
  // SNMPv1 has no GETBULK (RFC 3416 is SNMPv2's).
  if (pSession == nullptr || pSession->IsVersion1()) {
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Request(SNMP_PDU_GETBULK, 0, nMaxRepetitions, pBindings, pnErrorStatus,
                           pnErrorIndex, nTries);
}

bool SnmpMgrSend(LPSNMP_MGR_SESSION pSession, uint8_t requestType, int32_t nMaxRepetitions,
                 const SnmpVarBindList& bindings, int32_t* pnId, void* pTag, int nTries) {
  if (pSession == nullptr || (requestType == SNMP_PDU_GETBULK && pSession->IsVersion1())) {
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Send(requestType, 0, requestType == SNMP_PDU_GETBULK ? nMaxRepetitions : 0, bindings, pnId,
                         pTag, nTries);
}

bool SnmpMgrReceive(LPSNMP_MGR_SESSION pSession, int32_t* pnId, SnmpVarBindList* pBindings,
                    int32_t* pnErrorStatus, int32_t* pnErrorIndex, void** ppTag,
                    std::chrono::steady_clock::time_point wake) {
  void* pIgnoredTag = nullptr;
  if (ppTag == nullptr) ppTag = &pIgnoredTag;
  if (pSession == nullptr) {
    *pnId = 0;
    *ppTag = nullptr;
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Receive(pnId, ppTag, pBindings, pnErrorStatus, pnErrorIndex, wake);
}

void SnmpMgrSetDeadline(LPSNMP_MGR_SESSION pSession, std::chrono::steady_clock::time_point deadline) {
  if (pSession != nullptr) pSession->SetDeadline(deadline);
}

bool SnmpMgrSetCommunity(LPSNMP_MGR_SESSION pSession, const std::string& strCommunity) {
  if (pSession != nullptr && pSession->SwitchCommunity(strCommunity)) return true;
  SetLastError(SNMP_MGR_ERROR_SETTINGS);
  return false;
}

bool SnmpMgrSetUserV3(LPSNMP_MGR_SESSION pSession, const CSnmpV3Security& security) {
  if (pSession != nullptr && pSession->SwitchUser(security)) return true;
  SetLastError(SNMP_MGR_ERROR_SETTINGS);
  return false;
}

int64_t SnmpMgrResends(LPSNMP_MGR_SESSION pSession) { return pSession != nullptr ? pSession->Resends() : 0; }

CSessionFigures SnmpMgrFigures(LPSNMP_MGR_SESSION pSession) {
  return pSession != nullptr ? pSession->Figures() : CSessionFigures{};
}

int64_t SnmpMgrLateAnswers(LPSNMP_MGR_SESSION pSession) {
  return pSession != nullptr ? pSession->LateAnswers() : 0;
}

void SnmpMgrSetAdaptiveTimeout(LPSNMP_MGR_SESSION pSession) {
  if (pSession != nullptr) pSession->SetAdaptiveTimeout();
}

bool SnmpMgrSetAnyReplyAddress(LPSNMP_MGR_SESSION pSession) {
  WSASetLastError(0);
  if (pSession == nullptr) {
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  if (!pSession->AcceptAnyReplyAddress()) return false;
  SetLastError(SNMP_MGR_OK);
  return true;
}

bool SnmpMgrClose(LPSNMP_MGR_SESSION pSession) {
  WSASetLastError(0);
  if (pSession == nullptr) {
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  delete pSession;
  SetLastError(SNMP_MGR_OK);
  return true;
}
