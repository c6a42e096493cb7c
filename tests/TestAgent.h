// An SNMPv1, SNMPv2c and (without authentication or privacy) SNMPv3
// agent for tests and benchmarks, serving loopback addresses.
//
// It serves OID/value records (added one by one or loaded from snmpsim's
// ".snmprec" text: "OID|TAG|VALUE" lines, numeric tags, an "x" after the
// tag for a hexadecimal value). It answers SNMPv1 GET and GET-NEXT as an
// SNMPv1 agent does: an unknown name or a GET-NEXT past the last record
// gives noSuchName (error status 2) with the index of the binding and the
// request's bindings. It answers SNMPv2c GET, GET-NEXT and GETBULK as
// RFC 3416 says: noSuchObject (no record below the name's parent) or
// noSuchInstance for a GET, endOfMibView past the last record. Datagrams
// with another version or community, other PDUs and malformed bytes get
// no answer. SNMPv3 requests of any user at noAuthNoPriv are answered as
// SNMPv2c ones, after a discovery report naming the engine c_szAgentEngineId;
// authenticated ones get no answer.
//
// It can be told to misbehave (CMisbehaviour), and it counts the requests
// it received. One thread serves every address given to Start(); Stop()
// (or the destructor) ends it.
//
// The tests of the Windows build run under wine, which cannot serve two
// loopback addresses on one port. There, when the build names a Linux
// agent host (MIBSCAN_AGENT_HOST, tests/AgentHost.cpp), Start() runs the
// agent in that Linux process instead: the records, the community and the
// misbehaviour go to it in files of a scratch folder, and the request count
// comes back the same way.
#ifndef MIBSCAN_TESTS_TESTAGENT_H_
#define MIBSCAN_TESTS_TESTAGENT_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <memory>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/UdpEndpoints.h"
#include "snmp/Ber.h"

// The engine the agent names in its SNMPv3 discovery reports.
constexpr char c_szAgentEngineId[] = "\x80\x00\x1f\x88\x04mibscan-test";

class CTestAgent {
 public:
  struct CMisbehaviour {
    int nSilentAfter = -1;        // answer only the first N requests; -1: every one
    // Stay silent to a GETBULK asking more than N repetitions, as a path
    // that loses the fragments of large answers does; -1: answer every one.
    int nSilentAboveRepetitions = -1;
    std::set<int> setErrorRequests{};  // answer these requests (from 1) with nErrorStatus
    int32_t nErrorStatus = SNMP_ERRORSTATUS_GENERR;
    bool bRepeatOid = false;      // answer a GET-NEXT with the requested OID again
    bool bGoBackwards = false;    // answer a GET-NEXT with the first OID served
    bool bGarbageFirst = false;   // send malformed bytes before every answer
    bool bWrongIdFirst = false;   // send the answer with another request-id first
    bool bWrongCommunityFirst = false;  // ... with another community first
    bool bOtherPortFirst = false;       // ... from another port first
    // Every datagram goes out from another port only, as a multi-homed
    // device answers from another of its addresses.
    bool bOnlyFromOtherPort = false;
    int nDelayMs = 0;             // send every answer this much later
    // A busy agent that serves one request at a time: every answer takes
    // this long after the one before it (or after its request, when the
    // agent was idle), so requests that come together wait in turn.
    int nServiceMs = 0;
    // Encode every answer in longer forms than needed, as some agents do:
    // every length in the long form with leading zero bytes, integers with
    // redundant leading bytes, unsigned numbers without the 0x00 before a
    // high first byte.
    bool bNonMinimal = false;
    // Records (dotted OIDs, no leading dot) whose value goes out as an
    // INTEGER of six content bytes, which no manager can read.
    std::set<std::string> setUnreadable{};
    // SNMPv2c: an answer of more bindings than this is refused with tooBig;
    // 0: no limit.
    int nMaxBindings = 0;
    // SNMPv2c: GETBULK answered with this many repetitions whatever the
    // request asked for; 0: as asked.
    int nBulkRepetitions = 0;
    // SNMPv2c requests answered as an SNMPv1 agent would (noSuchName
    // errors instead of exception values), in SNMPv2c messages.
    bool bVersion1Errors = false;
    // Error answers carry no bindings, as RFC 3416 sends tooBig.
    bool bErrorsWithoutBindings = false;
    // SNMPv2c: endOfMibView comes under a name after the one asked for
    // (".0" appended) instead of that name.
    bool bEndOfViewElsewhere = false;
    // Every GET-NEXT and GETBULK answer ends with one more binding, the
    // first record: the answer goes back before its own first binding.
    bool bLastGoesBack = false;
    // Not 0: in a GET-NEXT or GETBULK answer of more than N bindings, those
    // after the first N start over from the first, as agents whose bulk
    // answers go wrong above a number of repetitions do.
    int nOutOfOrderAbove = 0;
    // Not 0: every GET-NEXT and GETBULK answer is 1 to 8 bindings drawn
    // from this seed (the same seed, the same answers in the same order):
    // the record after the binding before (most of them), a record at or
    // before the one asked for, the binding before again, an OID outside
    // the records, and seldom the end of the view.
    uint32_t uRandomSeed = 0;
    // Not 0: before it answers request N (from 1), the agent sends SIGINT
    // to the process whose id strInterruptPidFile holds (Linux), and holds
    // that answer back a while, so that the interruption comes exactly
    // between two answers.
    int nInterruptBeforeAnswer = 0;
    // Not 0: from request N on (from 1), sysUpTime.0 is answered as 7
    // ticks, as by an agent that restarted then.
    int nRestartAtRequest = 0;
    std::string strInterruptPidFile{};
  };

  CTestAgent();
  ~CTestAgent();
  CTestAgent(const CTestAgent&) = delete;
  CTestAgent& operator=(const CTestAgent&) = delete;

  // Adds (or replaces) one record. Not while serving.
  void Add(const AsnObjectIdentifier& oid, const AsnAny& value);
  // Adds the records of .snmprec text. False, with *pstrErr naming the
  // line, when a line cannot be read; the lines before it are kept.
  bool LoadSnmprec(std::string_view text, std::string* pstrErr);
  bool LoadSnmprecFile(const std::string& strPath, std::string* pstrErr);
  size_t RecordCount() const { return m_records.size(); }

  void SetCommunity(std::string strCommunity) { m_strCommunity = std::move(strCommunity); }
  void SetMisbehaviour(const CMisbehaviour& misbehaviour) { m_misbehaviour = misbehaviour; }

  // Serves every address in arrAddresses (loopback: 127.0.0.0/8, ::1) on one
  // UDP port: uPort, or when 0 one the system picks. False when a socket
  // cannot be bound.
  bool Start(const std::vector<std::string>& arrAddresses = {"127.0.0.1"}, uint16_t uPort = 0);
  void Stop();
  uint16_t Port() const { return m_uPort; }
  // Datagrams received so far, whatever became of them, once the count has
  // stood still for 20 ms (the agent's thread counts a datagram when it
  // reads it).
  int RequestCount() const;
  // The count as it is this moment, without waiting (the agent host writes
  // it as it changes).
  int RequestCountNow() const { return m_nRequests.load(); }
  // RequestCount() once at least nAtLeast were received (or after 20 s),
  // and a moment more, so that datagrams already queued behind them are
  // counted too: the agent's thread counts a datagram when it reads it,
  // which on a busy machine can be well after it was sent.
  int RequestCountOnceAtLeast(int nAtLeast) const;

  // Whether Start() runs the agent in a Linux agent host process.
  static bool IsHosted();
  // The agent host's side: the settings of an agent as a text, and back.
  std::string Settings(const std::vector<std::string>& arrAddresses, uint16_t uPort) const;
  bool LoadSettings(std::string_view settings, std::vector<std::string>* pArrAddresses, uint16_t* puPort);

 private:
  struct COutgoing;
  void Serve();
  // The datagrams to send for one request, in order (empty: no answer).
  std::vector<std::string> Answer(std::string_view request, bool* pbFromOtherPort);
  void Respond(CSnmpMessage* pMessage) const;
  void RespondVersion2(CSnmpMessage* pMessage) const;
  // A GETBULK the misbehaviour leaves unanswered for its repetitions.
  bool IsSilentToBulk(const CSnmpMessage& request) const;
  // The bindings of a random answer to a GET-NEXT or GETBULK (uRandomSeed);
  // *pbError, for SNMPv1, when it is to be a noSuchName error instead.
  SnmpVarBindList RandomAnswer(const SnmpVarBindList& request, bool bVersion1, bool* pbError);
  // The datagram answering an SNMPv3 request (empty: none).
  std::string AnswerVersion3(std::string_view request);

  bool StartHosted(const std::vector<std::string>& arrAddresses, uint16_t uPort);
  void StopHosted();

  std::map<std::vector<uint32_t>, AsnAny> m_records;  // in OID order
  std::string m_strRecordsText;  // the .snmprec text loaded, for an agent host
  std::unique_ptr<CTempDir> m_pHostDir;  // the files shared with a running agent host
  std::string m_strCommunity = "qzvtrk";
  CMisbehaviour m_misbehaviour;
  std::unique_ptr<CUdpEndpoints> m_pEndpoints;
  std::vector<size_t> m_arrMain;   // the socket of each address
  std::vector<size_t> m_arrOther;  // a second port per address, for bOtherPortFirst, bOnlyFromOtherPort
  uint16_t m_uPort = 0;
  std::atomic<int> m_nRequests{0};
  std::mt19937 m_random;  // of uRandomSeed, from Start()
  std::chrono::steady_clock::time_point m_lastServed{};  // nServiceMs: when the last answer is due
  // The answer after an interruption waits this long, so that the signal
  // has surely been taken when it arrives (serving thread only).
  static constexpr int c_nHoldAfterInterruptMs = 300;
  int m_nHoldAnswerMs = 0;
  std::thread m_thread;
};

// Under wine a process cannot bind one UDP port on two loopback addresses
// (real Windows can): without an agent host, a Windows test serves one
// address only, and tests of several agents or addresses run on Linux.
#define SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE() \
  if (c_bWindows && !CTestAgent::IsHosted())      \
  GTEST_SKIP() << "wine binds a UDP port on one loopback address only, and no Linux agent host is built"

#endif  // MIBSCAN_TESTS_TESTAGENT_H_
