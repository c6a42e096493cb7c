#include "snmp/SnmpV3.h"

bool EncodeScopedPdu(const CSnmpV3Message& message, std::string* pstrOut) {
  std::string strScoped;
  AppendBerElement(&strScoped, ASN_OCTETSTRING, message.strContextEngineId);
  AppendBerElement(&strScoped, ASN_OCTETSTRING, message.strContextName);
  if (!EncodeSnmpPdu(message.pdu, &strScoped)) return false;
  AppendBerElement(pstrOut, ASN_SEQUENCE, strScoped);
  return true;
}

bool DecodeScopedPdu(std::string_view bytes, CSnmpV3Message* pMessage) {
  CBerReader reader(bytes);  // DES padding may follow the sequence
  std::string_view scopedBytes;
  std::string_view engineId;
  std::string_view contextName;
  if (!reader.ReadExpected(ASN_SEQUENCE, &scopedBytes)) return false;
  CBerReader scoped(scopedBytes);
  if (!scoped.ReadExpected(ASN_OCTETSTRING, &engineId) || !scoped.ReadExpected(ASN_OCTETSTRING, &contextName) ||
      !DecodeSnmpPdu(scoped.Rest(), &pMessage->pdu))
    return false;
  pMessage->strContextEngineId.assign(engineId);
  pMessage->strContextName.assign(contextName);
  return true;
}

bool EncodeSnmpV3Message(const CSnmpV3Message& message, std::string* pstrOut, size_t* pnAuthOffset) {
  std::string strHeader;
  AppendBerElement(&strHeader, ASN_INTEGER, BerInteger(message.nMessageId));
  AppendBerElement(&strHeader, ASN_INTEGER, BerInteger(message.nMaxSize));
  AppendBerElement(&strHeader, ASN_OCTETSTRING, std::string(1, static_cast<char>(message.flags)));
  AppendBerElement(&strHeader, ASN_INTEGER, BerInteger(message.nSecurityModel));

  const CUsmParameters& usm = message.usm;
  std::string strUsm;
  AppendBerElement(&strUsm, ASN_OCTETSTRING, usm.strEngineId);
  AppendBerElement(&strUsm, ASN_INTEGER, BerInteger(usm.nEngineBoots));
  AppendBerElement(&strUsm, ASN_INTEGER, BerInteger(usm.nEngineTime));
  AppendBerElement(&strUsm, ASN_OCTETSTRING, usm.strUserName);
  // Where the code's bytes begin inside the USM sequence's contents.
  const size_t nAuthInUsm = strUsm.size() + BerHeaderLength(usm.strAuthParameters.size());
  AppendBerElement(&strUsm, ASN_OCTETSTRING, usm.strAuthParameters);
  AppendBerElement(&strUsm, ASN_OCTETSTRING, usm.strPrivParameters);
  std::string strUsmSequence;
  AppendBerElement(&strUsmSequence, ASN_SEQUENCE, strUsm);

  std::string strBody;
  AppendBerElement(&strBody, ASN_INTEGER, BerInteger(SNMP_VERSION_3));
  AppendBerElement(&strBody, ASN_SEQUENCE, strHeader);
  // The code's place in the body: after the security parameters' header
  // and the USM sequence's.
  const size_t nAuthInBody = strBody.size() + BerHeaderLength(strUsmSequence.size()) +
                             BerHeaderLength(strUsm.size()) + nAuthInUsm;
  AppendBerElement(&strBody, ASN_OCTETSTRING, strUsmSequence);
  if (message.flags & SNMP_FLAG_PRIV) {
    AppendBerElement(&strBody, ASN_OCTETSTRING, message.strEncryptedPdu);
  } else if (!EncodeScopedPdu(message, &strBody)) {
    return false;
  }
  *pnAuthOffset = pstrOut->size() + BerHeaderLength(strBody.size()) + nAuthInBody;
  AppendBerElement(pstrOut, ASN_SEQUENCE, strBody);
  return true;
}

bool DecodeSnmpV3Message(std::string_view datagram, CSnmpV3Message* pMessage, size_t* pnAuthOffset) {
  CBerReader top(datagram);
  std::string_view bodyBytes;
  if (!top.ReadExpected(ASN_SEQUENCE, &bodyBytes) || !top.IsEmpty()) return false;
  CBerReader body(bodyBytes);
  int32_t nVersion = 0;
  std::string_view headerBytes;
  std::string_view securityBytes;
  if (!body.ReadInt32(&nVersion) || nVersion != SNMP_VERSION_3 ||
      !body.ReadExpected(ASN_SEQUENCE, &headerBytes) || !body.ReadExpected(ASN_OCTETSTRING, &securityBytes))
    return false;
  CBerReader header(headerBytes);
  std::string_view flags;
  if (!header.ReadInt32(&pMessage->nMessageId) || !header.ReadInt32(&pMessage->nMaxSize) ||
      !header.ReadExpected(ASN_OCTETSTRING, &flags) || flags.size() != 1 ||
      !header.ReadInt32(&pMessage->nSecurityModel) || !header.IsEmpty())
    return false;
  pMessage->flags = static_cast<uint8_t>(flags[0]);

  CBerReader security(securityBytes);
  std::string_view usmBytes;
  if (!security.ReadExpected(ASN_SEQUENCE, &usmBytes) || !security.IsEmpty()) return false;
  CBerReader usm(usmBytes);
  std::string_view engineId;
  std::string_view userName;
  std::string_view authParameters;
  std::string_view privParameters;
  if (!usm.ReadExpected(ASN_OCTETSTRING, &engineId) || !usm.ReadInt32(&pMessage->usm.nEngineBoots) ||
      !usm.ReadInt32(&pMessage->usm.nEngineTime) || !usm.ReadExpected(ASN_OCTETSTRING, &userName) ||
      !usm.ReadExpected(ASN_OCTETSTRING, &authParameters) ||
      !usm.ReadExpected(ASN_OCTETSTRING, &privParameters) || !usm.IsEmpty())
    return false;
  pMessage->usm.strEngineId.assign(engineId);
  pMessage->usm.strUserName.assign(userName);
  pMessage->usm.strAuthParameters.assign(authParameters);
  pMessage->usm.strPrivParameters.assign(privParameters);
  *pnAuthOffset = static_cast<size_t>(authParameters.data() - datagram.data());

  if (pMessage->flags & SNMP_FLAG_PRIV) {
    std::string_view encrypted;
    if (!body.ReadExpected(ASN_OCTETSTRING, &encrypted) || !body.IsEmpty()) return false;
    pMessage->strEncryptedPdu.assign(encrypted);
    return true;
  }
  pMessage->strEncryptedPdu.clear();
  // A plain scoped PDU is exactly one sequence, no padding after it.
  const std::string_view scopedBytes = body.Rest();
  std::string_view scopedContents;
  return body.ReadExpected(ASN_SEQUENCE, &scopedContents) && body.IsEmpty() &&
         DecodeScopedPdu(scopedBytes, pMessage);
}
