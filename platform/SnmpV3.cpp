#include "platform/SnmpV3.h"

namespace {

// Reads one element that must carry the tag expected.
bool ReadTagged(std::string_view* pBytes, uint8_t expected, std::string_view* pContents) {
  uint8_t tag = 0;
  return ReadBerElement(pBytes, &tag, pContents) && tag == expected;
}

bool ReadInt(std::string_view* pBytes, int32_t* pnValue) {
  std::string_view contents;
  return ReadTagged(pBytes, ASN_INTEGER, &contents) && ParseBerInt32(contents, pnValue);
}

bool ReadString(std::string_view* pBytes, std::string_view* pValue) {
  return ReadTagged(pBytes, ASN_OCTETSTRING, pValue);
}

}  // namespace

bool EncodeScopedPdu(const CSnmpV3Message& message, std::string* pstrOut) {
  std::string strScoped;
  AppendBerElement(&strScoped, ASN_OCTETSTRING, message.strContextEngineId);
  AppendBerElement(&strScoped, ASN_OCTETSTRING, message.strContextName);
  if (!EncodeSnmpPdu(message.pdu, &strScoped)) return false;
  AppendBerElement(pstrOut, ASN_SEQUENCE, strScoped);
  return true;
}

bool DecodeScopedPdu(std::string_view bytes, CSnmpV3Message* pMessage) {
  std::string_view scoped;
  std::string_view engineId;
  std::string_view contextName;
  if (!ReadTagged(&bytes, ASN_SEQUENCE, &scoped) || !ReadString(&scoped, &engineId) ||
      !ReadString(&scoped, &contextName) || !DecodeSnmpPdu(scoped, &pMessage->pdu))
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
  std::string_view rest = datagram;
  std::string_view body;
  if (!ReadTagged(&rest, ASN_SEQUENCE, &body) || !rest.empty()) return false;
  int32_t nVersion = 0;
  std::string_view header;
  std::string_view securityParameters;
  if (!ReadInt(&body, &nVersion) || nVersion != SNMP_VERSION_3 ||
      !ReadTagged(&body, ASN_SEQUENCE, &header) || !ReadString(&body, &securityParameters))
    return false;
  std::string_view flags;
  if (!ReadInt(&header, &pMessage->nMessageId) || !ReadInt(&header, &pMessage->nMaxSize) ||
      !ReadString(&header, &flags) || flags.size() != 1 || !ReadInt(&header, &pMessage->nSecurityModel) ||
      !header.empty())
    return false;
  pMessage->flags = static_cast<uint8_t>(flags[0]);

  std::string_view usm;
  std::string_view engineId;
  std::string_view userName;
  std::string_view authParameters;
  std::string_view privParameters;
  if (!ReadTagged(&securityParameters, ASN_SEQUENCE, &usm) || !securityParameters.empty() ||
      !ReadString(&usm, &engineId) || !ReadInt(&usm, &pMessage->usm.nEngineBoots) ||
      !ReadInt(&usm, &pMessage->usm.nEngineTime) || !ReadString(&usm, &userName) ||
      !ReadString(&usm, &authParameters) || !ReadString(&usm, &privParameters) || !usm.empty())
    return false;
  pMessage->usm.strEngineId.assign(engineId);
  pMessage->usm.strUserName.assign(userName);
  pMessage->usm.strAuthParameters.assign(authParameters);
  pMessage->usm.strPrivParameters.assign(privParameters);
  *pnAuthOffset = static_cast<size_t>(authParameters.data() - datagram.data());

  if (pMessage->flags & SNMP_FLAG_PRIV) {
    std::string_view encrypted;
    if (!ReadString(&body, &encrypted) || !body.empty()) return false;
    pMessage->strEncryptedPdu.assign(encrypted);
    return true;
  }
  pMessage->strEncryptedPdu.clear();
  std::string_view scoped = body;
  std::string_view scopedContents;
  return ReadTagged(&scoped, ASN_SEQUENCE, &scopedContents) && scoped.empty() &&
         DecodeScopedPdu(body, pMessage);
}
