// The SNMP manager's UDP transport: name resolution and one socket
// towards one agent, over the system's sockets (BSD sockets on Linux:
// UdpSocket_posix.cpp; Winsock 2 on Windows: UdpSocket_win32.cpp).
//
// Errors are the system's own numbers (errno, or WSAGetLastError() on
// Windows), as the manager reports them.
#ifndef MIBSCAN_PLATFORM_UDPSOCKET_H_
#define MIBSCAN_PLATFORM_UDPSOCKET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// An agent's address and port, in the system's socket address form.
struct SAgentAddress {
  alignas(8) unsigned char aBytes[128] = {};
  int nLen = 0;
};

enum class EResolve {
  Found,       // *pAddress holds the first address
  NoAddress,   // the name exists, or may, but has no address of this family
  Failed,      // it does not resolve; *pnError the system's error, or 0
};

// The first address of szAgent in one family (IPv6 when bIpv6, IPv4
// otherwise), with uPort. bNumeric: szAgent must be an address literal.
[[nodiscard]] EResolve ResolveAgentAddress(const char* szAgent, bool bIpv6, bool bNumeric, uint16_t uPort,
                                           SAgentAddress* pAddress, int* pnError);

// The address and port as numbers: "192.0.2.1:161", "[2001:db8::1]:161";
// empty when there is none.
[[nodiscard]] std::string AgentAddressText(const SAgentAddress& agent);

// True when strAddress is an IPv6 address literal (without a zone).
[[nodiscard]] bool IsIpv6Address(const char* szAddress);
// True when strText is an IPv6 address, with or without a zone
// ("fe80::1%eth0").
[[nodiscard]] inline bool IsIpv6Literal(std::string_view strText) {
  return IsIpv6Address(std::string(strText.substr(0, strText.find('%'))).c_str());
}

// The receive buffer each socket asks for (the system may grant less, on
// Linux net.core.rmem_max): a walk's whole window of answers, up to 256 of
// over 1,400 bytes each, arrives together, and waits there while the walk
// takes them one at a time. The systems' defaults (208 KiB, 64 KiB) drop
// the rest, each a request the walk sends again a time-out later.
constexpr int c_nReceiveBufferBytes = 4 * 1024 * 1024;

class CUdpSocket {
 public:
  enum class EReceive {
    Datagram,  // one datagram arrived
    TimedOut,  // nothing arrived in the wait
    Again,     // the wait was cut short, or an earlier send's ICMP error surfaced: wait again
    Failed,    // LastError() says why
  };

  CUdpSocket() = default;
  ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  // A socket towards agent, closing any earlier one. Connected, unless
  // bAnySender: the system then passes on only the agent's datagrams.
  // With bAnySender it passes on datagrams from any sender (a multi-homed
  // agent may answer from another of its addresses), and the caller tells
  // answers from the rest. While the process is out of descriptors, waits
  // for them (OpenWaitingForDescriptors). False, LastError() set, when it
  // fails.
  [[nodiscard]] bool Open(const SAgentAddress& agent, bool bAnySender = false);
  // Sends one datagram. False, LastError() set, when the system refused
  // it; an ICMP error of an earlier send that surfaces here is no failure.
  [[nodiscard]] bool Send(std::string_view datagram);
  // Waits at most nWaitMs (> 0) for a datagram and receives it into
  // pBuffer (nSize bytes; a longer datagram is cut), its length in *pnLen.
  // With pBuffer == nullptr only waits: the datagram stays queued.
  [[nodiscard]] EReceive Receive(char* pBuffer, size_t nSize, int64_t nWaitMs, size_t* pnLen);

  [[nodiscard]] int LastError() const { return m_nLastError; }

 private:
  void Close();

  intptr_t m_hSocket = -1;  // the descriptor (Linux) or the SOCKET (Windows)
  SAgentAddress m_agent;    // where Send() sends, when the socket is not connected
  bool m_bConnected = true;
  int64_t m_nWaitMs = -1;   // Linux: the socket's receive time-out now; -1: not set yet
  int m_nLastError = 0;
};

#endif  // MIBSCAN_PLATFORM_UDPSOCKET_H_
