// BER encoding and decoding (X.690) of SNMP messages: the community
// messages of SNMPv1 and SNMPv2c (RFC 1157, RFC 3416), and the PDUs that
// SNMPv3 messages carry (SnmpV3.h).
//
// The decoder reads untrusted datagrams: every length is checked against
// the bytes left in its enclosing element before anything is read, no read
// passes the end of the datagram, and trailing bytes inside or after the
// message make it invalid. Only definite lengths are accepted (X.690 8.1.3;
// SNMP forbids the indefinite form).
//
// What real agents send is read even where it is not the shortest form:
// long-form lengths where the short form would do (with leading zero
// bytes too), integers with a redundant leading 0x00 or 0xFF byte (up to 5
// content bytes for the 32-bit types, 9 for Counter64), unsigned numbers
// whose first byte has its high bit set without the 0x00 before it (read
// as the unsigned value of the bytes), and sub-identifiers padded with
// 0x80 bytes. A value too large for its type is refused.
//
// A binding whose framing is sound but whose value cannot be read (too
// large, no contents, NULL with contents, a broken OID) does not spoil the
// message: it is kept with bMalformed set and its contents as sent. The
// encoder always writes the shortest forms, and writes a malformed value
// back as it came.
#ifndef MIBSCAN_SNMP_BER_H_
#define MIBSCAN_SNMP_BER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ASN.1 and SNMP type tags.
constexpr uint8_t ASN_INTEGER = 0x02;
constexpr uint8_t ASN_BITS = 0x03;
constexpr uint8_t ASN_OCTETSTRING = 0x04;
constexpr uint8_t ASN_NULL = 0x05;
constexpr uint8_t ASN_OBJECTIDENTIFIER = 0x06;
constexpr uint8_t ASN_SEQUENCE = 0x30;
constexpr uint8_t ASN_IPADDRESS = 0x40;
constexpr uint8_t ASN_COUNTER32 = 0x41;
constexpr uint8_t ASN_GAUGE32 = 0x42;
constexpr uint8_t ASN_TIMETICKS = 0x43;
constexpr uint8_t ASN_OPAQUE = 0x44;
constexpr uint8_t ASN_COUNTER64 = 0x46;
constexpr uint8_t ASN_UINTEGER32 = 0x47;
constexpr uint8_t SNMP_EXCEPTION_NOSUCHOBJECT = 0x80;
constexpr uint8_t SNMP_EXCEPTION_NOSUCHINSTANCE = 0x81;
constexpr uint8_t SNMP_EXCEPTION_ENDOFMIBVIEW = 0x82;
constexpr uint8_t SNMP_PDU_GET = 0xA0;
constexpr uint8_t SNMP_PDU_GETNEXT = 0xA1;
constexpr uint8_t SNMP_PDU_RESPONSE = 0xA2;
constexpr uint8_t SNMP_PDU_SET = 0xA3;
constexpr uint8_t SNMP_PDU_GETBULK = 0xA5;  // SNMPv2 (RFC 3416)
constexpr uint8_t SNMP_PDU_REPORT = 0xA8;   // SNMPv2, used by SNMPv3 (RFC 3416, 3412)

// The message's version field.
constexpr int32_t SNMP_VERSION_1 = 0;
constexpr int32_t SNMP_VERSION_2C = 1;

// SNMPv1 error-status values (RFC 1157 4.1.1).
constexpr int32_t SNMP_ERRORSTATUS_NOERROR = 0;
constexpr int32_t SNMP_ERRORSTATUS_TOOBIG = 1;
constexpr int32_t SNMP_ERRORSTATUS_NOSUCHNAME = 2;
constexpr int32_t SNMP_ERRORSTATUS_BADVALUE = 3;
constexpr int32_t SNMP_ERRORSTATUS_READONLY = 4;
constexpr int32_t SNMP_ERRORSTATUS_GENERR = 5;

// An object identifier: its sub-identifiers, each 0 to 4294967295.
struct AsnObjectIdentifier {
  std::vector<uint32_t> ids;
  bool operator==(const AsnObjectIdentifier&) const = default;
};

// A value: the type tag as received and the field that tag uses.
//   ASN_INTEGER                                    nNumber
//   ASN_COUNTER32, ASN_GAUGE32, ASN_TIMETICKS,
//   ASN_UINTEGER32                                 uUnsigned
//   ASN_COUNTER64                                  uCounter64
//   ASN_OBJECTIDENTIFIER                           oid
//   every other tag (strings, addresses, Opaque,
//   NULL, exceptions, unknown tags)                strBytes: the contents as sent
// A value that could not be read for its tag has bMalformed set and its
// contents as sent in strBytes.
struct AsnAny {
  uint8_t asnType = ASN_NULL;
  bool bMalformed = false;
  int32_t nNumber = 0;
  uint32_t uUnsigned = 0;
  uint64_t uCounter64 = 0;
  AsnObjectIdentifier oid;
  std::string strBytes;
  bool operator==(const AsnAny&) const = default;
};

struct SnmpVarBind {
  AsnObjectIdentifier name;
  AsnAny value;
  bool operator==(const SnmpVarBind&) const = default;
};

using SnmpVarBindList = std::vector<SnmpVarBind>;

// One SNMPv1 or SNMPv2c message (or, without its community, the PDU of an
// SNMPv3 message): version, community and a GetRequest,
// GetNextRequest, GetResponse, SetRequest, GetBulkRequest or Report PDU. A
// GetBulkRequest carries its non-repeaters in nErrorStatus and its
// max-repetitions in nErrorIndex, where its encoding has them (RFC 3416 3).
struct CSnmpMessage {
  int32_t nVersion = SNMP_VERSION_1;
  std::string strCommunity;
  uint8_t pduType = SNMP_PDU_GET;
  int32_t nRequestId = 0;
  int32_t nErrorStatus = 0;
  int32_t nErrorIndex = 0;
  SnmpVarBindList bindings;
  bool operator==(const CSnmpMessage&) const = default;
};

// Appends the BER encoding of message to *pstrOut. False, with *pstrOut
// unchanged, when a value cannot be encoded (an object identifier with
// fewer than two sub-identifiers, a first one above 2, or a second one
// above 39 under a first of 0 or 1).
[[nodiscard]] bool EncodeSnmpMessage(const CSnmpMessage& message, std::string* pstrOut);

// Decodes one whole datagram into *pMessage. False when the bytes are not
// exactly one well-formed message of the six PDU types above (a binding
// whose value alone cannot be read is kept, marked bMalformed); *pMessage
// is then unspecified.
[[nodiscard]] bool DecodeSnmpMessage(std::string_view datagram, CSnmpMessage* pMessage);

// The PDU of message alone (its type, request-id, error fields and
// bindings), appended to *pstrOut; as EncodeSnmpMessage.
[[nodiscard]] bool EncodeSnmpPdu(const CSnmpMessage& message, std::string* pstrOut);
// Decodes bytes that are exactly one PDU into the PDU fields of *pMessage.
[[nodiscard]] bool DecodeSnmpPdu(std::string_view bytes, CSnmpMessage* pMessage);

// The BER pieces other message formats (SNMPv3) are built from: an
// element with its tag and length, and that header's size; the shortest
// two's complement contents of an integer.
void AppendBerElement(std::string* pstrOut, uint8_t tag, std::string_view contents);
// Bytes of the tag and length that AppendBerElement writes before
// nContents bytes of contents.
[[nodiscard]] size_t BerHeaderLength(size_t nContents);
[[nodiscard]] std::string BerInteger(int64_t nValue);

// The one reader of both decoders: a bounds-checked cursor over untrusted
// bytes. Every read either takes a whole element or leaves the cursor
// where it was.
class CBerReader {
 public:
  explicit CBerReader(std::string_view bytes) : m_bytes(bytes) {}

  bool IsEmpty() const { return m_bytes.empty(); }
  // What is left to read.
  std::string_view Rest() const { return m_bytes; }

  // Reads one tag-length-contents element. Lengths may come in the long
  // form where the short one would do, and with leading zero bytes, as
  // some agents send them (X.690 8.1.3.5 allows it for BER).
  [[nodiscard]] bool ReadElement(uint8_t* pTag, std::string_view* pContents);
  // Reads one element that must carry the tag expected.
  [[nodiscard]] bool ReadExpected(uint8_t expected, std::string_view* pContents);
  // Reads an INTEGER that fits 32 bits (redundant leading bytes allowed).
  [[nodiscard]] bool ReadInt32(int32_t* pnValue);

 private:
  std::string_view m_bytes;
};

#endif  // MIBSCAN_SNMP_BER_H_
