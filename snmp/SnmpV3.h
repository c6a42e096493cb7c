// The SNMPv3 message (RFC 3412 6) with the User-based Security Model's
// parameters (RFC 3414 2.4), and the scoped PDU it carries, plain or
// encrypted. The decoder reads untrusted datagrams with the checks of
// Ber.h.
#ifndef MIBSCAN_SNMP_SNMPV3_H_
#define MIBSCAN_SNMP_SNMPV3_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "snmp/Ber.h"

constexpr int32_t SNMP_VERSION_3 = 3;
constexpr int32_t SNMP_SECURITY_MODEL_USM = 3;
constexpr uint8_t SNMP_FLAG_AUTH = 0x01;
constexpr uint8_t SNMP_FLAG_PRIV = 0x02;
constexpr uint8_t SNMP_FLAG_REPORTABLE = 0x04;

struct CUsmParameters {
  std::string strEngineId;
  int32_t nEngineBoots = 0;
  int32_t nEngineTime = 0;
  std::string strUserName;
  std::string strAuthParameters;  // the authentication code, or empty
  std::string strPrivParameters;  // the salt, or empty
  bool operator==(const CUsmParameters&) const = default;
};

struct CSnmpV3Message {
  int32_t nMessageId = 0;
  int32_t nMaxSize = 65507;
  uint8_t flags = 0;
  int32_t nSecurityModel = SNMP_SECURITY_MODEL_USM;
  CUsmParameters usm;
  // With SNMP_FLAG_PRIV: the encrypted scoped PDU. Otherwise the scoped
  // PDU's fields: the context engine ID and name, and the PDU (the
  // message fields of CSnmpMessage other than version and community).
  std::string strEncryptedPdu;
  std::string strContextEngineId;
  std::string strContextName;
  CSnmpMessage pdu;
  bool operator==(const CSnmpV3Message&) const = default;
};

// Appends the message. *pnAuthOffset receives the offset of the
// authentication code's bytes in *pstrOut (so that a code over the whole
// message can be written there).
[[nodiscard]] bool EncodeSnmpV3Message(const CSnmpV3Message& message, std::string* pstrOut,
                                       size_t* pnAuthOffset);
// Decodes one whole datagram; *pnAuthOffset as above, in datagram.
[[nodiscard]] bool DecodeSnmpV3Message(std::string_view datagram, CSnmpV3Message* pMessage,
                                       size_t* pnAuthOffset);

// The scoped PDU alone, as it is encrypted, and back.
[[nodiscard]] bool EncodeScopedPdu(const CSnmpV3Message& message, std::string* pstrOut);
// Decodes a decrypted scoped PDU into message's context and PDU fields.
// Bytes after the scoped PDU (DES padding) are allowed.
[[nodiscard]] bool DecodeScopedPdu(std::string_view bytes, CSnmpV3Message* pMessage);

#endif  // MIBSCAN_SNMP_SNMPV3_H_
