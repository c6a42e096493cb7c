#include "tests/UdpRelay.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using CClock = std::chrono::steady_clock;

// A datagram held until it is due.
struct CHeld {
  CClock::time_point due;
  size_t nSocket;
  SUdpPeer to;
  std::string strBytes;
};

// One manager socket: the relay's own socket towards the agent, and the
// requests it sent that have no answer yet.
struct CClient {
  SUdpPeer peer;
  size_t nUpstream;
  int nUnanswered = 0;
};

bool SamePeer(const SUdpPeer& a, const SUdpPeer& b) {
  return a.nLen == b.nLen && std::memcmp(a.aBytes, b.aBytes, static_cast<size_t>(a.nLen)) == 0;
}

}  // namespace

bool CUdpRelay::Start() {
  Stop();
  m_pEndpoints = std::make_unique<CUdpEndpoints>();
  if (!m_pEndpoints->IsReady() || m_pEndpoints->Bind("127.0.0.1", 0, &m_uPort) != 0) {
    m_pEndpoints.reset();
    return false;
  }
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void CUdpRelay::Stop() {
  if (m_thread.joinable()) {
    m_pEndpoints->Stop();
    m_thread.join();
  }
  m_pEndpoints.reset();
}

void CUdpRelay::Serve() {
  const SUdpPeer agent = LoopbackPeer(m_uAgentPort);
  std::vector<CClient> arrClients;
  std::deque<CHeld> held;  // due times grow with arrival: the front is due first
  std::vector<char> buffer(65535);
  std::vector<size_t> arrReady;
  while (true) {
    int nWaitMs = -1;
    if (!held.empty()) {
      nWaitMs = static_cast<int>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(held.front().due - CClock::now()).count()));
    }
    if (!m_pEndpoints->Wait(nWaitMs, &arrReady)) return;
    const auto due = CClock::now() + std::chrono::milliseconds(m_nDelayMs);
    for (const size_t nSocket : arrReady) {
      SUdpPeer from;
      size_t nLen = 0;
      if (m_pEndpoints->ReceiveFrom(nSocket, &buffer, &nLen, &from)) {
        std::string strBytes(buffer.data(), nLen);
        if (nSocket == 0) {
          // A request from a manager socket: towards the agent, from the
          // relay's socket for that manager socket.
          auto it = std::find_if(arrClients.begin(), arrClients.end(),
                                 [&](const CClient& client) { return SamePeer(client.peer, from); });
          if (it == arrClients.end()) {
            uint16_t uPort = 0;
            const int nUpstream = m_pEndpoints->Bind("127.0.0.1", 0, &uPort);
            if (nUpstream < 0) continue;
            arrClients.push_back({from, static_cast<size_t>(nUpstream)});
            it = arrClients.end() - 1;
          }
          if (m_nQueue > 0 && it->nUnanswered >= m_nQueue) {
            m_nDropped.fetch_add(1);
            continue;
          }
          ++it->nUnanswered;
          m_nForwarded.fetch_add(1);
          held.push_back({due, it->nUpstream, agent, std::move(strBytes)});
        } else {
          // An answer of the agent: back to its manager socket.
          const auto it = std::find_if(arrClients.begin(), arrClients.end(),
                                       [&](const CClient& client) { return client.nUpstream == nSocket; });
          if (it == arrClients.end()) continue;
          it->nUnanswered = std::max(0, it->nUnanswered - 1);
          if (m_nMaxAnswerBytes > 0 && strBytes.size() > m_nMaxAnswerBytes) {
            m_nDroppedAnswers.fetch_add(1);
            continue;
          }
          held.push_back({due, 0, it->peer, std::move(strBytes)});
        }
      }
    }
    const auto now = CClock::now();
    while (!held.empty() && held.front().due <= now) {
      m_pEndpoints->SendTo(held.front().nSocket, held.front().strBytes, held.front().to);
      held.pop_front();
    }
  }
}
