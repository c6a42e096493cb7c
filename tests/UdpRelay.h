// A UDP relay on loopback for tests and benchmarks: it stands between a
// manager and an agent on 127.0.0.1 and holds every datagram a fixed time
// each way, as a long link does. Each behaviour below, set before Start(),
// adds one thing that real paths and devices do:
// - a busy agent's input queue: a request that arrives while nQueue
//   requests of the same manager socket are unanswered is dropped;
// - a path that loses large answers (their fragments): an answer longer
//   than a limit is dropped;
// - a loaded link or a busy agent: each answer is held a further random
//   time, drawn from a seed (so answers overtake one another);
// - a multi-homed device: answers come from another port than the one
//   the requests went to;
// - an agent silent to a GETBULK of many repetitions (SNMPv1, SNMPv2c and
//   SNMPv3 without privacy, whose requests it can read);
// - an agent whose GETBULK answers go wrong above a number of bindings:
//   the bindings after the first N start over from the first one
//   (SNMPv1 and SNMPv2c answers, which it can rewrite).
//
// One thread serves the relay from Start() to Stop() (or the destructor).
#ifndef MIBSCAN_TESTS_UDPRELAY_H_
#define MIBSCAN_TESTS_UDPRELAY_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/UdpEndpoints.h"

class CUdpRelay {
 public:
  // To the agent on 127.0.0.1:uAgentPort; nDelayMs each way; nQueue 0:
  // nothing is dropped.
  CUdpRelay(uint16_t uAgentPort, int nDelayMs, int nQueue = 0)
      : m_uAgentPort(uAgentPort), m_nDelayMs(nDelayMs), m_nQueue(nQueue) {}
  ~CUdpRelay() { Stop(); }
  CUdpRelay(const CUdpRelay&) = delete;
  CUdpRelay& operator=(const CUdpRelay&) = delete;

  // Before Start(): answers longer than nBytes are dropped; 0: none is.
  void SetMaxAnswerBytes(size_t nBytes) { m_nMaxAnswerBytes = nBytes; }
  // Before Start(): each answer is held a further nMinMs to nMaxMs, drawn
  // from uSeed.
  void SetAnswerDelay(int nMinMs, int nMaxMs, uint32_t uSeed = 1) {
    m_nMinAnswerDelayMs = nMinMs;
    m_nMaxAnswerDelayMs = nMaxMs;
    m_uSeed = uSeed;
  }
  // Before Start(): answers go out from another port of the relay.
  void SetAnswerFromOtherPort() { m_bOtherPort = true; }
  // Before Start(): a GETBULK asking more than n repetitions is dropped.
  void SetSilentAboveRepetitions(int n) { m_nSilentAboveRepetitions = n; }
  // Before Start(): in an answer of more than n bindings, those after the
  // first n start over from the first.
  void SetOutOfOrderAbove(int n) { m_nOutOfOrderAbove = n; }

  // Before Start(): the OIDs each request names are kept (SNMPv1, SNMPv2c;
  // SNMPv3 without privacy).
  void SetRecordRequests() { m_bRecordRequests = true; }
  // Those OIDs, dotted without a leading dot, in the order the requests
  // came; read after Stop().
  const std::vector<std::string>& RequestedOids() const { return m_arrRequested; }

  // Listens on 127.0.0.1 on a port the system picks. False when it cannot.
  bool Start();
  void Stop();
  uint16_t Port() const { return m_uPort; }
  // Requests passed on to the agent, and dropped, so far.
  int Forwarded() const { return m_nForwarded.load(); }
  int Dropped() const { return m_nDropped.load(); }
  // Answers dropped for their length, so far.
  int DroppedAnswers() const { return m_nDroppedAnswers.load(); }
  // GETBULK requests dropped for their repetitions, and answers put out of
  // order, so far.
  int DroppedBulks() const { return m_nDroppedBulks.load(); }
  int Reordered() const { return m_nReordered.load(); }

 private:
  void Serve();
  // Whether the request's max-repetitions asks for silence.
  bool IsSilentTo(std::string_view request) const;
  // Keeps the OIDs the request names, when asked to.
  void Record(std::string_view request);
  // The answer, out of order when asked for.
  std::string Rewritten(std::string strAnswer);

  uint16_t m_uAgentPort;
  int m_nDelayMs;
  int m_nQueue;
  size_t m_nMaxAnswerBytes = 0;
  int m_nMinAnswerDelayMs = 0;
  int m_nMaxAnswerDelayMs = 0;
  uint32_t m_uSeed = 1;
  bool m_bOtherPort = false;
  int m_nSilentAboveRepetitions = -1;
  int m_nOutOfOrderAbove = 0;
  bool m_bRecordRequests = false;
  std::vector<std::string> m_arrRequested;  // the serving thread's until Stop()
  uint16_t m_uPort = 0;
  std::unique_ptr<CUdpEndpoints> m_pEndpoints;
  std::thread m_thread;
  std::atomic<int> m_nForwarded{0};
  std::atomic<int> m_nDropped{0};
  std::atomic<int> m_nDroppedAnswers{0};
  std::atomic<int> m_nDroppedBulks{0};
  std::atomic<int> m_nReordered{0};
};

#endif  // MIBSCAN_TESTS_UDPRELAY_H_
