#include "tests/UdpEndpoints.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SUdpPeer LoopbackPeer(uint16_t uPort) {
  SUdpPeer peer;
  auto* pV4 = reinterpret_cast<sockaddr_in*>(peer.aBytes);
  pV4->sin_family = AF_INET;
  pV4->sin_port = htons(uPort);
  pV4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  peer.nLen = sizeof *pV4;
  return peer;
}

CUdpEndpoints::CUdpEndpoints() {
  m_hStop = eventfd(0, EFD_CLOEXEC);
  m_hStopSender = m_hStop;
}

CUdpEndpoints::~CUdpEndpoints() {
  for (intptr_t hSocket : m_arrSockets) close(static_cast<int>(hSocket));
  if (m_hStop >= 0) close(static_cast<int>(m_hStop));
}

bool CUdpEndpoints::IsReady() const { return m_hStop >= 0; }

int CUdpEndpoints::Bind(const std::string& strAddress, uint16_t uPort, uint16_t* puBound) {
  sockaddr_storage addr{};
  socklen_t nLen = 0;
  auto* pV4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* pV6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET, strAddress.c_str(), &pV4->sin_addr) == 1) {
    pV4->sin_family = AF_INET;
    pV4->sin_port = htons(uPort);
    nLen = sizeof *pV4;
  } else if (inet_pton(AF_INET6, strAddress.c_str(), &pV6->sin6_addr) == 1) {
    pV6->sin6_family = AF_INET6;
    pV6->sin6_port = htons(uPort);
    nLen = sizeof *pV6;
  } else {
    return -1;
  }
  const int nFd = socket(addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (nFd < 0) return -1;
  if (bind(nFd, reinterpret_cast<sockaddr*>(&addr), nLen) != 0 ||
      getsockname(nFd, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) {
    close(nFd);
    return -1;
  }
  *puBound = ntohs(addr.ss_family == AF_INET6 ? pV6->sin6_port : pV4->sin_port);
  m_arrSockets.push_back(nFd);
  return static_cast<int>(m_arrSockets.size() - 1);
}

bool CUdpEndpoints::Wait(int nWaitMs, std::vector<size_t>* pReady) {
  pReady->clear();
  std::vector<pollfd> arrPoll;
  for (intptr_t hSocket : m_arrSockets) arrPoll.push_back({static_cast<int>(hSocket), POLLIN, 0});
  arrPoll.push_back({static_cast<int>(m_hStop), POLLIN, 0});
  if (poll(arrPoll.data(), arrPoll.size(), nWaitMs) < 0 && errno != EINTR) return false;
  if (arrPoll.back().revents & POLLIN) return false;
  for (size_t i = 0; i + 1 < arrPoll.size(); ++i) {
    if (arrPoll[i].revents & POLLIN) pReady->push_back(i);
  }
  return true;
}

bool CUdpEndpoints::ReceiveFrom(size_t nIndex, std::vector<char>* pBuffer, size_t* pnLen, SUdpPeer* pFrom) {
  static_assert(sizeof pFrom->aBytes >= sizeof(sockaddr_storage));
  socklen_t nFromLen = sizeof(sockaddr_storage);
  const ssize_t nLen = recvfrom(static_cast<int>(m_arrSockets[nIndex]), pBuffer->data(), pBuffer->size(),
                                MSG_DONTWAIT, reinterpret_cast<sockaddr*>(pFrom->aBytes), &nFromLen);
  if (nLen < 0) return false;
  pFrom->nLen = static_cast<int>(nFromLen);
  *pnLen = static_cast<size_t>(nLen);
  return true;
}

void CUdpEndpoints::SendTo(size_t nIndex, std::string_view datagram, const SUdpPeer& to) {
  (void)sendto(static_cast<int>(m_arrSockets[nIndex]), datagram.data(), datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(to.aBytes), static_cast<socklen_t>(to.nLen));
}

void CUdpEndpoints::Stop() {
  const uint64_t uOne = 1;
  (void)!write(static_cast<int>(m_hStopSender), &uOne, sizeof uOne);
}
