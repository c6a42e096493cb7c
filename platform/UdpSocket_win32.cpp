#include "platform/UdpSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <cstring>
#include <mutex>

#include "platform/Descriptors.h"

// mingw-w64's headers lack it (mstcpip.h of the Windows SDK has it).
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// Winsock is started once, on first use, and stays up for the process.
bool StartWinsock(int* pnError) {
  static std::once_flag started;
  static int nStartError = 0;
  std::call_once(started, [] {
    WSADATA data{};
    nStartError = WSAStartup(MAKEWORD(2, 2), &data);
  });
  *pnError = nStartError;
  return nStartError == 0;
}

}  // namespace

EResolve ResolveAgentAddress(const char* szAgent, bool bIpv6, bool bNumeric, uint16_t uPort,
                             SAgentAddress* pAddress, int* pnError) {
  if (!StartWinsock(pnError)) return EResolve::Failed;
  addrinfo hints{};
  hints.ai_family = bIpv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  if (bNumeric) hints.ai_flags = AI_NUMERICHOST;
  addrinfo* pResult = nullptr;
  const int nGai = getaddrinfo(szAgent, nullptr, &hints, &pResult);
  if (nGai != 0 || pResult == nullptr) {
    if (nGai == WSAHOST_NOT_FOUND || nGai == WSANO_DATA || nGai == WSAEAFNOSUPPORT) return EResolve::NoAddress;
    *pnError = nGai;
    return EResolve::Failed;
  }
  static_assert(sizeof pAddress->aBytes >= sizeof(sockaddr_storage));
  std::memcpy(pAddress->aBytes, pResult->ai_addr, pResult->ai_addrlen);
  pAddress->nLen = static_cast<int>(pResult->ai_addrlen);
  freeaddrinfo(pResult);
  auto* pStorage = reinterpret_cast<sockaddr_storage*>(pAddress->aBytes);
  if (pStorage->ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(pStorage)->sin6_port = htons(uPort);
  else
    reinterpret_cast<sockaddr_in*>(pStorage)->sin_port = htons(uPort);
  return EResolve::Found;
}

std::string AgentAddressText(const SAgentAddress& agent) {
  if (agent.nLen <= 0) return {};
  char szHost[NI_MAXHOST] = {};
  char szPort[NI_MAXSERV] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(agent.aBytes), static_cast<socklen_t>(agent.nLen), szHost,
                  sizeof szHost, szPort, sizeof szPort, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {};
  const bool bIpv6 = reinterpret_cast<const sockaddr*>(agent.aBytes)->sa_family == AF_INET6;
  return bIpv6 ? std::string("[") + szHost + "]:" + szPort : std::string(szHost) + ":" + szPort;
}

bool IsIpv6Address(const char* szAddress) {
  int nError = 0;
  if (!StartWinsock(&nError)) return false;
  in6_addr address{};
  return inet_pton(AF_INET6, szAddress, &address) == 1;
}

CUdpSocket::~CUdpSocket() { Close(); }

void CUdpSocket::Close() {
  if (m_hSocket != -1) closesocket(static_cast<SOCKET>(m_hSocket));
  m_hSocket = -1;
}

bool CUdpSocket::Open(const SAgentAddress& agent, bool bAnySender) {
  Close();
  m_agent = agent;
  m_bConnected = !bAnySender;
  if (!StartWinsock(&m_nLastError)) return false;
  const auto* pAgent = reinterpret_cast<const sockaddr*>(agent.aBytes);
  SOCKET hSocket = INVALID_SOCKET;
  // Out of socket buffers for a moment, other targets are about to close
  // theirs, as on Linux with descriptors.
  for (int nTry = 1;; ++nTry) {
    hSocket = WSASocketW(pAgent->sa_family, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    const int nError = hSocket == INVALID_SOCKET ? WSAGetLastError() : 0;
    if (hSocket != INVALID_SOCKET || (nError != WSAEMFILE && nError != WSAENOBUFS) ||
        nTry >= c_nDescriptorTries)
      break;
    Sleep(10);
  }
  // Not connected, the socket is bound at once to a port of its own: a
  // receive on a socket that never sent fails on Windows otherwise.
  sockaddr_storage local{};
  local.ss_family = pAgent->sa_family;
  const int nLocalLen = pAgent->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (hSocket == INVALID_SOCKET ||
      (m_bConnected ? connect(hSocket, pAgent, agent.nLen)
                    : bind(hSocket, reinterpret_cast<const sockaddr*>(&local), nLocalLen)) != 0) {
    m_nLastError = WSAGetLastError();
    if (hSocket != INVALID_SOCKET) closesocket(hSocket);
    return false;
  }
  // Windows fails the next receive with WSAECONNRESET after an ICMP port
  // unreachable; the manager waits for an answer to the next try instead,
  // as on Linux. (Receive() still takes the error as "wait again".)
  BOOL bReport = FALSE;
  DWORD nReturned = 0;
  (void)WSAIoctl(hSocket, SIO_UDP_CONNRESET, &bReport, sizeof bReport, nullptr, 0, &nReturned, nullptr, nullptr);
  // Best effort: a smaller buffer drops answers, which are asked again.
  (void)setsockopt(hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&c_nReceiveBufferBytes),
                   sizeof c_nReceiveBufferBytes);
  m_hSocket = static_cast<intptr_t>(hSocket);
  return true;
}

bool CUdpSocket::Send(std::string_view datagram) {
  const SOCKET hSocket = static_cast<SOCKET>(m_hSocket);
  const int nSent = m_bConnected ? send(hSocket, datagram.data(), static_cast<int>(datagram.size()), 0)
                                 : sendto(hSocket, datagram.data(), static_cast<int>(datagram.size()), 0,
                                          reinterpret_cast<const sockaddr*>(m_agent.aBytes), m_agent.nLen);
  if (nSent != SOCKET_ERROR) return true;
  const int nError = WSAGetLastError();
  if (nError == WSAECONNRESET) return true;  // an earlier send's ICMP error
  m_nLastError = nError;
  return false;
}

CUdpSocket::EReceive CUdpSocket::Receive(char* pBuffer, size_t nSize, int64_t nWaitMs, size_t* pnLen) {
  const SOCKET hSocket = static_cast<SOCKET>(m_hSocket);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(hSocket, &readable);
  timeval wait{};
  wait.tv_sec = static_cast<long>(nWaitMs / 1000);
  wait.tv_usec = static_cast<long>((nWaitMs % 1000) * 1000);
  const int nReady = select(0, &readable, nullptr, nullptr, &wait);
  if (nReady == 0) return EReceive::TimedOut;
  if (nReady == SOCKET_ERROR) {
    m_nLastError = WSAGetLastError();
    return EReceive::Failed;
  }
  char byte = 0;
  const int nLen = pBuffer == nullptr ? recv(hSocket, &byte, 1, MSG_PEEK)
                                      : recv(hSocket, pBuffer, static_cast<int>(nSize), 0);
  if (nLen != SOCKET_ERROR) {
    *pnLen = static_cast<size_t>(nLen);
    return EReceive::Datagram;
  }
  const int nError = WSAGetLastError();
  // A peek into one byte reports a longer datagram as too long.
  if (nError == WSAEMSGSIZE) {
    *pnLen = pBuffer == nullptr ? 1 : nSize;
    return EReceive::Datagram;
  }
  if (nError == WSAECONNRESET || nError == WSAEINTR) return EReceive::Again;
  m_nLastError = nError;
  return EReceive::Failed;
}
