#include "mib/RenderValue.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "snmp/LastError.h"
#include "util/Base64.h"

namespace {

std::string Format(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* szFormat, ...) {
  char szText[64];
  va_list args;
  va_start(args, szFormat);
  const int nLen = std::vsnprintf(szText, sizeof szText, szFormat, args);
  va_end(args);
  return nLen > 0 ? std::string(szText, static_cast<size_t>(nLen)) : std::string();
}

// Two lowercase hex digits per byte, ":" between bytes.
std::string HexBytes(std::string_view bytes) {
  std::string strText;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) strText += ':';
    strText += Format("%02x", static_cast<unsigned>(static_cast<uint8_t>(bytes[i])));
  }
  return strText;
}

bool IsTextByte(uint8_t byte) { return byte >= 0x20 || byte == 0x0A || byte == 0x0D || byte == 0x00; }

// An OCTET STRING as text: Base64 of all its bytes when a byte is not
// text or a NUL stands before its last byte (a MAC address, a bitmap);
// otherwise the bytes up to a NUL that ends them. Text that is not
// characters of the agents' code set is Base64 as well, so no byte is
// lost or replaced in the result file. Long text is cut between
// characters, at most c_nMaxTextValue bytes in.
CRenderedValue OctetStringText(std::string_view bytes, CTextCodeSet* pCodeSet) {
  if (bytes.empty()) return {};
  for (char ch : bytes) {
    if (!IsTextByte(static_cast<uint8_t>(ch))) return {Base64Lines(bytes)};
  }
  const size_t nTextLen = std::min(bytes.find('\0'), bytes.size());
  if (nTextLen + 1 < bytes.size()) return {Base64Lines(bytes)};
  const std::string_view text = bytes.substr(0, nTextLen);
  CUtf8Converter& converter = pCodeSet->Converter();
  if (!converter.IsValidText(text)) return {Base64Lines(bytes)};
  return {std::string(text.substr(0, converter.CharBoundary(text, c_nMaxTextValue))), true};
}

bool IsByteString(uint8_t asnType) {
  return asnType == ASN_OCTETSTRING || asnType == ASN_BITS || asnType == ASN_IPADDRESS ||
         asnType == ASN_OPAQUE;
}

// The tag a value is shown by: physical addresses are bytes, not text.
// Only a byte string can be shown so; any other value under the prefix
// keeps its own form.
uint8_t RenderTag(const std::string& strOid, const AsnAny& value) {
  if (strOid.starts_with(c_szPhysAddressPrefix) && IsByteString(value.asnType)) return ASN_BITS;
  return value.asnType;
}

std::string OidText(const AsnObjectIdentifier& oid) {
  std::string strText;
  for (size_t i = 0; i < oid.ids.size(); ++i) {
    if (i > 0) strText += '.';
    strText += Format("%d", static_cast<int32_t>(oid.ids[i]));  // signed, as shown before
  }
  return strText;
}

std::string IpAddressText(std::string_view bytes) {
  if (bytes.size() != 4) return std::string();
  const auto* pBytes = reinterpret_cast<const uint8_t*>(bytes.data());
  return Format("%d.%d.%d.%d", pBytes[0], pBytes[1], pBytes[2], pBytes[3]);
}

}  // namespace

CUnreadableValue::CUnreadableValue() : std::runtime_error("value cannot be decoded") {}

CUtf8Converter& CTextCodeSet::Converter() {
  if (!m_pConverter) m_pConverter = std::make_unique<CUtf8Converter>(m_strCharset);
  return *m_pConverter;
}

int TracedLength(const std::string& strOid, const AsnAny& value) {
  if (value.bMalformed) return -1;
  switch (RenderTag(strOid, value)) {
    case ASN_BITS:
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
      return static_cast<int>(value.strBytes.size());
    case ASN_OBJECTIDENTIFIER:
      return static_cast<int>(value.oid.ids.size());
    default:
      return -1;
  }
}

std::string_view TypedPayload(const AsnAny& value, const CRenderedValue& rendered, std::string* pstrScratch) {
  switch (value.asnType) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UINTEGER32:
    case ASN_COUNTER64:
      return rendered.strText;
    case ASN_OBJECTIDENTIFIER: {
      pstrScratch->clear();
      char szArc[16];
      for (size_t i = 0; i < value.oid.ids.size(); ++i) {
        if (i > 0) pstrScratch->push_back('.');
        const auto result = std::to_chars(szArc, szArc + sizeof szArc, value.oid.ids[i]);
        pstrScratch->append(szArc, result.ptr);
      }
      return *pstrScratch;
    }
    default:
      return value.strBytes;
  }
}

CRenderedValue RenderValue(const std::string& strOid, const AsnAny& value, CTextCodeSet* pCodeSet) {
  if (value.bMalformed) {
    SetLastError(SNMP_MGR_ERROR_VALUE);
    throw CUnreadableValue();
  }
  const uint8_t renderTag = RenderTag(strOid, value);
  switch (renderTag) {
    case ASN_INTEGER:
      return {Format("%d", value.nNumber)};
    case ASN_BITS:
      return {HexBytes(value.strBytes)};
    case ASN_OCTETSTRING:
      return OctetStringText(value.strBytes, pCodeSet);
    case ASN_OBJECTIDENTIFIER:
      return {OidText(value.oid)};
    case ASN_IPADDRESS:
      return {IpAddressText(value.strBytes)};
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UINTEGER32:
      return {Format("%u", value.uUnsigned)};
    case ASN_COUNTER64:
      return {Format("%" PRIu64, value.uCounter64)};
    default:
      return {Format("Type.%d", static_cast<int>(renderTag))};
  }
}
