// FD_SETSIZE before winsock2.h: a test agent may serve many addresses.
#define FD_SETSIZE 4096
#include "tests/UdpEndpoints.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace {

SOCKET AsSocket(intptr_t h) { return static_cast<SOCKET>(h); }

// A UDP socket bound to strAddress and uPort; INVALID_SOCKET on failure.
SOCKET BindUdp(const std::string& strAddress, uint16_t uPort, sockaddr_storage* pAddr, int* pnLen) {
  *pAddr = {};
  auto* pV4 = reinterpret_cast<sockaddr_in*>(pAddr);
  auto* pV6 = reinterpret_cast<sockaddr_in6*>(pAddr);
  if (inet_pton(AF_INET, strAddress.c_str(), &pV4->sin_addr) == 1) {
    pV4->sin_family = AF_INET;
    pV4->sin_port = htons(uPort);
    *pnLen = sizeof *pV4;
  } else if (inet_pton(AF_INET6, strAddress.c_str(), &pV6->sin6_addr) == 1) {
    pV6->sin6_family = AF_INET6;
    pV6->sin6_port = htons(uPort);
    *pnLen = sizeof *pV6;
  } else {
    return INVALID_SOCKET;
  }
  const SOCKET hSocket = socket(pAddr->ss_family, SOCK_DGRAM, IPPROTO_UDP);
  if (hSocket == INVALID_SOCKET) return hSocket;
  // Wine takes one port on two loopback addresses for a conflict unless
  // both sockets allow reuse; Windows does not.
  const BOOL bReuse = TRUE;
  setsockopt(hSocket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&bReuse), sizeof bReuse);
  if (bind(hSocket, reinterpret_cast<sockaddr*>(pAddr), *pnLen) != 0 ||
      getsockname(hSocket, reinterpret_cast<sockaddr*>(pAddr), pnLen) != 0) {
    closesocket(hSocket);
    return INVALID_SOCKET;
  }
  return hSocket;
}

}  // namespace

SUdpPeer LoopbackPeer(uint16_t uPort) {
  SUdpPeer peer;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::memcpy(peer.aBytes, &address, sizeof address);
  peer.nLen = sizeof address;
  return peer;
}

CUdpEndpoints::CUdpEndpoints() {
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  // The stop signal: a datagram from one loopback socket to another.
  sockaddr_storage addr{};
  int nLen = 0;
  const SOCKET hStop = BindUdp("127.0.0.1", 0, &addr, &nLen);
  const SOCKET hSender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (hStop == INVALID_SOCKET || hSender == INVALID_SOCKET ||
      connect(hSender, reinterpret_cast<sockaddr*>(&addr), nLen) != 0) {
    if (hStop != INVALID_SOCKET) closesocket(hStop);
    if (hSender != INVALID_SOCKET) closesocket(hSender);
    return;
  }
  m_hStop = static_cast<intptr_t>(hStop);
  m_hStopSender = static_cast<intptr_t>(hSender);
}

CUdpEndpoints::~CUdpEndpoints() {
  for (intptr_t hSocket : m_arrSockets) closesocket(AsSocket(hSocket));
  if (m_hStop != -1) closesocket(AsSocket(m_hStop));
  if (m_hStopSender != -1) closesocket(AsSocket(m_hStopSender));
  WSACleanup();
}

bool CUdpEndpoints::IsReady() const { return m_hStop != -1; }

int CUdpEndpoints::Bind(const std::string& strAddress, uint16_t uPort, uint16_t* puBound) {
  if (m_arrSockets.size() + 1 >= FD_SETSIZE) return -1;
  sockaddr_storage addr{};
  int nLen = 0;
  const SOCKET hSocket = BindUdp(strAddress, uPort, &addr, &nLen);
  if (hSocket == INVALID_SOCKET) return -1;
  *puBound = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  m_arrSockets.push_back(static_cast<intptr_t>(hSocket));
  return static_cast<int>(m_arrSockets.size() - 1);
}

bool CUdpEndpoints::Wait(int nWaitMs, std::vector<size_t>* pReady) {
  pReady->clear();
  fd_set readable;
  FD_ZERO(&readable);
  for (intptr_t hSocket : m_arrSockets) FD_SET(AsSocket(hSocket), &readable);
  FD_SET(AsSocket(m_hStop), &readable);
  timeval wait{nWaitMs / 1000, (nWaitMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, nWaitMs < 0 ? nullptr : &wait) == SOCKET_ERROR) return false;
  if (FD_ISSET(AsSocket(m_hStop), &readable)) return false;
  for (size_t i = 0; i < m_arrSockets.size(); ++i) {
    if (FD_ISSET(AsSocket(m_arrSockets[i]), &readable)) pReady->push_back(i);
  }
  return true;
}

bool CUdpEndpoints::ReceiveFrom(size_t nIndex, std::vector<char>* pBuffer, size_t* pnLen, SUdpPeer* pFrom) {
  static_assert(sizeof pFrom->aBytes >= sizeof(sockaddr_storage));
  int nFromLen = sizeof(sockaddr_storage);
  const int nLen = recvfrom(AsSocket(m_arrSockets[nIndex]), pBuffer->data(), static_cast<int>(pBuffer->size()),
                            0, reinterpret_cast<sockaddr*>(pFrom->aBytes), &nFromLen);
  if (nLen == SOCKET_ERROR) return false;
  pFrom->nLen = nFromLen;
  *pnLen = static_cast<size_t>(nLen);
  return true;
}

void CUdpEndpoints::SendTo(size_t nIndex, std::string_view datagram, const SUdpPeer& to) {
  (void)sendto(AsSocket(m_arrSockets[nIndex]), datagram.data(), static_cast<int>(datagram.size()), 0,
               reinterpret_cast<const sockaddr*>(to.aBytes), to.nLen);
}

void CUdpEndpoints::Stop() { (void)send(AsSocket(m_hStopSender), "", 0, 0); }
