// A UDP relay on loopback for tests and benchmarks: it stands between a
// manager and an agent on 127.0.0.1 and holds every datagram a fixed time
// each way, as a long link does. It can also play a busy agent's input
// queue: a request that arrives while nQueue requests of the same manager
// socket are unanswered is dropped. And it can play a path that loses
// large answers (their fragments): an answer longer than a limit is dropped.
//
// One thread serves the relay from Start() to Stop() (or the destructor).
#ifndef MIBSCAN_TESTS_UDPRELAY_H_
#define MIBSCAN_TESTS_UDPRELAY_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

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

  // Listens on 127.0.0.1 on a port the system picks. False when it cannot.
  bool Start();
  void Stop();
  uint16_t Port() const { return m_uPort; }
  // Requests passed on to the agent, and dropped, so far.
  int Forwarded() const { return m_nForwarded.load(); }
  int Dropped() const { return m_nDropped.load(); }
  // Answers dropped for their length, so far.
  int DroppedAnswers() const { return m_nDroppedAnswers.load(); }

 private:
  void Serve();

  uint16_t m_uAgentPort;
  int m_nDelayMs;
  int m_nQueue;
  size_t m_nMaxAnswerBytes = 0;
  uint16_t m_uPort = 0;
  std::unique_ptr<CUdpEndpoints> m_pEndpoints;
  std::thread m_thread;
  std::atomic<int> m_nForwarded{0};
  std::atomic<int> m_nDropped{0};
  std::atomic<int> m_nDroppedAnswers{0};
};

#endif  // MIBSCAN_TESTS_UDPRELAY_H_
