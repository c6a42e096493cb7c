// The SNMP manager's exchange of datagrams with one agent: one UDP socket
// (connected to it, unless answers from any address are accepted) and the window of requests in flight. Each request in flight
// has one record, CRequest: its datagram, deadline and tries left, whose it
// is (the caller's tag) and what its session keeps for it. Records are
// found by the id the answer carries (the request-id; SNMPv3: the
// message-id) in a map, and by deadline in a heap, as resolvers keep their
// queries: both stay cheap however wide the window.
//
// A request is sent at once; when its deadline passes without its answer
// being taken, it is sent again while tries are left, and then expires.
// Interruption (Interrupt.h): once the scan is interrupted, nothing is
// sent any more; a request whose try ran out then expires at once with
// SNMP_MGR_ERROR_INTERRUPTED, so a walk ends within one time-out. A
// deadline (SetDeadline) stops the sending the same way.
//
// Thread use: a transport belongs to its session's thread.
#ifndef MIBSCAN_SNMP_SNMPTRANSPORT_H_
#define MIBSCAN_SNMP_SNMPTRANSPORT_H_

#include <algorithm>
#include <chrono>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/UdpSocket.h"
#include "snmp/Ber.h"
#include "snmp/RoundTripTimer.h"
#include "util/RoundTrips.h"

class CSnmpTransport {
 public:
  using CClock = std::chrono::steady_clock;
  enum class EEvent {
    Datagram,  // a datagram arrived (*pDatagram, valid until the next call)
    Expired,   // a request's tries ran out (*pnId; it is forgotten); GetLastError() says why
    Failed,    // receiving failed (SNMP_MGMTAPI_SELECT_FDERRORS), or nothing is pending
    Woken,     // the wake came before any of these
  };

  // One request in flight, as its session and its caller see it.
  struct CRequest {
    void* pTag = nullptr;     // the caller's: whose request it is (a walk's lane)
    CSnmpMessage message;     // SNMPv3: the request, for a resend with the agent's clock
    bool bMayResync = true;   // SNMPv3: that resend is still left
  };

  explicit CSnmpTransport(int nTimeoutMs) : m_nTimeoutMs(nTimeoutMs) {}
  CSnmpTransport(const CSnmpTransport&) = delete;
  CSnmpTransport& operator=(const CSnmpTransport&) = delete;

  // Points the socket at agent. False (SNMP_MGR_ERROR_SOCKET, the system's
  // error in WSAGetLastError()) when it cannot.
  [[nodiscard]] bool Connect(const SAgentAddress& agent);
  // From now on datagrams from any address are received, not only the
  // agent's (AcceptAnySender), the socket made anew. Before the first
  // request only; false, as Connect, when the socket cannot be made.
  [[nodiscard]] bool AcceptAnySender();
  // Sends strDatagram as request nId, which then waits for its answer for
  // nTries tries of the time-out each; its record, tagged pTag. Null, with
  // nothing sent and SNMP_MGR_ERROR_INTERRUPTED, once the scan is
  // interrupted. A send that fails is remembered in WSAGetLastError(), and
  // the wait still runs: an answer to an earlier try may yet come.
  [[nodiscard]] CRequest* Send(int32_t nId, std::string strDatagram, int64_t nTries, void* pTag = nullptr);
  // Sends request nId, which is in flight, again as strDatagram with
  // nTries fresh tries; its record stays. False, with nothing sent, once
  // the scan is interrupted.
  [[nodiscard]] bool SendAgain(int32_t nId, std::string strDatagram, int64_t nTries);
  // Waits for the next event of the pending requests, or until wake; for
  // an expired one, *ppTag (when given) is its tag.
  [[nodiscard]] EEvent Wait(std::string_view* pDatagram, int32_t* pnId, void** ppTag = nullptr,
                            CClock::time_point wake = CClock::time_point::max());
  // From deadline on, nothing is sent any more, as once the scan is
  // interrupted, but with SNMP_MGR_ERROR_TIME_CAP: a request whose try
  // runs out then expires with that code (a walk's MaxSeconds).
  void SetDeadline(CClock::time_point deadline) { m_deadline = deadline; }
  // Each try waits what the agent's round trips show (RoundTripTimer.h)
  // instead of the fixed time-out, from now on.
  void SetAdaptiveTimeout() { m_pTimer = std::make_unique<CRoundTripTimer>(m_nTimeoutMs); }
  // Forgets request nId (its answer was taken, or it ended otherwise).
  void Forget(int32_t nId);
  // Forgets request nId, whose answer was taken: a round trip to learn
  // from, when it went only once.
  void Answered(int32_t nId);
  // Forgets every request in flight.
  void ForgetAll();
  // The record of request nId while it is in flight; null otherwise.
  [[nodiscard]] CRequest* Find(int32_t nId);
  [[nodiscard]] bool IsPending(int32_t nId) const { return m_mapPending.contains(nId); }
  // True when nId is in flight, or one of the last requests that expired:
  // an answer to it is still the agent's, only late.
  [[nodiscard]] bool IsAwaited(int32_t nId) const {
    return IsPending(nId) || std::find(m_expired.begin(), m_expired.end(), nId) != m_expired.end();
  }
  // True, once, for an expired request whose answer came after all.
  [[nodiscard]] bool TakeLate(int32_t nId);
  [[nodiscard]] size_t PendingCount() const { return m_mapPending.size(); }
  // Datagrams sent again after a time-out, so far.
  [[nodiscard]] int64_t Resends() const { return m_nResends; }
  // The agent's address and port as numbers (AgentAddressText).
  [[nodiscard]] std::string AgentText() const { return AgentAddressText(m_agent); }
  // Bytes of every datagram received, so far, whatever became of it.
  [[nodiscard]] int64_t BytesReceived() const { return m_nBytesReceived; }
  // The round trips of the answers taken to requests sent once (an answer
  // to a request sent more than once may be to any of its tries).
  [[nodiscard]] const CRoundTrips& RoundTrips() const { return m_roundTrips; }

 private:
  // Why nothing may be sent any more: SNMP_MGR_ERROR_INTERRUPTED,
  // SNMP_MGR_ERROR_TIME_CAP; SNMP_MGR_OK while sending goes on.
  [[nodiscard]] uint32_t StopCode() const;
  struct CPending {
    CRequest request;
    std::string strDatagram;
    CClock::time_point deadline;
    int64_t nTriesLeft;  // after the try under way
    uint64_t nTry;       // the number of the try under way, among all of the transport's
    int64_t nTriesSent = 0;
    CClock::time_point firstSent;
    uint64_t uTimerEpoch = 0;  // the round-trip timer's when the try went
  };
  // A try's deadline in the heap. Entries of tries that are over (answered,
  // sent again, forgotten) stay until they come to the top and are dropped
  // there: a try is current while its record holds its number.
  struct CDeadline {
    CClock::time_point deadline;
    uint64_t nTry;
    int32_t nId;
    bool operator>(const CDeadline& other) const {
      return deadline != other.deadline ? deadline > other.deadline : nTry > other.nTry;
    }
  };
  // Sends pending's datagram for its next try.
  void SendTry(int32_t nId, CPending* pPending);
  // The pending request whose try ends first, with its id; null when none
  // is pending.
  CPending* Earliest(int32_t* pnId);
  // Receives one datagram before the deadline. Datagram, TimedOut at the
  // deadline, or Failed.
  CUdpSocket::EReceive Receive(CClock::time_point deadline, std::string_view* pDatagram);

  CUdpSocket m_socket;  // connected to the agent, the system drops other senders' datagrams; or not
  SAgentAddress m_agent;
  CClock::time_point m_deadline = CClock::time_point::max();
  int m_nTimeoutMs;
  std::unordered_map<int32_t, CPending> m_mapPending;
  std::priority_queue<CDeadline, std::vector<CDeadline>, std::greater<>> m_deadlines;
  uint64_t m_nTries = 0;
  std::unique_ptr<char[]> m_pBuffer;   // receive buffer, made at the first datagram
  int64_t m_nResends = 0;
  int64_t m_nBytesReceived = 0;
  CRoundTrips m_roundTrips;
  std::deque<int32_t> m_expired;  // the ids of the last requests that expired, oldest first
  std::unique_ptr<CRoundTripTimer> m_pTimer;  // null: every try waits m_nTimeoutMs
};

#endif  // MIBSCAN_SNMP_SNMPTRANSPORT_H_
