// The SNMP manager's exchange of datagrams with one agent: one connected
// UDP socket and a window of pending requests, each with its own datagram,
// deadline and tries left, keyed by the id its answer carries (the
// request-id; SNMPv3: the message-id).
//
// A request is sent at once; when its deadline passes without its answer
// being taken, it is sent again while tries are left, and then expires.
// Interruption (Interrupt.h): once the scan is interrupted, nothing is
// sent any more; a request whose try ran out then expires at once with
// SNMP_MGR_ERROR_INTERRUPTED, so a walk ends within one time-out.
//
// Thread use: a transport belongs to its session's thread.
#ifndef MIBSCAN_SNMP_SNMPTRANSPORT_H_
#define MIBSCAN_SNMP_SNMPTRANSPORT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UdpSocket.h"

class CSnmpTransport {
 public:
  using CClock = std::chrono::steady_clock;
  enum class EEvent {
    Datagram,  // a datagram arrived (*pDatagram, valid until the next call)
    Expired,   // a request's tries ran out (*pnId; it is forgotten); GetLastError() says why
    Failed,    // receiving failed (SNMP_MGMTAPI_SELECT_FDERRORS), or nothing is pending
  };

  explicit CSnmpTransport(int nTimeoutMs) : m_nTimeoutMs(nTimeoutMs) {}
  CSnmpTransport(const CSnmpTransport&) = delete;
  CSnmpTransport& operator=(const CSnmpTransport&) = delete;

  // Points the socket at agent. False (SNMP_MGR_ERROR_SOCKET, the system's
  // error in WSAGetLastError()) when it cannot.
  [[nodiscard]] bool Connect(const SAgentAddress& agent);
  // Sends strDatagram as request nId, which then waits for its answer for
  // nTries tries of the time-out each. False, with nothing sent and
  // SNMP_MGR_ERROR_INTERRUPTED, once the scan is interrupted. A send that
  // fails is remembered in WSAGetLastError(), and the wait still runs: an
  // answer to an earlier try may yet come.
  [[nodiscard]] bool Send(int32_t nId, std::string strDatagram, int64_t nTries);
  // Waits for the next event of the pending requests.
  [[nodiscard]] EEvent Wait(std::string_view* pDatagram, int32_t* pnId);
  // Forgets request nId (its answer was taken, or it ended otherwise).
  void Forget(int32_t nId);
  [[nodiscard]] bool IsPending(int32_t nId) const;
  [[nodiscard]] size_t PendingCount() const { return m_arrPending.size(); }
  // Datagrams sent again after a time-out, so far.
  [[nodiscard]] int64_t Resends() const { return m_nResends; }

 private:
  struct CPending {
    int32_t nId;
    std::string strDatagram;
    CClock::time_point deadline;
    int64_t nTriesLeft;  // after the try under way
  };
  // Sends pending's datagram for its next try.
  void SendTry(CPending* pPending);
  // Receives one datagram before the deadline. Datagram, TimedOut at the
  // deadline, or Failed.
  CUdpSocket::EReceive Receive(CClock::time_point deadline, std::string_view* pDatagram);

  CUdpSocket m_socket;  // connected to the agent: the system drops other senders' datagrams
  int m_nTimeoutMs;
  std::vector<CPending> m_arrPending;  // few: a window is small
  std::unique_ptr<char[]> m_pBuffer;   // receive buffer, made at the first datagram
  int64_t m_nResends = 0;
};

#endif  // MIBSCAN_SNMP_SNMPTRANSPORT_H_
