#include "platform/SnmpSession.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/Descriptors.h"
#include "platform/Interrupt.h"
#include "platform/LastError.h"

namespace {

// Largest UDP payload: no datagram is cut when received.
constexpr size_t c_nMaxDatagram = 65535;

using CClock = std::chrono::steady_clock;

// Tries to get a socket while the process is out of descriptors, 10 ms
// apart.
constexpr int c_nSocketTries = 500;

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
bool ResolveAgent(const char* szAgent, uint16_t uPort, sockaddr_storage* pAgent, socklen_t* pnLen) {
  if (IsInvalidDomain(szAgent)) return false;
  const bool bIpv6Literal = IsIpv6Literal(szAgent);
  int nGai = EAI_NONAME;
  addrinfo* pResult = nullptr;
  for (const int nFamily : {AF_INET, AF_INET6}) {
    if (bIpv6Literal && nFamily == AF_INET) continue;
    addrinfo hints{};
    hints.ai_family = nFamily;
    hints.ai_socktype = SOCK_DGRAM;
    if (bIpv6Literal) hints.ai_flags = AI_NUMERICHOST;
    nGai = getaddrinfo(szAgent, nullptr, &hints, &pResult);
    if (nGai == 0 && pResult != nullptr) break;
    if (nGai == EAI_SYSTEM) WSASetLastError(errno);
    // Only a name that has no address of this family is tried again.
    if (nGai != EAI_NONAME && nGai != EAI_NODATA && nGai != EAI_ADDRFAMILY) return false;
  }
  if (nGai != 0 || pResult == nullptr) return false;
  std::memcpy(pAgent, pResult->ai_addr, pResult->ai_addrlen);
  *pnLen = static_cast<socklen_t>(pResult->ai_addrlen);
  freeaddrinfo(pResult);
  if (pAgent->ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(pAgent)->sin6_port = htons(uPort);
  else
    reinterpret_cast<sockaddr_in*>(pAgent)->sin_port = htons(uPort);
  return true;
}

}  // namespace

class CSnmpSession {
 public:
  CSnmpSession(int nFd, int32_t nVersionField, std::string strCommunity, int nTimeoutMs, int nRetries)
      : m_nFd(nFd),
        m_nVersionField(nVersionField),
        m_strCommunity(std::move(strCommunity)),
        m_nTimeoutMs(nTimeoutMs > 0 ? nTimeoutMs : c_nDefaultTimeoutMs),
        m_nTries(nRetries > 0 ? 1 + static_cast<int64_t>(nRetries) : 1),
        m_nNextRequestId(FirstRequestId()) {}
  ~CSnmpSession() { close(m_nFd); }
  CSnmpSession(const CSnmpSession&) = delete;
  CSnmpSession& operator=(const CSnmpSession&) = delete;

  // A request of requestType; nField1 and nField2 go where the error
  // status and index stand (a GETBULK's non-repeaters and max-repetitions).
  bool Request(uint8_t requestType, int32_t nField1, int32_t nField2, SnmpVarBindList* pBindings,
               int32_t* pnErrorStatus, int32_t* pnErrorIndex);
  bool IsVersion1() const { return m_nVersionField == SNMP_VERSION_1; }

 private:
  // Waits until the deadline for the answer to nRequestId. True when taken.
  bool AwaitAnswer(int32_t nRequestId, CClock::time_point deadline, CSnmpMessage* pAnswer);
  // Makes the next receive wait at most nWaitMs. False when the socket
  // refused it.
  bool SetReceiveWait(int64_t nWaitMs);
  // A fresh positive request-id; ids wrap around before they turn negative.
  int32_t NextRequestId() {
    const int32_t nId = m_nNextRequestId;
    m_nNextRequestId = nId == 0x7FFFFFFF ? 1 : nId + 1;
    return nId;
  }

  int m_nFd;  // connected to the agent: the kernel drops other senders' datagrams
  int32_t m_nVersionField;  // SNMP_VERSION_1 or SNMP_VERSION_2C
  std::string m_strCommunity;
  int m_nTimeoutMs;
  int64_t m_nTries;
  int32_t m_nNextRequestId;
  int64_t m_nReceiveWaitMs = -1;   // the socket's receive time-out now; -1: not set yet
  std::unique_ptr<char[]> m_pBuffer;  // receive buffer, made at the first receive
  std::string m_strDatagram;          // the request being sent, kept for its re-sends
  CSnmpMessage m_request;             // kept between requests: their buffers are reused
};

bool CSnmpSession::Request(uint8_t requestType, int32_t nField1, int32_t nField2,
                           SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
                           int32_t* pnErrorIndex) {
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
  m_strDatagram.clear();
  if (!EncodeSnmpMessage(m_request, &m_strDatagram) || m_strDatagram.size() > c_nMaxDatagram) {
    SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
    return false;
  }
  WSASetLastError(0);
  SetLastError(SNMP_MGMTAPI_TIMEOUT);
  for (int64_t nTry = 0; nTry < m_nTries; ++nTry) {
    // An interrupted scan sends nothing more; the try under way has had
    // its wait, so the walk ends within one time-out.
    if (IsInterrupted()) {
      SetLastError(SNMP_MGR_ERROR_INTERRUPTED);
      return false;
    }
    const auto deadline = CClock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    // A failed send is remembered but the wait still runs: an answer to an
    // earlier try may yet arrive, and every try costs the same time.
    // ECONNREFUSED reports an ICMP error of an earlier send; it says
    // nothing certain about this one.
    if (send(m_nFd, m_strDatagram.data(), m_strDatagram.size(), 0) < 0 && errno != ECONNREFUSED)
      WSASetLastError(errno);
    CSnmpMessage answer;
    if (AwaitAnswer(m_request.nRequestId, deadline, &answer)) {
      *pBindings = std::move(answer.bindings);
      *pnErrorStatus = answer.nErrorStatus;
      *pnErrorIndex = answer.nErrorIndex;
      SetLastError(SNMP_MGR_OK);
      return true;
    }
    if (GetLastError() != SNMP_MGMTAPI_TIMEOUT) return false;
  }
  return false;
}

bool CSnmpSession::SetReceiveWait(int64_t nWaitMs) {
  if (nWaitMs == m_nReceiveWaitMs) return true;
  timeval wait{};
  wait.tv_sec = static_cast<time_t>(nWaitMs / 1000);
  wait.tv_usec = static_cast<suseconds_t>((nWaitMs % 1000) * 1000);
  if (setsockopt(m_nFd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) return false;
  m_nReceiveWaitMs = nWaitMs;
  return true;
}

bool CSnmpSession::AwaitAnswer(int32_t nRequestId, CClock::time_point deadline,
                               CSnmpMessage* pAnswer) {
  while (true) {
    // A blocking receive that gives up at the deadline: one call per
    // answer, and the time-out is set again only when it changes.
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - CClock::now());
    if (remaining.count() <= 0) return false;
    if (!SetReceiveWait(remaining.count())) {
      WSASetLastError(errno);
      SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
      return false;
    }
    ssize_t nLen = 0;
    if (!m_pBuffer) {
      // No buffer before the first datagram: a silent agent costs none.
      // The wait peeks; the datagram stays queued for the receive below.
      char byte = 0;
      nLen = recv(m_nFd, &byte, 1, MSG_PEEK | MSG_TRUNC);
      if (nLen >= 0) {
        m_pBuffer.reset(new (std::nothrow) char[c_nMaxDatagram]);
        if (!m_pBuffer) {
          SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
          return false;
        }
      }
    }
    if (nLen >= 0) nLen = recv(m_nFd, m_pBuffer.get(), c_nMaxDatagram, 0);
    if (nLen < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return false;  // the wait is over
      // ICMP errors of earlier sends surface here (ECONNREFUSED); they say
      // nothing certain about this try, so the wait goes on. So does a
      // wait cut short by a signal.
      if (errno == EINTR || errno == ECONNREFUSED) continue;
      WSASetLastError(errno);
      SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
      return false;
    }
    if (!DecodeSnmpMessage(std::string_view(m_pBuffer.get(), static_cast<size_t>(nLen)), pAnswer))
      continue;  // malformed
    if (pAnswer->nVersion == m_nVersionField && pAnswer->pduType == SNMP_PDU_RESPONSE &&
        pAnswer->nRequestId == nRequestId && pAnswer->strCommunity == m_strCommunity)
      return true;
  }
}

LPSNMP_MGR_SESSION SnmpMgrOpen(const char* szAgent, const char* szCommunity, int nTimeoutMs,
                               int nRetries, int nPort, int nVersion) {
  WSASetLastError(0);
  sockaddr_storage agent{};
  socklen_t nAgentLen = 0;
  if (!ResolveAgent(szAgent, static_cast<uint16_t>(nPort), &agent, &nAgentLen)) {
    SetLastError(SNMP_MGR_ERROR_RESOLVE);
    return nullptr;
  }
  int nFd = -1;
  for (int nTry = 0;; ++nTry) {
    nFd = socket(agent.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Out of descriptors for a moment: other targets are about to close
    // theirs (the driver runs no more targets than there are descriptors).
    if (nFd >= 0 || !IsOutOfDescriptors(errno) || nTry >= c_nSocketTries) break;
    PauseForDescriptors();
  }
  // Connected: the kernel passes on only the agent's datagrams.
  if (nFd < 0 || connect(nFd, reinterpret_cast<const sockaddr*>(&agent), nAgentLen) != 0) {
    WSASetLastError(errno);
    if (nFd >= 0) close(nFd);
    SetLastError(SNMP_MGR_ERROR_SOCKET);
    return nullptr;
  }
  SetLastError(SNMP_MGR_OK);
  return new CSnmpSession(nFd, nVersion == 2 ? SNMP_VERSION_2C : SNMP_VERSION_1, szCommunity,
                          nTimeoutMs, nRetries);
}

bool IsIpv6Literal(std::string_view strText) {
  const std::string strAddress(strText.substr(0, strText.find('%')));
  in6_addr address{};
  return inet_pton(AF_INET6, strAddress.c_str(), &address) == 1;
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
