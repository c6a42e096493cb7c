#include "tests/UdpRelay.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "snmp/Ber.h"
#include "snmp/SnmpOid.h"
#include "snmp/SnmpV3.h"

namespace {

using CClock = std::chrono::steady_clock;

// A datagram held until it is due.
struct CHeld {
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

namespace {

// The PDU of a request the relay can read: an SNMPv1 or SNMPv2c message
// (into *pMessage), or an SNMPv3 one without privacy (into *pV3); null
// otherwise.
const CSnmpMessage* ReadablePdu(std::string_view request, CSnmpMessage* pMessage, CSnmpV3Message* pV3) {
  size_t nOffset = 0;
  if (DecodeSnmpMessage(request, pMessage)) return pMessage;
  if (DecodeSnmpV3Message(request, pV3, &nOffset) && (pV3->flags & SNMP_FLAG_PRIV) == 0) return &pV3->pdu;
  return nullptr;
}

}  // namespace

bool CUdpRelay::IsSilentTo(std::string_view request) const {
  if (m_nSilentAboveRepetitions < 0) return false;
  CSnmpMessage message;
  CSnmpV3Message v3;
  const CSnmpMessage* pPdu = ReadablePdu(request, &message, &v3);
  // A GETBULK's max-repetitions travels where other PDUs have the error index.
  return pPdu != nullptr && pPdu->pduType == SNMP_PDU_GETBULK && pPdu->nErrorIndex > m_nSilentAboveRepetitions;
}

void CUdpRelay::Record(std::string_view request) {
  if (!m_bRecordRequests) return;
  CSnmpMessage message;
  CSnmpV3Message v3;
  const CSnmpMessage* pPdu = ReadablePdu(request, &message, &v3);
  if (pPdu == nullptr) return;
  for (const SnmpVarBind& binding : pPdu->bindings) m_arrRequested.push_back(OidToText(binding.name));
}

std::string CUdpRelay::Rewritten(std::string strAnswer) {
  if (m_nOutOfOrderAbove <= 0) return strAnswer;
  CSnmpMessage message;
  const auto nKeep = static_cast<size_t>(m_nOutOfOrderAbove);
  if (!DecodeSnmpMessage(strAnswer, &message) || message.bindings.size() <= nKeep) return strAnswer;
  for (size_t i = nKeep; i < message.bindings.size(); ++i) message.bindings[i] = message.bindings[i - nKeep];
  std::string strOut;
  if (!EncodeSnmpMessage(message, &strOut)) return strAnswer;
  m_nReordered.fetch_add(1);
  return strOut;
}

void CUdpRelay::Serve() {
  const SUdpPeer agent = LoopbackPeer(m_uAgentPort);
  std::vector<CClient> arrClients;
  std::multimap<CClock::time_point, CHeld> held;  // by due time; the same time in arrival order
  std::vector<char> buffer(65535);
  std::vector<size_t> arrReady;
  std::mt19937 random(m_uSeed);
  std::uniform_int_distribution<int> answerDelay(m_nMinAnswerDelayMs, std::max(m_nMinAnswerDelayMs, m_nMaxAnswerDelayMs));
  uint16_t uOtherPort = 0;
  const int nAnswerSocket = m_bOtherPort ? m_pEndpoints->Bind("127.0.0.1", 0, &uOtherPort) : 0;
  if (nAnswerSocket < 0) return;
  while (true) {
    int nWaitMs = -1;
    if (!held.empty()) {
      nWaitMs = static_cast<int>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(held.begin()->first - CClock::now()).count()));
    }
    if (!m_pEndpoints->Wait(nWaitMs, &arrReady)) return;
    const auto due = CClock::now() + std::chrono::milliseconds(m_nDelayMs);
    for (const size_t nSocket : arrReady) {
      SUdpPeer from;
      size_t nLen = 0;
      if (nSocket == static_cast<size_t>(nAnswerSocket) && nSocket != 0) {
        (void)m_pEndpoints->ReceiveFrom(nSocket, &buffer, &nLen, &from);  // the answer port only sends
        continue;
      }
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
          if (IsSilentTo(strBytes)) {
            m_nDroppedBulks.fetch_add(1);
            continue;
          }
          ++it->nUnanswered;
          m_nForwarded.fetch_add(1);
          Record(strBytes);
          held.emplace(due, CHeld{it->nUpstream, agent, std::move(strBytes)});
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
          const auto answerDue = m_nMaxAnswerDelayMs > 0 ? due + std::chrono::milliseconds(answerDelay(random)) : due;
          held.emplace(answerDue, CHeld{static_cast<size_t>(nAnswerSocket), it->peer, Rewritten(std::move(strBytes))});
        }
      }
    }
    const auto now = CClock::now();
    while (!held.empty() && held.begin()->first <= now) {
      const CHeld& datagram = held.begin()->second;
      m_pEndpoints->SendTo(datagram.nSocket, datagram.strBytes, datagram.to);
      held.erase(held.begin());
    }
  }
}
