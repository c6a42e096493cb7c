// The SNMP manager: a session with one agent over UDP, SNMPv1, SNMPv2c or
// SNMPv3 (SnmpMgrOpenV3), and requests of one kind (GET, GET-NEXT or, with
// SNMPv2c and SNMPv3, GETBULK) with a list of bindings.
//
// Tries: each request is sent once and re-sent nRetries times, each try
// waiting nTimeoutMs milliseconds for the answer, so an agent that never
// answers costs (1 + nRetries) x nTimeoutMs. A time-out of 0 or less is
// taken as c_nDefaultTimeoutMs; a retry count below 0 as 0 (one try).
//
// Answers: every request has a fresh request-id, kept by its re-sends, so a
// late answer to an earlier try of the same request is taken. Only a
// GetResponse from the agent's address and port (from any address, after
// SnmpMgrSetAnyReplyAddress), with the session's
// version, community (SNMPv3: message-id, user and authentication) and the
// request's id is taken. Every other
// datagram (an answer to an earlier request, other senders, malformed
// bytes) is dropped and the wait goes on until the time-out.
//
// Interruption (Interrupt.h): once the scan is interrupted, no request or
// re-send goes out any more; the request fails with
// SNMP_MGR_ERROR_INTERRUPTED. A wait already under way runs to its end,
// and an answer that comes in it is still taken.
//
// The session is the face of its parts: the exchange of datagrams with a
// window of pending requests (SnmpTransport.h), and the security model
// that writes requests and judges answers: community, or USM with its
// discovery (SnmpSecurity.h).
//
// Thread use: a session belongs to one thread at a time; sessions share
// nothing, so each thread may run its own. Every call sets the thread's
// GetLastError() and WSAGetLastError() codes (LastError.h).
#ifndef MIBSCAN_SNMP_SNMPSESSION_H_
#define MIBSCAN_SNMP_SNMPSESSION_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "snmp/Ber.h"
#include "snmp/SnmpDefaults.h"
#include "snmp/UsmUser.h"
#include "util/RoundTrips.h"


class CSnmpSession;
using LPSNMP_MGR_SESSION = CSnmpSession*;

// Opens a session with the agent szAgent on UDP port nPort, speaking
// SNMPv1 (nVersion 1) or SNMPv2c (nVersion 2). The agent is a host name, a
// dotted IPv4 address or an IPv6 address (with a zone where it needs one:
// "fe80::1%eth0"). A name is reached over IPv4 when it has an IPv4
// address, over IPv6 only when it has none. Names in the "invalid" domain
// fail at once, without a name server being asked (RFC 6761). Null on
// failure (SNMP_MGR_ERROR_RESOLVE, SNMP_MGR_ERROR_SOCKET). The caller
// closes it with SnmpMgrClose.
[[nodiscard]] LPSNMP_MGR_SESSION SnmpMgrOpen(const char* szAgent, const char* szCommunity,
                                             int nTimeoutMs, int nRetries, int nPort = c_nSnmpPort,
                                             int nVersion = 1);

// Sends a request of type requestType (SNMP_PDU_GET or SNMP_PDU_GETNEXT)
// for the bindings of *pBindings and waits for the answer. True when an
// answer came: *pBindings then holds the answer's bindings and
// *pnErrorStatus, *pnErrorIndex its error fields. False when none came
// (SNMP_MGMTAPI_TIMEOUT) or the request failed otherwise; *pBindings is
// then unchanged (SNMP_MGMTAPI_TIMEOUT, SNMP_MGR_ERROR_INTERRUPTED, ...).
// nTries, when above 0, is this request's number of tries instead of the
// session's.
[[nodiscard]] bool SnmpMgrRequest(LPSNMP_MGR_SESSION pSession, uint8_t requestType,
                                  SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
                                  int32_t* pnErrorIndex, int nTries = 0);

// Opens an SNMPv3 session (User-based Security Model) with the agent, as
// SnmpMgrOpen does. Requests then go as SNMPv3 messages of security's
// user: the first one discovers the agent's engine and clock (RFC 3414 4)
// and the keys are localised to it, once per session. A notInTimeWindow
// report makes the request go once more with the agent's clock. Any other
// report, and an answer that fails authentication, ends the request at
// once with its code (LastError.h, 56 to 63): a wrong password costs one
// round trip. Re-sends keep the request-id and the message-id; a late
// answer is taken if it authenticates. No password or key is ever
// written anywhere.
[[nodiscard]] LPSNMP_MGR_SESSION SnmpMgrOpenV3(const char* szAgent, const CSnmpV3Security& security,
                                               int nTimeoutMs, int nRetries, int nPort = c_nSnmpPort);

// Sends a GETBULK request (SNMPv2c sessions) with non-repeaters 0 and
// max-repetitions nMaxRepetitions for the bindings of *pBindings; answers
// as SnmpMgrRequest. nTries, when above 0, is this request's number of
// tries instead of the session's (one try: a request that goes unanswered
// is asked again otherwise, smaller, rather than sent again).
[[nodiscard]] bool SnmpMgrRequestBulk(LPSNMP_MGR_SESSION pSession, int32_t nMaxRepetitions,
                                      SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
                                      int32_t* pnErrorIndex, int nTries = 0);

// Several requests in flight on the session's one socket: SnmpMgrSend
// sends a request and returns at once with its id in *pnId (an SNMPv3
// session first discovers the agent's engine, waiting for it);
// SnmpMgrReceive waits for the next of the requests in flight to end. Each
// is re-sent and timed as SnmpMgrRequest's, and its answer matched by its
// id. pTag is the caller's, handed back with the request's end: whose
// request it was. False from SnmpMgrSend when nothing was sent
// (GetLastError() says why: an interrupted scan, a request that cannot be
// encoded).
// nTries, when above 0, is the request's number of tries instead of the
// session's.
[[nodiscard]] bool SnmpMgrSend(LPSNMP_MGR_SESSION pSession, uint8_t requestType, int32_t nMaxRepetitions,
                               const SnmpVarBindList& bindings, int32_t* pnId, void* pTag = nullptr,
                               int nTries = 0);
// True with the answer of request *pnId in *pBindings and the error
// fields, and its tag in *ppTag (when given). False when request *pnId
// ended without an answer (GetLastError() says why, as SnmpMgrRequest's;
// *ppTag its tag), or, with *pnId 0 and *ppTag null, when no request is in
// flight or receiving failed (every request in flight then ends), or,
// with SNMP_MGR_OK, when wake came before any request ended (the caller
// has more to send then).
[[nodiscard]] bool SnmpMgrReceive(
    LPSNMP_MGR_SESSION pSession, int32_t* pnId, SnmpVarBindList* pBindings, int32_t* pnErrorStatus,
    int32_t* pnErrorIndex, void** ppTag = nullptr,
    std::chrono::steady_clock::time_point wake = std::chrono::steady_clock::time_point::max());
// Requests sent again after a time-out in this session so far.
[[nodiscard]] int64_t SnmpMgrResends(LPSNMP_MGR_SESSION pSession);
// Answers that came after their request's tries had run out (to one of
// the session's last 256 such requests, as many as a window holds), so
// far: the agent or the path is slower than the time-out. They are
// counted, never taken.
[[nodiscard]] int64_t SnmpMgrLateAnswers(LPSNMP_MGR_SESSION pSession);
// What a session's exchange cost and saw, so far.
struct CSessionFigures {
  int64_t nBytesReceived = 0;  // of every datagram received
  int64_t nLateAnswers = 0;    // SnmpMgrLateAnswers
  // Datagrams that were not taken otherwise: malformed, another version,
  // community or user, an answer to no request in flight (a second answer
  // to one already taken).
  int64_t nDropped = 0;
  CRoundTrips roundTrips;      // of the answers to requests sent once
  std::string strAgent;        // the address the requests went to (AgentAddressText)
};
// Null: empty figures.
[[nodiscard]] CSessionFigures SnmpMgrFigures(LPSNMP_MGR_SESSION pSession);
// From now on each try of the session's requests waits what the agent's
// round trips show (RoundTripTimer.h) instead of the session's time-out,
// which stays the wait of every try until the first answer.
void SnmpMgrSetAdaptiveTimeout(LPSNMP_MGR_SESSION pSession);

// From now on answers are taken from any address, not only the agent's:
// a multi-homed agent may answer from another of its addresses. Such an
// answer must still match a request in flight by its request-id (SNMPv3:
// its message-id too) and carry the session's community, or pass its
// authentication. Request-ids run on from a random 31-bit start, so a
// sender that cannot see the requests must guess one of those in flight:
// about one in 2^31 per forged datagram and request in flight. Before
// the session's first request only. False (SNMP_MGR_ERROR_SOCKET) when
// the socket cannot be made anew; the session then cannot be used.
[[nodiscard]] bool SnmpMgrSetAnyReplyAddress(LPSNMP_MGR_SESSION pSession);

// From deadline on, no request or re-send of the session goes out: they
// fail with SNMP_MGR_ERROR_TIME_CAP (a target's MaxSeconds). A wait under
// way runs to its end.
void SnmpMgrSetDeadline(LPSNMP_MGR_SESSION pSession, std::chrono::steady_clock::time_point deadline);

// The next requests of the session go with another community (SNMPv1,
// SNMPv2c) or as another user (SNMPv3; the engine discovered stays, so
// the user's first request costs one round trip): the entries of a
// credential list, tried in turn. False (SNMP_MGR_ERROR_SETTINGS) when
// the user's keys cannot be made, or the session is of the other kind.
[[nodiscard]] bool SnmpMgrSetCommunity(LPSNMP_MGR_SESSION pSession, const std::string& strCommunity);
[[nodiscard]] bool SnmpMgrSetUserV3(LPSNMP_MGR_SESSION pSession, const CSnmpV3Security& security);

// Closes the session and frees it. False for a null session.
bool SnmpMgrClose(LPSNMP_MGR_SESSION pSession);

#endif  // MIBSCAN_SNMP_SNMPSESSION_H_
