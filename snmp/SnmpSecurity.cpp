#include "snmp/SnmpSecurity.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <random>

#include "snmp/LastError.h"
#include "snmp/UsmCrypto.h"

namespace {

// USM report OIDs (RFC 3414 5): usmStats 1.3.6.1.6.3.15.1.1.N.0.
constexpr uint32_t c_aUsmStats[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};

// The code of a report whose first binding names usmStats N.
uint32_t ReportCode(const CSnmpMessage& report) {
  if (report.bindings.empty()) return SNMP_MGR_ERROR_REPORT;
  const auto& ids = report.bindings[0].name.ids;
  if (ids.size() != std::size(c_aUsmStats) + 2 ||
      !std::equal(std::begin(c_aUsmStats), std::end(c_aUsmStats), ids.begin()))
    return SNMP_MGR_ERROR_REPORT;
  switch (ids[std::size(c_aUsmStats)]) {
    case 1: return SNMP_MGR_ERROR_SECURITY_LEVEL;
    case 2: return SNMP_MGR_ERROR_TIME_WINDOW;
    case 3: return SNMP_MGR_ERROR_UNKNOWN_USER;
    case 4: return SNMP_MGR_ERROR_UNKNOWN_ENGINE;
    case 5: return SNMP_MGR_ERROR_WRONG_DIGEST;
    case 6: return SNMP_MGR_ERROR_DECRYPTION;
    default: return SNMP_MGR_ERROR_REPORT;
  }
}

// Ku of a password, made once per process for each protocol and password:
// 1 MiB of hashing is worth keeping when many targets share one user.
bool CachedPasswordKey(EAuthProtocol protocol, const std::string& strPassword, std::string* pstrKey) {
  static std::mutex cacheMutex;
  static std::map<std::pair<int, std::string>, std::string> cache;
  const auto key = std::make_pair(static_cast<int>(protocol), strPassword);
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto it = cache.find(key);
    if (it != cache.end()) {
      *pstrKey = it->second;
      return true;
    }
  }
  if (!PasswordToKey(protocol, strPassword, pstrKey)) return false;
  std::lock_guard<std::mutex> lock(cacheMutex);
  cache.emplace(key, *pstrKey);
  return true;
}

}  // namespace

int32_t RandomPositiveId() {
  thread_local std::minstd_rand generator(static_cast<uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ reinterpret_cast<uintptr_t>(&generator)));
  return static_cast<int32_t>(generator() & 0x7FFFFFFF) | 1;
}

bool CCommunitySecurity::Encode(const CSnmpMessage& request, std::string* pstrDatagram) {
  // The message of RFC 1157 4: the session's version and community, then
  // the request's PDU.
  std::string strMessage;
  AppendBerElement(&strMessage, ASN_INTEGER, BerInteger(m_nVersionField));
  AppendBerElement(&strMessage, ASN_OCTETSTRING, m_strCommunity);
  if (!EncodeSnmpPdu(request, &strMessage)) return false;
  AppendBerElement(pstrDatagram, ASN_SEQUENCE, strMessage);
  return true;
}

EVerdict CCommunitySecurity::Judge(std::string_view datagram, const CSnmpTransport& transport, int32_t* pnId,
                                   CSnmpMessage* pAnswer) {
  if (!DecodeSnmpMessage(datagram, pAnswer)) return EVerdict::Ignore;  // malformed
  *pnId = pAnswer->nRequestId;
  return pAnswer->nVersion == m_nVersionField && pAnswer->pduType == SNMP_PDU_RESPONSE &&
                 pAnswer->strCommunity == m_strCommunity && transport.IsAwaited(pAnswer->nRequestId)
             ? EVerdict::Take
             : EVerdict::Ignore;
}

bool CUsmSecurity::SetUser(const CSnmpV3Security& security) {
  m_user = security;
  m_uSalt = (static_cast<uint64_t>(RandomPositiveId()) << 32) | static_cast<uint32_t>(RandomPositiveId());
  if (security.auth != EAuthProtocol::None &&
      !CachedPasswordKey(security.auth, security.strAuthPassword, &m_strAuthKey))
    return false;
  if (security.priv != EPrivProtocol::None &&
      !CachedPasswordKey(security.auth, security.strPrivPassword, &m_strPrivKey))
    return false;
  return true;
}

bool CUsmSecurity::SwitchUser(const CSnmpV3Security& security) {
  m_bPrivacyConfirmed = false;
  if (!SetUser(security)) return false;
  if (!m_bDiscovered) return true;
  const EAuthProtocol auth = m_user.auth;
  return (auth == EAuthProtocol::None || LocalizeKey(auth, m_strAuthKey, m_strEngineId, &m_strAuthKey)) &&
         (m_user.priv == EPrivProtocol::None || LocalizeKey(auth, m_strPrivKey, m_strEngineId, &m_strPrivKey));
}

int32_t CUsmSecurity::EngineTime() const {
  const auto nSeconds = std::chrono::duration_cast<std::chrono::seconds>(CClock::now() - m_timeBase).count();
  return static_cast<int32_t>(std::min<int64_t>(m_nTime + nSeconds, 0x7FFFFFFF));
}

void CUsmSecurity::SetClock(int32_t nBoots, int32_t nTime) {
  m_nBoots = nBoots;
  m_nTime = nTime;
  m_timeBase = CClock::now();
}

bool CUsmSecurity::EncodeDiscovery(int32_t nId, std::string* pstrDatagram) const {
  // No engine, no user: nobody can take it, and the report names the
  // agent's engine and clock.
  CSnmpV3Message probe;
  probe.nMessageId = nId;
  probe.flags = SNMP_FLAG_REPORTABLE;
  probe.pdu.pduType = SNMP_PDU_GET;
  probe.pdu.nRequestId = nId;
  size_t nAuthOffset = 0;
  return EncodeSnmpV3Message(probe, pstrDatagram, &nAuthOffset);
}

EVerdict CUsmSecurity::JudgeDiscovery(std::string_view datagram, int32_t nId) {
  CSnmpV3Message answer;
  size_t nOffset = 0;
  if (!DecodeSnmpV3Message(datagram, &answer, &nOffset) || answer.nMessageId != nId ||
      answer.usm.strEngineId.empty())
    return EVerdict::Ignore;
  m_strEngineId = answer.usm.strEngineId;
  SetClock(answer.usm.nEngineBoots, answer.usm.nEngineTime);
  const EAuthProtocol auth = m_user.auth;
  if ((auth != EAuthProtocol::None && !LocalizeKey(auth, m_strAuthKey, m_strEngineId, &m_strAuthKey)) ||
      (m_user.priv != EPrivProtocol::None && !LocalizeKey(auth, m_strPrivKey, m_strEngineId, &m_strPrivKey))) {
    SetLastError(SNMP_MGMTAPI_INVALID_BUFFER);
    return EVerdict::Fail;
  }
  m_bDiscovered = true;
  return EVerdict::Take;
}

bool CUsmSecurity::Encode(const CSnmpMessage& request, std::string* pstrDatagram) {
  return EncodeAtLevel(request, m_user.priv != EPrivProtocol::None, pstrDatagram);
}

bool CUsmSecurity::EncodeWithoutPrivacy(const CSnmpMessage& request, std::string* pstrDatagram) {
  return EncodeAtLevel(request, false, pstrDatagram);
}

bool CUsmSecurity::EncodeAtLevel(const CSnmpMessage& request, bool bPrivacy, std::string* pstrDatagram) {
  CSnmpV3Message message;
  message.nMessageId = request.nRequestId;
  message.flags = SNMP_FLAG_REPORTABLE;
  message.usm.strEngineId = m_strEngineId;
  message.usm.nEngineBoots = m_nBoots;
  message.usm.nEngineTime = EngineTime();
  message.usm.strUserName = m_user.strUser;
  message.strContextEngineId = m_strEngineId;
  message.strContextName = m_user.strContext;
  message.pdu = request;
  if (m_user.auth != EAuthProtocol::None) {
    message.flags |= SNMP_FLAG_AUTH;
    message.usm.strAuthParameters.assign(AuthCodeLength(m_user.auth), '\0');
  }
  if (bPrivacy) {
    message.flags |= SNMP_FLAG_PRIV;
    // The salt: DES, the engine's boots and a counter (RFC 3414 8.1.1.1);
    // AES, a 64-bit counter (RFC 3826 3.1.2.1). Unique per message.
    const uint64_t uCounter = m_uSalt++;
    const uint64_t uSaltValue =
        m_user.priv == EPrivProtocol::Des
            ? (static_cast<uint64_t>(static_cast<uint32_t>(m_nBoots)) << 32) | static_cast<uint32_t>(uCounter)
            : uCounter;
    std::string strSalt;
    for (int nShift = 56; nShift >= 0; nShift -= 8) strSalt.push_back(static_cast<char>((uSaltValue >> nShift) & 0xFF));
    std::string strScoped;
    if (!EncodeScopedPdu(message, &strScoped) ||
        !Encrypt(m_user.priv, m_strPrivKey, static_cast<uint32_t>(message.usm.nEngineBoots),
                 static_cast<uint32_t>(message.usm.nEngineTime), strSalt, strScoped, &message.strEncryptedPdu))
      return false;
    message.usm.strPrivParameters = strSalt;
  }
  const size_t nStart = pstrDatagram->size();
  size_t nAuthOffset = 0;
  if (!EncodeSnmpV3Message(message, pstrDatagram, &nAuthOffset)) return false;
  if (m_user.auth != EAuthProtocol::None) {
    std::string strCode;
    if (!AuthCode(m_user.auth, m_strAuthKey, std::string_view(*pstrDatagram).substr(nStart), &strCode))
      return false;
    pstrDatagram->replace(nAuthOffset, strCode.size(), strCode);
  }
  return true;
}

bool CUsmSecurity::IsAuthentic(std::string_view datagram, size_t nAuthOffset, const CSnmpV3Message& message) const {
  const EAuthProtocol auth = m_user.auth;
  const std::string& strGiven = message.usm.strAuthParameters;
  if (auth == EAuthProtocol::None || strGiven.size() != AuthCodeLength(auth)) return false;
  // The code is computed over the message with its own place zeroed.
  std::string strZeroed(datagram);
  strZeroed.replace(nAuthOffset, strGiven.size(), strGiven.size(), '\0');
  std::string strCode;
  return AuthCode(auth, m_strAuthKey, strZeroed, &strCode) && strCode == strGiven;
}

EVerdict CUsmSecurity::JudgeWithoutPrivacy(std::string_view datagram, int32_t nId) const {
  CSnmpV3Message message;
  size_t nOffset = 0;
  return DecodeSnmpV3Message(datagram, &message, &nOffset) && message.nMessageId == nId &&
                 (message.flags & SNMP_FLAG_AUTH) && IsAuthentic(datagram, nOffset, message)
             ? EVerdict::Take
             : EVerdict::Ignore;
}

EVerdict CUsmSecurity::Judge(std::string_view datagram, const CSnmpTransport& transport, int32_t* pnId,
                             CSnmpMessage* pAnswer) {
  CSnmpV3Message message;
  size_t nAuthOffset = 0;
  if (!DecodeSnmpV3Message(datagram, &message, &nAuthOffset) || !transport.IsAwaited(message.nMessageId) ||
      message.nSecurityModel != SNMP_SECURITY_MODEL_USM)
    return EVerdict::Ignore;
  *pnId = message.nMessageId;
  const bool bAuthenticated = (message.flags & SNMP_FLAG_AUTH) != 0;
  if (bAuthenticated && (message.usm.strEngineId != m_strEngineId || message.usm.strUserName != m_user.strUser ||
                         !IsAuthentic(datagram, nAuthOffset, message))) {
    SetLastError(SNMP_MGR_ERROR_AUTHENTICATION);
    return EVerdict::Fail;
  }
  if (message.flags & SNMP_FLAG_PRIV) {
    std::string strScoped;
    if (!bAuthenticated || m_user.priv == EPrivProtocol::None ||
        !Decrypt(m_user.priv, m_strPrivKey, static_cast<uint32_t>(message.usm.nEngineBoots),
                 static_cast<uint32_t>(message.usm.nEngineTime), message.usm.strPrivParameters,
                 message.strEncryptedPdu, &strScoped) ||
        !DecodeScopedPdu(strScoped, &message)) {
      SetLastError(SNMP_MGR_ERROR_DECRYPTION);
      return EVerdict::Fail;
    }
  }
  if (message.pdu.pduType == SNMP_PDU_REPORT) {
    const uint32_t uCode = ReportCode(message.pdu);
    SetLastError(uCode);
    // An authenticated notInTimeWindow report carries the agent's clock
    // (RFC 3414 4): take it; the request may go once more.
    if (uCode == SNMP_MGR_ERROR_TIME_WINDOW && bAuthenticated) {
      SetClock(message.usm.nEngineBoots, message.usm.nEngineTime);
      return EVerdict::Resend;
    }
    return EVerdict::Fail;
  }
  if (message.pdu.pduType != SNMP_PDU_RESPONSE || message.pdu.nRequestId != message.nMessageId)
    return EVerdict::Ignore;
  // An answer to an authenticated request must be authenticated too: one
  // that is not could be anybody's.
  if (m_user.auth != EAuthProtocol::None && !bAuthenticated) {
    SetLastError(SNMP_MGR_ERROR_AUTHENTICATION);
    return EVerdict::Fail;
  }
  *pAnswer = std::move(message.pdu);
  return EVerdict::Take;
}
