// How a session writes its requests and judges what comes back: the
// community of SNMPv1 and SNMPv2c (CCommunitySecurity), or the User-based
// Security Model of SNMPv3 (CUsmSecurity, RFC 3414), with its discovery of
// the agent's engine and clock.
//
// A request's id is its request-id; an SNMPv3 message carries the same
// number as its message-id. Judging a datagram names the pending request
// it answers (by that id) and says what it is to it.
//
// Thread use: a security model belongs to its session's thread; only the
// cache of password keys is shared, under its own lock.
#ifndef MIBSCAN_SNMP_SNMPSECURITY_H_
#define MIBSCAN_SNMP_SNMPSECURITY_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "snmp/Ber.h"
#include "snmp/SnmpTransport.h"
#include "snmp/SnmpV3.h"
#include "snmp/UsmUser.h"

// A random positive id: the first request-id of a session (so that answers
// meant for an earlier run or another session are not taken), and salt.
[[nodiscard]] int32_t RandomPositiveId();

// What a received datagram is to the pending request it names.
enum class EVerdict {
  Ignore,  // no pending request's answer (another's, malformed, stray): wait on
  Take,    // the answer
  Fail,    // the end of that request; GetLastError() says why
  Resend,  // SNMPv3: the agent's clock was learnt from a notInTimeWindow
           // report (GetLastError() SNMP_MGR_ERROR_TIME_WINDOW): the request
           // may go once more
};

class CSnmpSecurity {
 public:
  virtual ~CSnmpSecurity() = default;
  // The datagram of request into *pstrDatagram (appended). False when it
  // cannot be encoded.
  [[nodiscard]] virtual bool Encode(const CSnmpMessage& request, std::string* pstrDatagram) = 0;
  // What datagram is to the request of transport it names (its id in
  // *pnId); with Take, the answer's PDU in *pAnswer.
  [[nodiscard]] virtual EVerdict Judge(std::string_view datagram, const CSnmpTransport& transport, int32_t* pnId,
                                       CSnmpMessage* pAnswer) = 0;
};

// SNMPv1 and SNMPv2c: a GetResponse with the session's version and
// community answers the pending request whose request-id it carries.
class CCommunitySecurity : public CSnmpSecurity {
 public:
  CCommunitySecurity(int32_t nVersionField, std::string strCommunity)
      : m_nVersionField(nVersionField), m_strCommunity(std::move(strCommunity)) {}
  bool Encode(const CSnmpMessage& request, std::string* pstrDatagram) override;
  EVerdict Judge(std::string_view datagram, const CSnmpTransport& transport, int32_t* pnId,
                 CSnmpMessage* pAnswer) override;

 private:
  int32_t m_nVersionField;
  std::string m_strCommunity;
};

// SNMPv3 with the User-based Security Model.
class CUsmSecurity : public CSnmpSecurity {
 public:
  // Derives the user's keys from the passwords (once per process for each
  // password). False when a key cannot be made.
  [[nodiscard]] bool SetUser(const CSnmpV3Security& security);
  // Another user of the same agent (a list of users tried in turn): its
  // keys, localised at once when the engine is known already, so no
  // second discovery is needed. False when a key cannot be made.
  [[nodiscard]] bool SwitchUser(const CSnmpV3Security& security);

  // Discovery (RFC 3414 4): a request no agent can take, whose report
  // names the agent's engine and clock. Judging its answer learns them and
  // localises the keys; until then no request can be encoded.
  [[nodiscard]] bool IsDiscovered() const { return m_bDiscovered; }
  [[nodiscard]] bool EncodeDiscovery(int32_t nId, std::string* pstrDatagram) const;
  [[nodiscard]] EVerdict JudgeDiscovery(std::string_view datagram, int32_t nId);

  // Requests at the user's level, authenticated and encrypted as it asks.
  bool Encode(const CSnmpMessage& request, std::string* pstrDatagram) override;
  EVerdict Judge(std::string_view datagram, const CSnmpTransport& transport, int32_t* pnId,
                 CSnmpMessage* pAnswer) override;

  // Privacy: until one encrypted answer came, a wrong privacy password
  // shows only as silence (an agent drops what it cannot decrypt). The
  // same request authenticated but not encrypted, and any authenticated
  // answer to it (a report that the level is not allowed, or the answer),
  // tell that the agent is there and knows the user.
  [[nodiscard]] bool NeedsPrivacyCheck() const { return m_user.priv != EPrivProtocol::None && !m_bPrivacyConfirmed; }
  void ConfirmPrivacy() { m_bPrivacyConfirmed = true; }
  [[nodiscard]] bool EncodeWithoutPrivacy(const CSnmpMessage& request, std::string* pstrDatagram);
  [[nodiscard]] EVerdict JudgeWithoutPrivacy(std::string_view datagram, int32_t nId) const;

 private:
  using CClock = std::chrono::steady_clock;
  // The datagram of request at the user's level, with privacy or without.
  bool EncodeAtLevel(const CSnmpMessage& request, bool bPrivacy, std::string* pstrDatagram);
  // Whether the authentication code of message (decoded from datagram,
  // its code at nAuthOffset) is the user's.
  bool IsAuthentic(std::string_view datagram, size_t nAuthOffset, const CSnmpV3Message& message) const;
  int32_t EngineTime() const;
  void SetClock(int32_t nBoots, int32_t nTime);

  CSnmpV3Security m_user;
  std::string m_strAuthKey;  // Ku, then Kul once the engine is known
  std::string m_strPrivKey;
  std::string m_strEngineId;
  bool m_bDiscovered = false;
  bool m_bPrivacyConfirmed = false;  // an encrypted answer came
  int32_t m_nBoots = 0;
  int32_t m_nTime = 0;
  CClock::time_point m_timeBase;  // when m_nTime was the agent's time
  uint64_t m_uSalt = 0;
};

#endif  // MIBSCAN_SNMP_SNMPSECURITY_H_
