#include "snmp/Ber.h"

#include <limits>

namespace {

// Content bytes of an integer-family value: the value bytes of its type
// plus one redundant sign or zero byte, as some encoders send.
constexpr size_t c_nMaxInt32Bytes = 5;
constexpr size_t c_nMaxUnsigned32Bytes = 4;
constexpr size_t c_nMaxUnsigned64Bytes = 8;

// X.690 8.3: a two's complement integer of one or more bytes. Redundant
// leading 0x00 or 0xFF bytes are accepted (up to five bytes in all) as
// long as the value fits 32 bits.
[[nodiscard]] bool ParseInt32(std::string_view contents, int32_t* pnValue) {
  if (contents.empty() || contents.size() > c_nMaxInt32Bytes) return false;
  int64_t nValue = static_cast<int8_t>(contents[0]);
  for (size_t i = 1; i < contents.size(); ++i)
    nValue = nValue * 256 + static_cast<uint8_t>(contents[i]);
  if (nValue < std::numeric_limits<int32_t>::min() || nValue > std::numeric_limits<int32_t>::max())
    return false;
  *pnValue = static_cast<int32_t>(nValue);
  return true;
}

// An unsigned SNMP number of at most nMaxBytes value bytes, plus one
// leading 0x00: the one that precedes a first byte with its high bit set,
// or a redundant one. A number sent without that 0x00 is still read as the
// unsigned value of its bytes, as agents commonly send Counter32 and as
// common manager tools read it.
[[nodiscard]] bool ParseUnsigned(std::string_view contents, size_t nMaxBytes, uint64_t* puValue) {
  if (contents.empty()) return false;
  if (contents.size() == nMaxBytes + 1) {
    if (contents[0] != 0) return false;
    contents.remove_prefix(1);
  }
  if (contents.size() > nMaxBytes) return false;
  uint64_t uValue = 0;
  for (char ch : contents) uValue = (uValue << 8) | static_cast<uint8_t>(ch);
  *puValue = uValue;
  return true;
}

// X.690 8.19: base-128 sub-identifiers, the first two arcs joined as 40X+Y.
[[nodiscard]] bool ParseOid(std::string_view contents, AsnObjectIdentifier* pOid) {
  if (contents.empty()) return false;
  pOid->ids.clear();
  size_t nPos = 0;
  bool bFirst = true;
  while (nPos < contents.size()) {
    // 8.19.2 says the first byte of a sub-identifier is never 0x80; such
    // padding still reads as the same number, so it is accepted.
    uint64_t uValue = 0;
    uint8_t byte = 0;
    do {
      if (nPos >= contents.size()) return false;  // last byte still had bit 8 set
      byte = static_cast<uint8_t>(contents[nPos++]);
      uValue = (uValue << 7) | (byte & 0x7F);
      if (uValue > std::numeric_limits<uint32_t>::max()) return false;
    } while (byte & 0x80);
    if (bFirst) {
      const uint32_t uFirst = uValue < 40 ? 0 : (uValue < 80 ? 1 : 2);
      pOid->ids.push_back(uFirst);
      pOid->ids.push_back(static_cast<uint32_t>(uValue - 40u * uFirst));
      bFirst = false;
    } else {
      pOid->ids.push_back(static_cast<uint32_t>(uValue));
    }
  }
  return true;
}

[[nodiscard]] bool ParseValue(uint8_t tag, std::string_view contents, AsnAny* pValue) {
  *pValue = AsnAny{};
  pValue->asnType = tag;
  uint64_t uValue = 0;
  switch (tag) {
    case ASN_INTEGER:
      return ParseInt32(contents, &pValue->nNumber);
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UINTEGER32:
      if (!ParseUnsigned(contents, c_nMaxUnsigned32Bytes, &uValue)) return false;
      pValue->uUnsigned = static_cast<uint32_t>(uValue);
      return true;
    case ASN_COUNTER64:
      return ParseUnsigned(contents, c_nMaxUnsigned64Bytes, &pValue->uCounter64);
    case ASN_OBJECTIDENTIFIER:
      return ParseOid(contents, &pValue->oid);
    case ASN_NULL:
      return contents.empty();  // X.690 8.8.2
    default:
      pValue->strBytes.assign(contents);  // strings, addresses, Opaque, exceptions
      return true;
  }
}

[[nodiscard]] bool ParseVarBinds(std::string_view contents, SnmpVarBindList* pBindings) {
  pBindings->clear();
  CBerReader list(contents);
  while (!list.IsEmpty()) {
    std::string_view bindingBytes;
    if (!list.ReadExpected(ASN_SEQUENCE, &bindingBytes)) return false;
    CBerReader binding(bindingBytes);
    std::string_view nameBytes;
    std::string_view valueBytes;
    uint8_t valueTag = 0;
    SnmpVarBind varBind;
    if (!binding.ReadExpected(ASN_OBJECTIDENTIFIER, &nameBytes) ||
        !ParseOid(nameBytes, &varBind.name) || !binding.ReadElement(&valueTag, &valueBytes) ||
        !binding.IsEmpty())
      return false;
    // The binding's framing is sound: a value that cannot be read costs
    // that binding alone, not the whole answer.
    if (!ParseValue(valueTag, valueBytes, &varBind.value)) {
      varBind.value = AsnAny{};
      varBind.value.asnType = valueTag;
      varBind.value.bMalformed = true;
      varBind.value.strBytes.assign(valueBytes);
    }
    pBindings->push_back(std::move(varBind));
  }
  return true;
}

void AppendLength(std::string* pstrOut, size_t nLength) {
  if (nLength < 0x80) {
    pstrOut->push_back(static_cast<char>(nLength));
    return;
  }
  char bytes[sizeof(size_t)];
  size_t nBytes = 0;
  for (; nLength != 0; nLength >>= 8) bytes[nBytes++] = static_cast<char>(nLength & 0xFF);
  pstrOut->push_back(static_cast<char>(0x80 | nBytes));
  while (nBytes > 0) pstrOut->push_back(bytes[--nBytes]);
}

void AppendTlv(std::string* pstrOut, uint8_t tag, std::string_view contents) {
  pstrOut->push_back(static_cast<char>(tag));
  AppendLength(pstrOut, contents.size());
  pstrOut->append(contents);
}

// The shortest two's complement form (X.690 8.3.2).
std::string EncodeSigned(int64_t nValue) {
  std::string strBytes;
  do {
    strBytes.insert(strBytes.begin(), static_cast<char>(nValue & 0xFF));
    nValue >>= 8;  // arithmetic shift: the sign is kept
  } while (!((nValue == 0 && !(strBytes[0] & 0x80)) || (nValue == -1 && (strBytes[0] & 0x80))));
  return strBytes;
}

// Unsigned numbers: the shortest form, with a 0x00 in front of a first byte
// whose high bit is set, so the number does not read as negative.
std::string EncodeUnsigned(uint64_t uValue) {
  std::string strBytes;
  do {
    strBytes.insert(strBytes.begin(), static_cast<char>(uValue & 0xFF));
    uValue >>= 8;
  } while (uValue != 0);
  if (strBytes[0] & 0x80) strBytes.insert(strBytes.begin(), '\0');
  return strBytes;
}

void AppendBase128(std::string* pstrOut, uint64_t uValue) {
  char bytes[10];
  size_t nBytes = 0;
  do {
    bytes[nBytes] = static_cast<char>((uValue & 0x7F) | (nBytes == 0 ? 0 : 0x80));
    ++nBytes;
    uValue >>= 7;
  } while (uValue != 0);
  while (nBytes > 0) pstrOut->push_back(bytes[--nBytes]);
}

[[nodiscard]] bool EncodeOid(const AsnObjectIdentifier& oid, std::string* pstrContents) {
  const auto& ids = oid.ids;
  if (ids.size() < 2 || ids[0] > 2 || (ids[0] < 2 && ids[1] >= 40)) return false;
  AppendBase128(pstrContents, 40ull * ids[0] + ids[1]);
  for (size_t i = 2; i < ids.size(); ++i) AppendBase128(pstrContents, ids[i]);
  return true;
}

[[nodiscard]] bool EncodeValue(const AsnAny& value, std::string* pstrOut) {
  if ((value.asnType & 0x1F) == 0x1F) return false;  // not a single-byte tag
  if (value.bMalformed) {
    AppendTlv(pstrOut, value.asnType, value.strBytes);  // sent back as it came
    return true;
  }
  std::string strContents;
  switch (value.asnType) {
    case ASN_INTEGER:
      strContents = EncodeSigned(value.nNumber);
      break;
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UINTEGER32:
      strContents = EncodeUnsigned(value.uUnsigned);
      break;
    case ASN_COUNTER64:
      strContents = EncodeUnsigned(value.uCounter64);
      break;
    case ASN_OBJECTIDENTIFIER:
      if (!EncodeOid(value.oid, &strContents)) return false;
      break;
    case ASN_NULL:
      break;
    default:
      strContents = value.strBytes;
      break;
  }
  AppendTlv(pstrOut, value.asnType, strContents);
  return true;
}

}  // namespace

namespace {

bool IsPduType(uint8_t pduType) {
  return pduType == SNMP_PDU_GET || pduType == SNMP_PDU_GETNEXT || pduType == SNMP_PDU_RESPONSE ||
         pduType == SNMP_PDU_SET || pduType == SNMP_PDU_GETBULK || pduType == SNMP_PDU_REPORT;
}

bool DecodePduContents(std::string_view pduBytes, CSnmpMessage* pMessage) {
  CBerReader pdu(pduBytes);
  std::string_view bindingsBytes;
  return pdu.ReadInt32(&pMessage->nRequestId) && pdu.ReadInt32(&pMessage->nErrorStatus) &&
         pdu.ReadInt32(&pMessage->nErrorIndex) && pdu.ReadExpected(ASN_SEQUENCE, &bindingsBytes) &&
         pdu.IsEmpty() && ParseVarBinds(bindingsBytes, &pMessage->bindings);
}

}  // namespace

bool EncodeSnmpPdu(const CSnmpMessage& message, std::string* pstrOut) {
  std::string strBindings;
  for (const SnmpVarBind& varBind : message.bindings) {
    std::string strName;
    std::string strBinding;
    if (!EncodeOid(varBind.name, &strName)) return false;
    AppendTlv(&strBinding, ASN_OBJECTIDENTIFIER, strName);
    if (!EncodeValue(varBind.value, &strBinding)) return false;
    AppendTlv(&strBindings, ASN_SEQUENCE, strBinding);
  }
  std::string strPdu;
  AppendTlv(&strPdu, ASN_INTEGER, EncodeSigned(message.nRequestId));
  AppendTlv(&strPdu, ASN_INTEGER, EncodeSigned(message.nErrorStatus));
  AppendTlv(&strPdu, ASN_INTEGER, EncodeSigned(message.nErrorIndex));
  AppendTlv(&strPdu, ASN_SEQUENCE, strBindings);
  AppendTlv(pstrOut, message.pduType, strPdu);
  return true;
}

bool DecodeSnmpPdu(std::string_view bytes, CSnmpMessage* pMessage) {
  CBerReader reader(bytes);
  uint8_t pduType = 0;
  std::string_view pduBytes;
  if (!reader.ReadElement(&pduType, &pduBytes) || !reader.IsEmpty() || !IsPduType(pduType)) return false;
  pMessage->pduType = pduType;
  return DecodePduContents(pduBytes, pMessage);
}

bool EncodeSnmpMessage(const CSnmpMessage& message, std::string* pstrOut) {
  std::string strMessage;
  AppendTlv(&strMessage, ASN_INTEGER, EncodeSigned(message.nVersion));
  AppendTlv(&strMessage, ASN_OCTETSTRING, message.strCommunity);
  if (!EncodeSnmpPdu(message, &strMessage)) return false;
  AppendTlv(pstrOut, ASN_SEQUENCE, strMessage);
  return true;
}

bool DecodeSnmpMessage(std::string_view datagram, CSnmpMessage* pMessage) {
  CBerReader top(datagram);
  std::string_view messageBytes;
  if (!top.ReadExpected(ASN_SEQUENCE, &messageBytes) || !top.IsEmpty()) return false;

  CBerReader message(messageBytes);
  std::string_view communityBytes;
  std::string_view pduBytes;
  uint8_t pduType = 0;
  if (!message.ReadInt32(&pMessage->nVersion) || !message.ReadExpected(ASN_OCTETSTRING, &communityBytes) ||
      !message.ReadElement(&pduType, &pduBytes) || !message.IsEmpty() || !IsPduType(pduType))
    return false;
  pMessage->strCommunity.assign(communityBytes);
  pMessage->pduType = pduType;
  return DecodePduContents(pduBytes, pMessage);
}

void AppendBerElement(std::string* pstrOut, uint8_t tag, std::string_view contents) {
  AppendTlv(pstrOut, tag, contents);
}

size_t BerHeaderLength(size_t nContents) {
  size_t nLengthBytes = 1;
  if (nContents >= 0x80) {
    for (; nContents != 0; nContents >>= 8) ++nLengthBytes;
  }
  return 1 + nLengthBytes;
}

std::string BerInteger(int64_t nValue) { return EncodeSigned(nValue); }

bool CBerReader::ReadElement(uint8_t* pTag, std::string_view* pContents) {
  std::string_view rest = m_bytes;
  if (rest.size() < 2) return false;
  const uint8_t tag = static_cast<uint8_t>(rest[0]);
  // X.690 8.1.2.4: the high-tag-number form; SNMP uses none.
  if ((tag & 0x1F) == 0x1F) return false;
  const uint8_t first = static_cast<uint8_t>(rest[1]);
  rest.remove_prefix(2);
  size_t nLength = first;
  if (first & 0x80) {
    // 0x80 alone is the indefinite form (8.1.3.6), which SNMP does not
    // allow; 0xFF is reserved (8.1.3.5 c).
    const size_t nBytes = first & 0x7F;
    if (nBytes == 0 || nBytes == 0x7F || nBytes > rest.size()) return false;
    nLength = 0;
    for (size_t i = 0; i < nBytes; ++i) {
      nLength = (nLength << 8) | static_cast<uint8_t>(rest[i]);
      // Checked at every byte, so the number never outgrows size_t.
      if (nLength > rest.size()) return false;
    }
    rest.remove_prefix(nBytes);
  }
  if (nLength > rest.size()) return false;
  *pTag = tag;
  *pContents = rest.substr(0, nLength);
  m_bytes = rest.substr(nLength);
  return true;
}

bool CBerReader::ReadExpected(uint8_t expected, std::string_view* pContents) {
  CBerReader copy = *this;
  uint8_t tag = 0;
  if (!copy.ReadElement(&tag, pContents) || tag != expected) return false;
  *this = copy;
  return true;
}

bool CBerReader::ReadInt32(int32_t* pnValue) {
  CBerReader copy = *this;
  std::string_view contents;
  if (!copy.ReadExpected(ASN_INTEGER, &contents) || !ParseInt32(contents, pnValue)) return false;
  *this = copy;
  return true;
}
