#include "snmp/SnmpTransport.h"

#include <algorithm>
#include <new>

#include "platform/Interrupt.h"
#include "snmp/LastError.h"
#include "snmp/SnmpDefaults.h"

bool CSnmpTransport::Connect(const SAgentAddress& agent) {
  if (m_socket.Open(agent)) return true;
  WSASetLastError(m_socket.LastError());
  SetLastError(SNMP_MGR_ERROR_SOCKET);
  return false;
}

bool CSnmpTransport::Send(int32_t nId, std::string strDatagram, int64_t nTries) {
  if (IsInterrupted()) {
    SetLastError(SNMP_MGR_ERROR_INTERRUPTED);
    return false;
  }
  m_arrPending.push_back({nId, std::move(strDatagram), {}, nTries});
  SendTry(&m_arrPending.back());
  return true;
}

void CSnmpTransport::SendTry(CPending* pPending) {
  --pPending->nTriesLeft;
  pPending->deadline = CClock::now() + std::chrono::milliseconds(m_nTimeoutMs);
  if (!m_socket.Send(pPending->strDatagram)) WSASetLastError(m_socket.LastError());
}

void CSnmpTransport::Forget(int32_t nId) {
  std::erase_if(m_arrPending, [nId](const CPending& pending) { return pending.nId == nId; });
}

bool CSnmpTransport::IsPending(int32_t nId) const {
  return std::any_of(m_arrPending.begin(), m_arrPending.end(),
                     [nId](const CPending& pending) { return pending.nId == nId; });
}

CSnmpTransport::EEvent CSnmpTransport::Wait(std::string_view* pDatagram, int32_t* pnId) {
  while (!m_arrPending.empty()) {
    auto itFirst = std::min_element(m_arrPending.begin(), m_arrPending.end(),
                                    [](const CPending& a, const CPending& b) { return a.deadline < b.deadline; });
    switch (Receive(itFirst->deadline, pDatagram)) {
      case CUdpSocket::EReceive::Datagram:
        return EEvent::Datagram;
      case CUdpSocket::EReceive::Failed:
        return EEvent::Failed;
      default:
        break;
    }
    // The earliest deadline passed: another try, or the end of it.
    if (itFirst->nTriesLeft > 0 && !IsInterrupted()) {
      ++m_nResends;
      SendTry(&*itFirst);
      continue;
    }
    SetLastError(IsInterrupted() && itFirst->nTriesLeft > 0 ? SNMP_MGR_ERROR_INTERRUPTED : SNMP_MGMTAPI_TIMEOUT);
    *pnId = itFirst->nId;
    m_arrPending.erase(itFirst);
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
