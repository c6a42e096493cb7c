#include "platform/SnmpSession.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/Interrupt.h"
#include "platform/LastError.h"

namespace {

// Largest UDP payload: no datagram is cut when received.
constexpr size_t c_nMaxDatagram = 65535;

using CClock = std::chrono::steady_clock;

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

}  // namespace

class CSnmpSession {
 public:
  CSnmpSession(int nFd, const sockaddr_in& agent, std::string strCommunity, int nTimeoutMs,
               int nRetries)
      : m_nFd(nFd),
        m_agent(agent),
        m_strCommunity(std::move(strCommunity)),
        m_nTimeoutMs(nTimeoutMs > 0 ? nTimeoutMs : c_nDefaultTimeoutMs),
        m_nTries(nRetries > 0 ? 1 + static_cast<int64_t>(nRetries) : 1),
        m_nNextRequestId(static_cast<int32_t>(std::random_device{}() & 0x7FFFFFFF)),
        m_buffer(c_nMaxDatagram) {}
  ~CSnmpSession() { close(m_nFd); }
  CSnmpSession(const CSnmpSession&) = delete;
  CSnmpSession& operator=(const CSnmpSession&) = delete;

  bool Request(uint8_t requestType, SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
               int32_t* pnErrorIndex);

 private:
  // Waits until the deadline for the answer to nRequestId. True when taken.
  bool AwaitAnswer(int32_t nRequestId, CClock::time_point deadline, CSnmpMessage* pAnswer);
  // A fresh positive request-id; ids wrap around before they turn negative.
  int32_t NextRequestId() {
    const int32_t nId = m_nNextRequestId;
    m_nNextRequestId = nId == 0x7FFFFFFF ? 1 : nId + 1;
    return nId;
  }

  int m_nFd;
  sockaddr_in m_agent;
  std::string m_strCommunity;
  int m_nTimeoutMs;
  int64_t m_nTries;
  int32_t m_nNextRequestId;
  std::vector<char> m_buffer;  // receive buffer, kept for the session's life
};

bool CSnmpSession::Request(uint8_t requestType, SnmpVarBindList* pBindings,
                           int32_t* pnErrorStatus, int32_t* pnErrorIndex) {
  CSnmpMessage request;
  request.strCommunity = m_strCommunity;
  request.pduType = requestType;
  request.nRequestId = NextRequestId();
  request.bindings = *pBindings;
  for (SnmpVarBind& varBind : request.bindings) varBind.value = AsnAny{};  // values go as NULL
  std::string strDatagram;
  if (!EncodeSnmpMessage(request, &strDatagram) || strDatagram.size() > c_nMaxDatagram) {
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
    if (sendto(m_nFd, strDatagram.data(), strDatagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&m_agent), sizeof m_agent) < 0)
      WSASetLastError(errno);
    CSnmpMessage answer;
    if (AwaitAnswer(request.nRequestId, deadline, &answer)) {
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

bool CSnmpSession::AwaitAnswer(int32_t nRequestId, CClock::time_point deadline,
                               CSnmpMessage* pAnswer) {
  while (true) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - CClock::now());
    if (remaining.count() <= 0) return false;
    pollfd pfd{m_nFd, POLLIN, 0};
    const int nReady = poll(&pfd, 1, static_cast<int>(std::min<int64_t>(remaining.count(), 1 << 30)));
    if (nReady < 0) {
      if (errno == EINTR) continue;
      WSASetLastError(errno);
      SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
      return false;
    }
    if (nReady == 0) return false;
    sockaddr_in from{};
    socklen_t nFromLen = sizeof from;
    const ssize_t nLen = recvfrom(m_nFd, m_buffer.data(), m_buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&from), &nFromLen);
    if (nLen < 0) {
      // ICMP errors of earlier sends surface here (ECONNREFUSED); they say
      // nothing certain about this try, so the wait goes on.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNREFUSED) WSASetLastError(errno);
      continue;
    }
    if (nFromLen != sizeof from || from.sin_family != AF_INET ||
        from.sin_addr.s_addr != m_agent.sin_addr.s_addr || from.sin_port != m_agent.sin_port)
      continue;  // another sender
    if (!DecodeSnmpMessage(std::string_view(m_buffer.data(), static_cast<size_t>(nLen)), pAnswer))
      continue;  // malformed
    if (pAnswer->nVersion == 0 && pAnswer->pduType == SNMP_PDU_RESPONSE &&
        pAnswer->nRequestId == nRequestId && pAnswer->strCommunity == m_strCommunity)
      return true;
  }
}

LPSNMP_MGR_SESSION SnmpMgrOpen(const char* szAgent, const char* szCommunity, int nTimeoutMs,
                               int nRetries, int nPort) {
  WSASetLastError(0);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* pResult = nullptr;
  const int nGai = IsInvalidDomain(szAgent) ? EAI_NONAME
                                            : getaddrinfo(szAgent, nullptr, &hints, &pResult);
  if (nGai != 0 || pResult == nullptr) {
    if (nGai == EAI_SYSTEM) WSASetLastError(errno);
    SetLastError(SNMP_MGR_ERROR_RESOLVE);
    return nullptr;
  }
  sockaddr_in agent{};
  std::memcpy(&agent, pResult->ai_addr, sizeof agent);
  freeaddrinfo(pResult);
  agent.sin_port = htons(static_cast<uint16_t>(nPort));

  const int nFd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (nFd < 0) {
    WSASetLastError(errno);
    SetLastError(SNMP_MGR_ERROR_SOCKET);
    return nullptr;
  }
  SetLastError(SNMP_MGR_OK);
  return new CSnmpSession(nFd, agent, szCommunity, nTimeoutMs, nRetries);
}

bool SnmpMgrRequest(LPSNMP_MGR_SESSION pSession, uint8_t requestType, SnmpVarBindList* pBindings,
                    int32_t* pnErrorStatus, int32_t* pnErrorIndex) {
  if (pSession == nullptr) {
    WSASetLastError(0);
    SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
    return false;
  }
  return pSession->Request(requestType, pBindings, pnErrorStatus, pnErrorIndex);
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
