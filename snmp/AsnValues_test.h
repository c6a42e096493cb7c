// Makers of SNMP values for the tests, one per value field.
#ifndef MIBSCAN_SNMP_ASNVALUES_TEST_H_
#define MIBSCAN_SNMP_ASNVALUES_TEST_H_

#include <string>
#include <utility>
#include <vector>

#include "snmp/Ber.h"

inline AsnAny Value(uint8_t tag) {
  AsnAny value;
  value.asnType = tag;
  return value;
}
inline AsnAny Int(int32_t nValue) {
  AsnAny value = Value(ASN_INTEGER);
  value.nNumber = nValue;
  return value;
}
inline AsnAny Unsigned(uint8_t tag, uint32_t uValue) {
  AsnAny value = Value(tag);
  value.uUnsigned = uValue;
  return value;
}
inline AsnAny Counter64(uint64_t uValue) {
  AsnAny value = Value(ASN_COUNTER64);
  value.uCounter64 = uValue;
  return value;
}
inline AsnAny Bytes(uint8_t tag, std::string strBytes) {
  AsnAny value = Value(tag);
  value.strBytes = std::move(strBytes);
  return value;
}
inline AsnAny Oid(std::vector<uint32_t> ids) {
  AsnAny value = Value(ASN_OBJECTIDENTIFIER);
  value.oid.ids = std::move(ids);
  return value;
}

#endif  // MIBSCAN_SNMP_ASNVALUES_TEST_H_
