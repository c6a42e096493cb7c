#include "platform/UdpSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Descriptors.h"

namespace {

// Waits shorter than this go through poll(), to the millisecond.
constexpr int64_t c_nPreciseWaitMs = 20;

}  // namespace

EResolve ResolveAgentAddress(const char* szAgent, bool bIpv6, bool bNumeric, uint16_t uPort,
                             SAgentAddress* pAddress, int* pnError) {
  *pnError = 0;
  addrinfo hints{};
  hints.ai_family = bIpv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  if (bNumeric) hints.ai_flags = AI_NUMERICHOST;
  addrinfo* pResult = nullptr;
  const int nGai = getaddrinfo(szAgent, nullptr, &hints, &pResult);
  if (nGai != 0 || pResult == nullptr) {
    if (nGai == EAI_SYSTEM) *pnError = errno;
    return nGai == EAI_NONAME || nGai == EAI_NODATA || nGai == EAI_ADDRFAMILY ? EResolve::NoAddress
                                                                              : EResolve::Failed;
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
  in6_addr address{};
  return inet_pton(AF_INET6, szAddress, &address) == 1;
}

CUdpSocket::~CUdpSocket() { Close(); }

void CUdpSocket::Close() {
  if (m_hSocket >= 0) close(static_cast<int>(m_hSocket));
  m_hSocket = -1;
  m_nWaitMs = -1;
}

bool CUdpSocket::Open(const SAgentAddress& agent, bool bAnySender) {
  Close();
  m_agent = agent;
  m_bConnected = !bAnySender;
  const auto* pAgent = reinterpret_cast<const sockaddr*>(agent.aBytes);
  const int nFd = OpenWaitingForDescriptors([&] { return socket(pAgent->sa_family, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
  if (nFd < 0 || (m_bConnected && connect(nFd, pAgent, static_cast<socklen_t>(agent.nLen)) != 0)) {
    m_nLastError = errno;
    if (nFd >= 0) close(nFd);
    return false;
  }
  // Best effort: a smaller buffer drops answers, which are asked again.
  (void)setsockopt(nFd, SOL_SOCKET, SO_RCVBUF, &c_nReceiveBufferBytes, sizeof c_nReceiveBufferBytes);
  m_hSocket = nFd;
  return true;
}

bool CUdpSocket::Send(std::string_view datagram) {
  // ECONNREFUSED reports an ICMP error of an earlier send; it says nothing
  // about this one.
  const int nFd = static_cast<int>(m_hSocket);
  const ssize_t nSent = m_bConnected ? send(nFd, datagram.data(), datagram.size(), 0)
                                     : sendto(nFd, datagram.data(), datagram.size(), 0,
                                              reinterpret_cast<const sockaddr*>(m_agent.aBytes),
                                              static_cast<socklen_t>(m_agent.nLen));
  if (nSent >= 0 || errno == ECONNREFUSED) return true;
  m_nLastError = errno;
  return false;
}

CUdpSocket::EReceive CUdpSocket::Receive(char* pBuffer, size_t nSize, int64_t nWaitMs, size_t* pnLen) {
  const int nFd = static_cast<int>(m_hSocket);
  int nFlags = 0;
  if (nWaitMs < c_nPreciseWaitMs) {
    // A short wait (a walk spacing its requests, the end of a try) is
    // kept to the millisecond by poll(): the receive time-out below
    // counts in the kernel's ticks, of several milliseconds each.
    pollfd readable{nFd, POLLIN, 0};
    const int nReady = poll(&readable, 1, static_cast<int>(nWaitMs));
    if (nReady == 0) return EReceive::TimedOut;
    if (nReady < 0) {
      if (errno == EINTR) return EReceive::Again;
      m_nLastError = errno;
      return EReceive::Failed;
    }
    nFlags = MSG_DONTWAIT;
  } else if (nWaitMs != m_nWaitMs) {
    // A blocking receive that gives up after the wait: one call per
    // datagram, and the time-out is set again only when it changes.
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(nWaitMs / 1000);
    wait.tv_usec = static_cast<suseconds_t>((nWaitMs % 1000) * 1000);
    if (setsockopt(nFd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
      m_nLastError = errno;
      return EReceive::Failed;
    }
    m_nWaitMs = nWaitMs;
  }
  char byte = 0;
  const ssize_t nLen = pBuffer == nullptr ? recv(nFd, &byte, 1, MSG_PEEK | MSG_TRUNC | nFlags)
                                          : recv(nFd, pBuffer, nSize, nFlags);
  if (nLen >= 0) {
    *pnLen = static_cast<size_t>(nLen);
    return EReceive::Datagram;
  }
  // After poll(), nothing to take after all: the wait goes on.
  if (errno == EAGAIN || errno == EWOULDBLOCK) return nFlags != 0 ? EReceive::Again : EReceive::TimedOut;
  // ICMP errors of earlier sends surface here (ECONNREFUSED); they say
  // nothing certain about this try, so the wait goes on. So does a wait
  // cut short by a signal.
  if (errno == EINTR || errno == ECONNREFUSED) return EReceive::Again;
  m_nLastError = errno;
  return EReceive::Failed;
}
