#include "snmp/SnmpTransport.h"

#include <algorithm>
#include <new>

#include "platform/Interrupt.h"
#include "snmp/LastError.h"
#include "snmp/SnmpDefaults.h"

namespace {

// Expired requests whose late answers are still told from strangers'.
constexpr size_t c_nExpiredKept = 256;

}  // namespace

bool CSnmpTransport::Connect(const SAgentAddress& agent) {
  m_agent = agent;
  if (m_socket.Open(agent)) return true;
  WSASetLastError(m_socket.LastError());
  SetLastError(SNMP_MGR_ERROR_SOCKET);
  return false;
}

bool CSnmpTransport::AcceptAnySender() {
  if (m_socket.Open(m_agent, true)) return true;
  WSASetLastError(m_socket.LastError());
  SetLastError(SNMP_MGR_ERROR_SOCKET);
  return false;
}

uint32_t CSnmpTransport::StopCode() const {
  if (IsInterrupted()) return SNMP_MGR_ERROR_INTERRUPTED;
  if (m_deadline != CClock::time_point::max() && CClock::now() >= m_deadline) return SNMP_MGR_ERROR_TIME_CAP;
  return SNMP_MGR_OK;
}

CSnmpTransport::CRequest* CSnmpTransport::Send(int32_t nId, std::string strDatagram, int64_t nTries, void* pTag) {
  if (const uint32_t uStop = StopCode(); uStop != SNMP_MGR_OK) {
    SetLastError(uStop);
    return nullptr;
  }
  CPending& pending = m_mapPending[nId];
  pending = CPending{CRequest{pTag, {}, true}, std::move(strDatagram), {}, nTries, 0, 0, {}};
  SendTry(nId, &pending);
  return &pending.request;
}

bool CSnmpTransport::SendAgain(int32_t nId, std::string strDatagram, int64_t nTries) {
  const auto it = m_mapPending.find(nId);
  if (it == m_mapPending.end()) return false;
  if (const uint32_t uStop = StopCode(); uStop != SNMP_MGR_OK) {
    SetLastError(uStop);
    return false;
  }
  it->second.strDatagram = std::move(strDatagram);
  it->second.nTriesLeft = nTries;
  SendTry(nId, &it->second);
  return true;
}

void CSnmpTransport::SendTry(int32_t nId, CPending* pPending) {
  --pPending->nTriesLeft;
  const auto now = CClock::now();
  if (pPending->nTriesSent == 0) pPending->firstSent = now;
  const int nWaitMs = m_pTimer ? m_pTimer->TryTimeoutMs() : m_nTimeoutMs;
  if (m_pTimer) pPending->uTimerEpoch = m_pTimer->Epoch();
  ++pPending->nTriesSent;
  pPending->deadline = now + std::chrono::milliseconds(nWaitMs);
  pPending->nTry = ++m_nTries;
  m_deadlines.push({pPending->deadline, pPending->nTry, nId});
  if (!m_socket.Send(pPending->strDatagram)) WSASetLastError(m_socket.LastError());
}

void CSnmpTransport::Forget(int32_t nId) {
  m_mapPending.erase(nId);
  if (m_mapPending.empty()) m_deadlines = {};
}

void CSnmpTransport::Answered(int32_t nId) {
  const auto it = m_mapPending.find(nId);
  // Karn's rule: an answer to a request sent more than once may be to any
  // of its tries.
  if (it != m_mapPending.end() && it->second.nTriesSent == 1) {
    const int64_t nMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(CClock::now() - it->second.firstSent).count();
    m_roundTrips.Add(nMicros);
    if (m_pTimer) m_pTimer->Sample(nMicros);
  }
  Forget(nId);
}

bool CSnmpTransport::TakeLate(int32_t nId) {
  const auto it = std::find(m_expired.begin(), m_expired.end(), nId);
  if (it == m_expired.end()) return false;
  m_expired.erase(it);
  return true;
}

void CSnmpTransport::ForgetAll() {
  m_mapPending.clear();
  m_deadlines = {};
}

CSnmpTransport::CRequest* CSnmpTransport::Find(int32_t nId) {
  const auto it = m_mapPending.find(nId);
  return it != m_mapPending.end() ? &it->second.request : nullptr;
}

CSnmpTransport::CPending* CSnmpTransport::Earliest(int32_t* pnId) {
  while (!m_deadlines.empty()) {
    const CDeadline& top = m_deadlines.top();
    const auto it = m_mapPending.find(top.nId);
    if (it != m_mapPending.end() && it->second.nTry == top.nTry) {
      *pnId = top.nId;
      return &it->second;
    }
    m_deadlines.pop();  // a try that is over
  }
  return nullptr;
}

CSnmpTransport::EEvent CSnmpTransport::Wait(std::string_view* pDatagram, int32_t* pnId, void** ppTag,
                                            CClock::time_point wake) {
  int32_t nFirstId = 0;
  while (CPending* pFirst = Earliest(&nFirstId)) {
    const bool bWakeFirst = wake < pFirst->deadline;
    switch (Receive(bWakeFirst ? wake : pFirst->deadline, pDatagram)) {
      case CUdpSocket::EReceive::Datagram:
        return EEvent::Datagram;
      case CUdpSocket::EReceive::Failed:
        return EEvent::Failed;
      default:
        break;
    }
    if (bWakeFirst) return EEvent::Woken;
    // The earliest deadline passed: another try, or the end of it.
    if (m_pTimer) m_pTimer->TimedOut(pFirst->uTimerEpoch);
    const uint32_t uStop = StopCode();
    if (pFirst->nTriesLeft > 0 && uStop == SNMP_MGR_OK) {
      ++m_nResends;
      SendTry(nFirstId, pFirst);
      continue;
    }
    SetLastError(uStop != SNMP_MGR_OK && pFirst->nTriesLeft > 0 ? uStop : SNMP_MGMTAPI_TIMEOUT);
    *pnId = nFirstId;
    if (ppTag != nullptr) *ppTag = pFirst->request.pTag;
    Forget(nFirstId);
    m_expired.push_back(nFirstId);
    if (m_expired.size() > c_nExpiredKept) m_expired.pop_front();
    return EEvent::Expired;
  }
  SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
  return EEvent::Failed;
}

CUdpSocket::EReceive CSnmpTransport::Receive(CClock::time_point deadline, std::string_view* pDatagram) {
  while (true) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - CClock::now());
    if (remaining.count() <= 0) return CUdpSocket::EReceive::TimedOut;
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
          return CUdpSocket::EReceive::Failed;
        }
      }
    }
    if (result == CUdpSocket::EReceive::Datagram)
      result = m_socket.Receive(m_pBuffer.get(), c_nMaxDatagram, remaining.count(), &nLen);
    switch (result) {
      case CUdpSocket::EReceive::Datagram:
        *pDatagram = std::string_view(m_pBuffer.get(), nLen);
        m_nBytesReceived += static_cast<int64_t>(nLen);
        return result;
      case CUdpSocket::EReceive::TimedOut:
        return result;  // the wait is over
      case CUdpSocket::EReceive::Again:
        continue;
      case CUdpSocket::EReceive::Failed:
        WSASetLastError(m_socket.LastError());
        SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
        return result;
    }
  }
}
