#include "snmp/SnmpSession.h"

#include <algorithm>
#include <initializer_list>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/Interrupt.h"
#include "platform/LastError.h"
#include "snmp/SnmpV3.h"
#include "platform/UdpSocket.h"
#include "snmp/UsmCrypto.h"

namespace {

// Largest UDP payload: no datagram is cut when received.
constexpr size_t c_nMaxDatagram = 65535;

using CClock = std::chrono::steady_clock;

// The first request-id of a session: random, so that answers meant for an
// earlier run or another session are not taken; cheap, since sessions are
// many.
int32_t FirstRequestId() {
  thread_local std::minstd_rand generator(static_cast<uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^
      reinterpret_cast<uintptr_t>(&generator)));
  return static_cast<int32_t>(generator() & 0x7FFFFFFF) | 1;
}

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

// USM report OIDs (RFC 3414 5): usmStats 1.3.6.1.6.3.15.1.1.N.0.
constexpr uint32_t c_aUsmStats[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};

// The code of a report whose first binding names usmStats N.
uint32_t ReportCode(const CSnmpMessage& report) {
  if (report.bindings.empty()) return SNMP_MGR_ERROR_REPORT;
  const auto& ids = report.bindings[0].name.ids;
  if (ids.size() != std::size(c_aUsmStats) + 2 || !std::equal(std::begin(c_aUsmStats), std::end(c_aUsmStats), ids.begin()))
    return SNMP_MGR_ERROR_REPORT;
  switch (ids[std::size(c_aUsmStats)]) {
    case 1: return SNMP_MGR_ERROR_SECURITY_LEVEL;
    case 2: return SNMP_MGR_ERROR_TIME_WINDOW;
    case 3: return SNMP_MGR_ERROR_UNKNOWN_USER;
    case 4: return SNMP_MGR_ERROR_UNKNOWN_ENGINE;
    case 5: return SNMP_MGR_ERROR_WRONG_DIGEST;
    case 6: return SNMP_MGR_ERROR_DECRYPTION;
    default: return SNMP_MGR_ERROR_REPORT;
  }
}

// Ku of a password, made once per process for each protocol and password:
// 1 MiB of hashing is worth keeping when many targets share one user.
bool CachedPasswordKey(EAuthProtocol protocol, const std::string& strPassword, std::string* pstrKey) {
  static std::mutex cacheMutex;
  static std::map<std::pair<int, std::string>, std::string> cache;
  const auto key = std::make_pair(static_cast<int>(protocol), strPassword);
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto it = cache.find(key);
    if (it != cache.end()) {
      *pstrKey = it->second;
      return true;
    }
  }
  if (!PasswordToKey(protocol, strPassword, pstrKey)) return false;
  std::lock_guard<std::mutex> lock(cacheMutex);
  cache.emplace(key, *pstrKey);
  return true;
}

// What a received datagram is to the request waiting for it.
enum class EVerdict {
  Ignore,  // not the answer (another request's, malformed, forged): wait on
  Take,    // the answer
  Fail,    // the end of this request; GetLastError() says why
  Resend,  // the agent's clock was learnt: send the request again
};

// An SNMPv3 session's security: the user's keys and what discovery learnt
// of the agent's engine.
struct CUsmState {
  CSnmpV3Security security;
  std::string strAuthKey;  // Ku, then Kul once the engine is known
  std::string strPrivKey;
  std::string strEngineId;
  bool bDiscovered = false;
  bool bPrivacyConfirmed = false;  // an encrypted answer came
  int32_t nBoots = 0;
  int32_t nTime = 0;
  CClock::time_point timeBase;  // when nTime was the agent's time
  uint64_t uSalt = 0;
  int32_t EngineTime() const {
    const auto nSeconds = std::chrono::duration_cast<std::chrono::seconds>(CClock::now() - timeBase).count();
    return static_cast<int32_t>(std::min<int64_t>(nTime + nSeconds, 0x7FFFFFFF));
  }
  void SetClock(int32_t nNewBoots, int32_t nNewTime) {
    nBoots = nNewBoots;
    nTime = nNewTime;
    timeBase = CClock::now();
  }
};

}  // namespace

class CSnmpSession {
 public:
  CSnmpSession(int32_t nVersionField, std::string strCommunity, int nTimeoutMs, int nRetries)
      : m_nVersionField(nVersionField),
        m_strCommunity(std::move(strCommunity)),
        m_nTimeoutMs(nTimeoutMs > 0 ? nTimeoutMs : c_nDefaultTimeoutMs),
        m_nTries(nRetries > 0 ? 1 + static_cast<int64_t>(nRetries) : 1),
        m_nNextRequestId(FirstRequestId()) {}
  CSnmpSession(const CSnmpSession&) = delete;
  CSnmpSession& operator=(const CSnmpSession&) = delete;

  // Makes this an SNMPv3 session of the user in security: derives the
  // user's keys (localised once the agent's engine is discovered). False
  // when a key cannot be made.
  bool SetSecurity(const CSnmpV3Security& security);

  // A request of requestType; nField1 and nField2 go where the error
  // status and index stand (a GETBULK's non-repeaters and max-repetitions).
  bool Request(uint8_t requestType, int32_t nField1, int32_t nField2, SnmpVarBindList* pBindings,
               int32_t* pnErrorStatus, int32_t* pnErrorIndex);
  bool IsVersion1() const { return m_nVersionField == SNMP_VERSION_1; }
  // Points the session's socket at agent. False (both codes set) when it
  // cannot.
  bool Connect(const SAgentAddress& agent);

 private:
  // Sends m_strDatagram and its re-sends, handing every datagram that
  // arrives to fnJudge, until it takes one (true) or the tries run out or
  // it fails the request (false). *pbResend: fnJudge asked for a resend.
  template <typename FJudge>
  bool Exchange(FJudge fnJudge, bool* pbResend, int64_t nTries);
  // SNMPv3, after an encrypted request got no answer: whether the agent
  // answers the same request unencrypted, authenticated. If so it is alive
  // and knows the user, and the silence means it could not decrypt.
  bool AnswersWithoutPrivacy();
  // Receives one datagram before the deadline into *pDatagram. False at the
  // deadline (GetLastError() unchanged) or on a receive failure.
  bool Receive(CClock::time_point deadline, std::string_view* pDatagram);
  // A fresh positive request-id; ids wrap around before they turn negative.
  int32_t NextRequestId() {
    const int32_t nId = m_nNextRequestId;
    m_nNextRequestId = nId == 0x7FFFFFFF ? 1 : nId + 1;
    return nId;
  }

  // SNMPv3: learns the agent's engine (RFC 3414 4) and localises the keys.
  bool Discover();
  // The SNMPv3 datagram of m_request, authenticated and encrypted as the
  // user's level asks, in m_strDatagram.
  bool BuildV3Datagram();
  // SNMPv3: whether the authentication code of message (decoded from
  // datagram, its code at nAuthOffset) is the user's.
  bool IsAuthentic(std::string_view datagram, size_t nAuthOffset, const CSnmpV3Message& message) const;
  // SNMPv3: what a datagram is to the request m_request.
  EVerdict JudgeV3(std::string_view datagram, bool bMayResync, CSnmpMessage* pAnswer);

  CUdpSocket m_socket;  // connected to the agent: the system drops other senders' datagrams
  int32_t m_nVersionField;  // SNMP_VERSION_1, SNMP_VERSION_2C or SNMP_VERSION_3
  std::string m_strCommunity;
  int m_nTimeoutMs;
  int64_t m_nTries;
  int32_t m_nNextRequestId;
  std::unique_ptr<char[]> m_pBuffer;  // receive buffer, made at the first receive
  std::string m_strDatagram;          // the request being sent, kept for its re-sends
  CSnmpMessage m_request;             // kept between requests: their buffers are reused
  std::unique_ptr<CUsmState> m_pUsm;  // SNMPv3 sessions only
};

bool CSnmpSession::SetSecurity(const CSnmpV3Security& security) {
  m_nVersionField = SNMP_VERSION_3;
  m_pUsm = std::make_unique<CUsmState>();
  m_pUsm->security = security;
  m_pUsm->uSalt = (static_cast<uint64_t>(FirstRequestId()) << 32) | static_cast<uint32_t>(FirstRequestId());
  if (security.auth != EAuthProtocol::None &&
      !CachedPasswordKey(security.auth, security.strAuthPassword, &m_pUsm->strAuthKey))
    return false;
  if (security.priv != EPrivProtocol::None &&
      !CachedPasswordKey(security.auth, security.strPrivPassword, &m_pUsm->strPrivKey))
    return false;
  return true;
}

template <typename FJudge>
bool CSnmpSession::Exchange(FJudge fnJudge, bool* pbResend, int64_t nTries) {
  *pbResend = false;
  WSASetLastError(0);
  SetLastError(SNMP_MGMTAPI_TIMEOUT);
  for (int64_t nTry = 0; nTry < nTries; ++nTry) {
    // An interrupted scan sends nothing more; the try under way has had
    // its wait, so the walk ends within one time-out.
    if (IsInterrupted()) {
      SetLastError(SNMP_MGR_ERROR_INTERRUPTED);
      return false;
    }
    const auto deadline = CClock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    // A failed send is remembered but the wait still runs: an answer to an
    // earlier try may yet arrive, and every try costs the same time.
    if (!m_socket.Send(m_strDatagram)) WSASetLastError(m_socket.LastError());
    std::string_view datagram;
    while (Receive(deadline, &datagram)) {
      switch (fnJudge(datagram)) {
        case EVerdict::Ignore:
          continue;
        case EVerdict::Take:
          SetLastError(SNMP_MGR_OK);
          return true;
        case EVerdict::Fail:
          return false;
        case EVerdict::Resend:
          *pbResend = true;
          return false;
      }
    }
    if (GetLastError() != SNMP_MGMTAPI_TIMEOUT) return false;
  }
  return false;
}

bool CSnmpSession::Request(uint8_t requestType, int32_t nField1, int32_t nField2,
                           SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
                           int32_t* pnErrorIndex) {
  if (m_pUsm && !m_pUsm->bDiscovered && !Discover()) return false;
  m_request.nVersion = m_nVersionField;
  m_request.strCommunity = m_strCommunity;
  m_request.pduType = requestType;
  m_request.nErrorStatus = nField1;
  m_request.nErrorIndex = nField2;
  m_request.nRequestId = NextRequestId();
  m_request.bindings.resize(pBindings->size());
  for (size_t i = 0; i < pBindings->size(); ++i) {
    m_request.bindings[i].name = (*pBindings)[i].name;
    m_request.bindings[i].value = AsnAny{};  // values go as NULL
  }
  CSnmpMessage answer;
  // SNMPv3: one resend when the agent says the clock it was sent was off.
  for (bool bMayResync = true;; bMayResync = false) {
    m_strDatagram.clear();
    const bool bBuilt = m_pUsm ? BuildV3Datagram() : EncodeSnmpMessage(m_request, &m_strDatagram);
    if (!bBuilt || m_strDatagram.size() > c_nMaxDatagram) {
      SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
      return false;
    }
    bool bResend = false;
    const auto judge = [&](std::string_view datagram) {
      if (m_pUsm) return JudgeV3(datagram, bMayResync, &answer);
      if (!DecodeSnmpMessage(datagram, &answer)) return EVerdict::Ignore;  // malformed
      return answer.nVersion == m_nVersionField && answer.pduType == SNMP_PDU_RESPONSE &&
                     answer.nRequestId == m_request.nRequestId && answer.strCommunity == m_strCommunity
                 ? EVerdict::Take
                 : EVerdict::Ignore;
    };
    bool bTaken = false;
    if (m_pUsm && m_pUsm->security.priv != EPrivProtocol::None && !m_pUsm->bPrivacyConfirmed) {
      // Until one encrypted answer came, a wrong privacy password shows
      // only as silence (an agent drops what it cannot decrypt): after one
      // silent try, ask without privacy whether the agent is there.
      bTaken = Exchange(judge, &bResend, 1);
      if (!bTaken && !bResend && GetLastError() == SNMP_MGMTAPI_TIMEOUT && m_nTries > 1) {
        const std::string strEncrypted = m_strDatagram;
        if (AnswersWithoutPrivacy()) {
          SetLastError(SNMP_MGR_ERROR_DECRYPTION);
          return false;
        }
        m_strDatagram = strEncrypted;
        bTaken = Exchange(judge, &bResend, m_nTries - 1);
      }
      if (bTaken) m_pUsm->bPrivacyConfirmed = true;
    } else {
      bTaken = Exchange(judge, &bResend, m_nTries);
    }
    if (bTaken) {
      *pBindings = std::move(answer.bindings);
      *pnErrorStatus = answer.nErrorStatus;
      *pnErrorIndex = answer.nErrorIndex;
      return true;
    }
    if (!bResend) return false;
  }
}

bool CSnmpSession::Discover() {
  // A request no agent can take: no engine, no user; its report names the
  // agent's engine and clock (RFC 3414 4).
  CSnmpV3Message probe;
  probe.nMessageId = NextRequestId();
  probe.flags = SNMP_FLAG_REPORTABLE;
  probe.pdu.pduType = SNMP_PDU_GET;
  probe.pdu.nRequestId = probe.nMessageId;
  m_strDatagram.clear();
  size_t nAuthOffset = 0;
  if (!EncodeSnmpV3Message(probe, &m_strDatagram, &nAuthOffset)) {
    SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
    return false;
  }
  CSnmpV3Message answer;
  bool bResend = false;
  const bool bTaken = Exchange(
      [&](std::string_view datagram) {
        size_t nOffset = 0;
        if (!DecodeSnmpV3Message(datagram, &answer, &nOffset) || answer.nMessageId != probe.nMessageId ||
            answer.usm.strEngineId.empty())
          return EVerdict::Ignore;
        return EVerdict::Take;
      },
      &bResend, m_nTries);
  if (!bTaken) return false;
  CUsmState& usm = *m_pUsm;
  usm.strEngineId = answer.usm.strEngineId;
  usm.SetClock(answer.usm.nEngineBoots, answer.usm.nEngineTime);
  const EAuthProtocol auth = usm.security.auth;
  if ((auth != EAuthProtocol::None && !LocalizeKey(auth, usm.strAuthKey, usm.strEngineId, &usm.strAuthKey)) ||
      (usm.security.priv != EPrivProtocol::None &&
       !LocalizeKey(auth, usm.strPrivKey, usm.strEngineId, &usm.strPrivKey))) {
    SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
    return false;
  }
  usm.bDiscovered = true;
  return true;
}

bool CSnmpSession::AnswersWithoutPrivacy() {
  CUsmState& usm = *m_pUsm;
  const EPrivProtocol priv = usm.security.priv;
  usm.security.priv = EPrivProtocol::None;
  m_strDatagram.clear();
  const bool bBuilt = BuildV3Datagram();
  usm.security.priv = priv;
  if (!bBuilt) return false;
  bool bResend = false;
  // Any authenticated answer will do: a report that the level is not
  // allowed, or the answer itself.
  return Exchange(
      [&](std::string_view datagram) {
        CSnmpV3Message message;
        size_t nOffset = 0;
        return DecodeSnmpV3Message(datagram, &message, &nOffset) &&
                       message.nMessageId == m_request.nRequestId && (message.flags & SNMP_FLAG_AUTH) &&
                       IsAuthentic(datagram, nOffset, message)
                   ? EVerdict::Take
                   : EVerdict::Ignore;
      },
      &bResend, 1);
}

bool CSnmpSession::IsAuthentic(std::string_view datagram, size_t nAuthOffset,
                               const CSnmpV3Message& message) const {
  const EAuthProtocol auth = m_pUsm->security.auth;
  const std::string& strGiven = message.usm.strAuthParameters;
  if (auth == EAuthProtocol::None || strGiven.size() != AuthCodeLength(auth)) return false;
  // The code is computed over the message with its own place zeroed.
  std::string strZeroed(datagram);
  strZeroed.replace(nAuthOffset, strGiven.size(), strGiven.size(), '\0');
  std::string strCode;
  return AuthCode(auth, m_pUsm->strAuthKey, strZeroed, &strCode) && strCode == strGiven;
}

bool CSnmpSession::BuildV3Datagram() {
  CUsmState& usm = *m_pUsm;
  const CSnmpV3Security& security = usm.security;
  CSnmpV3Message message;
  message.nMessageId = m_request.nRequestId;
  message.flags = SNMP_FLAG_REPORTABLE;
  message.usm.strEngineId = usm.strEngineId;
  message.usm.nEngineBoots = usm.nBoots;
  message.usm.nEngineTime = usm.EngineTime();
  message.usm.strUserName = security.strUser;
  message.strContextEngineId = usm.strEngineId;
  message.strContextName = security.strContext;
  message.pdu = m_request;
  if (security.auth != EAuthProtocol::None) {
    message.flags |= SNMP_FLAG_AUTH;
    message.usm.strAuthParameters.assign(AuthCodeLength(security.auth), '\0');
  }
  if (security.priv != EPrivProtocol::None) {
    message.flags |= SNMP_FLAG_PRIV;
    // The salt: DES, the engine's boots and a counter (RFC 3414 8.1.1.1);
    // AES, a 64-bit counter (RFC 3826 3.1.2.1).
    const uint64_t uCounter = usm.uSalt++;
    std::string strSalt;
    const uint64_t uSaltValue = security.priv == EPrivProtocol::Des
                                    ? (static_cast<uint64_t>(static_cast<uint32_t>(usm.nBoots)) << 32) |
                                          static_cast<uint32_t>(uCounter)
                                    : uCounter;
    for (int nShift = 56; nShift >= 0; nShift -= 8) strSalt.push_back(static_cast<char>((uSaltValue >> nShift) & 0xFF));
    std::string strScoped;
    if (!EncodeScopedPdu(message, &strScoped) ||
        !Encrypt(security.priv, usm.strPrivKey, static_cast<uint32_t>(message.usm.nEngineBoots),
                 static_cast<uint32_t>(message.usm.nEngineTime), strSalt, strScoped, &message.strEncryptedPdu))
      return false;
    message.usm.strPrivParameters = strSalt;
  }
  size_t nAuthOffset = 0;
  if (!EncodeSnmpV3Message(message, &m_strDatagram, &nAuthOffset)) return false;
  if (security.auth != EAuthProtocol::None) {
    std::string strCode;
    if (!AuthCode(security.auth, usm.strAuthKey, m_strDatagram, &strCode)) return false;
    m_strDatagram.replace(nAuthOffset, strCode.size(), strCode);
  }
  return true;
}

EVerdict CSnmpSession::JudgeV3(std::string_view datagram, bool bMayResync, CSnmpMessage* pAnswer) {
  CUsmState& usm = *m_pUsm;
  const CSnmpV3Security& security = usm.security;
  CSnmpV3Message message;
  size_t nAuthOffset = 0;
  if (!DecodeSnmpV3Message(datagram, &message, &nAuthOffset) || message.nMessageId != m_request.nRequestId ||
      message.nSecurityModel != SNMP_SECURITY_MODEL_USM)
    return EVerdict::Ignore;
  const bool bAuthenticated = (message.flags & SNMP_FLAG_AUTH) != 0;
  if (bAuthenticated && (message.usm.strEngineId != usm.strEngineId ||
                         message.usm.strUserName != security.strUser ||
                         !IsAuthentic(datagram, nAuthOffset, message))) {
    SetLastError(SNMP_MGR_ERROR_AUTHENTICATION);
    return EVerdict::Fail;
  }
  if (message.flags & SNMP_FLAG_PRIV) {
    std::string strScoped;
    if (!bAuthenticated || security.priv == EPrivProtocol::None ||
        !Decrypt(security.priv, usm.strPrivKey, static_cast<uint32_t>(message.usm.nEngineBoots),
                 static_cast<uint32_t>(message.usm.nEngineTime), message.usm.strPrivParameters,
                 message.strEncryptedPdu, &strScoped) ||
        !DecodeScopedPdu(strScoped, &message)) {
      SetLastError(SNMP_MGR_ERROR_DECRYPTION);
      return EVerdict::Fail;
    }
  }
  if (message.pdu.pduType == SNMP_PDU_REPORT) {
    const uint32_t uCode = ReportCode(message.pdu);
    // An authenticated notInTimeWindow report carries the agent's clock
    // (RFC 3414 4): take it and send once more.
    if (uCode == SNMP_MGR_ERROR_TIME_WINDOW && bAuthenticated && bMayResync) {
      usm.SetClock(message.usm.nEngineBoots, message.usm.nEngineTime);
      return EVerdict::Resend;
    }
    SetLastError(uCode);
    return EVerdict::Fail;
  }
  // An answer to an authenticated request must be authenticated too: one
  // that is not could be anybody's.
  if (message.pdu.pduType != SNMP_PDU_RESPONSE || message.pdu.nRequestId != m_request.nRequestId)
    return EVerdict::Ignore;
  if (security.auth != EAuthProtocol::None && !bAuthenticated) {
    SetLastError(SNMP_MGR_ERROR_AUTHENTICATION);
    return EVerdict::Fail;
  }
  *pAnswer = std::move(message.pdu);
  return EVerdict::Take;
}

bool CSnmpSession::Connect(const SAgentAddress& agent) {
  if (m_socket.Open(agent)) return true;
  WSASetLastError(m_socket.LastError());
  SetLastError(SNMP_MGR_ERROR_SOCKET);
  return false;
}

bool CSnmpSession::Receive(CClock::time_point deadline, std::string_view* pDatagram) {
  while (true) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - CClock::now());
    if (remaining.count() <= 0) return false;
    size_t nLen = 0;
    CUdpSocket::EReceive result = CUdpSocket::EReceive::Datagram;
    if (!m_pBuffer) {
      // No buffer before the first datagram: a silent agent costs none.
      // The wait leaves the datagram queued for the receive below.
      result = m_socket.Receive(nullptr, 0, remaining.count(), &nLen);
      if (result == CUdpSocket::EReceive::Datagram) {
        m_pBuffer.reset(new (std::nothrow) char[c_nMaxDatagram]);
        if (!m_pBuffer) {
          SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
          return false;
        }
      }
    }
    if (result == CUdpSocket::EReceive::Datagram)
      result = m_socket.Receive(m_pBuffer.get(), c_nMaxDatagram, remaining.count(), &nLen);
    switch (result) {
      case CUdpSocket::EReceive::Datagram:
        *pDatagram = std::string_view(m_pBuffer.get(), nLen);
        return true;
      case CUdpSocket::EReceive::TimedOut:
        return false;  // the wait is over
      case CUdpSocket::EReceive::Again:
        continue;
      case CUdpSocket::EReceive::Failed:
        WSASetLastError(m_socket.LastError());
        SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
        return false;
    }
  }
}

bool IsIpv6Literal(std::string_view strText) {
  const std::string strAddress(strText.substr(0, strText.find('%')));
  return IsIpv6Address(strAddress.c_str());
}

LPSNMP_MGR_SESSION SnmpMgrOpen(const char* szAgent, const char* szCommunity, int nTimeoutMs,
                               int nRetries, int nPort, int nVersion) {
  WSASetLastError(0);
  SAgentAddress agent;
  if (!ResolveAgent(szAgent, static_cast<uint16_t>(nPort), &agent)) {
    SetLastError(SNMP_MGR_ERROR_RESOLVE);
    return nullptr;
  }
  auto pSession = std::make_unique<CSnmpSession>(nVersion == 2 ? SNMP_VERSION_2C : SNMP_VERSION_1,
                                                 szCommunity, nTimeoutMs, nRetries);
  if (!pSession->Connect(agent)) return nullptr;
  SetLastError(SNMP_MGR_OK);
  return pSession.release();
}

LPSNMP_MGR_SESSION SnmpMgrOpenV3(const char* szAgent, const CSnmpV3Security& security, int nTimeoutMs,
                                 int nRetries, int nPort) {
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen(szAgent, "", nTimeoutMs, nRetries, nPort, 2);
  if (pSession != nullptr && !pSession->SetSecurity(security)) {
    delete pSession;
    SetLastError(SNMP_MGR_ERROR_SETTINGS);
    return nullptr;
  }
  return pSession;
}

bool SnmpMgrRequest(LPSNMP_MGR_SESSION pSession, uint8_t requestType, SnmpVarBindList* pBindings,
                    int32_t* pnErrorStatus, int32_t* pnErrorIndex) {
  if (pSession == nullptr) {
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Request(requestType, 0, 0, pBindings, pnErrorStatus, pnErrorIndex);
}

bool SnmpMgrRequestBulk(LPSNMP_MGR_SESSION pSession, int32_t nMaxRepetitions,
                        SnmpVarBindList* pBindings, int32_t* pnErrorStatus, int32_t* pnErrorIndex) {
  // SNMPv1 has no GETBULK (RFC 3416 is SNMPv2's).
  if (pSession == nullptr || pSession->IsVersion1()) {
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Request(SNMP_PDU_GETBULK, 0, nMaxRepetitions, pBindings, pnErrorStatus,
                           pnErrorIndex);
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
