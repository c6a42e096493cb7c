// Bound UDP sockets for the test agents, waited on together, with a stop
// signal that another thread can raise. UdpEndpoints_posix.cpp (poll and
// an eventfd), UdpEndpoints_win32.cpp (select and a wake-up datagram).
#ifndef MIBSCAN_TESTS_UDPENDPOINTS_H_
#define MIBSCAN_TESTS_UDPENDPOINTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where a datagram came from.
struct SUdpPeer {
  alignas(8) unsigned char aBytes[128] = {};
  int nLen = 0;
};

// 127.0.0.1:uPort as a peer to send to.
SUdpPeer LoopbackPeer(uint16_t uPort);

class CUdpEndpoints {
 public:
  CUdpEndpoints();
  ~CUdpEndpoints();
  CUdpEndpoints(const CUdpEndpoints&) = delete;
  CUdpEndpoints& operator=(const CUdpEndpoints&) = delete;

  // False when the stop signal could not be made.
  [[nodiscard]] bool IsReady() const;
  // Binds a socket to strAddress (an IPv4 or IPv6 literal) and uPort (0:
  // any free one, stored in *puBound). Its index, or -1 when it fails.
  int Bind(const std::string& strAddress, uint16_t uPort, uint16_t* puBound);
  // Waits at most nWaitMs (-1: without limit) until sockets have datagrams
  // waiting; their indexes in *pReady. False once Stop() was called.
  bool Wait(int nWaitMs, std::vector<size_t>* pReady);
  // Receives one waiting datagram of socket nIndex, without blocking.
  bool ReceiveFrom(size_t nIndex, std::vector<char>* pBuffer, size_t* pnLen, SUdpPeer* pFrom);
  void SendTo(size_t nIndex, std::string_view datagram, const SUdpPeer& to);
  // Makes Wait() return false, from any thread.
  void Stop();

 private:
  std::vector<intptr_t> m_arrSockets;
  intptr_t m_hStop = -1;        // what Wait() watches: an eventfd, or a socket a wake-up datagram reaches
  intptr_t m_hStopSender = -1;  // what Stop() writes to: the same eventfd, or the socket that sends it
};

#endif  // MIBSCAN_TESTS_UDPENDPOINTS_H_
