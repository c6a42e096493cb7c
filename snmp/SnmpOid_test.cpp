#include "snmp/SnmpOid.h"

#include <gtest/gtest.h>

namespace {

TEST(SnmpMgrStrToOidTest, ConvertsNamesAndNumbers) {
  struct {
    const char* szText;
    const char* szExpected;
  } const rows[] = {
      {"system.sysDescr.0", "1.3.6.1.2.1.1.1.0"},
      {"system.sysUpTime.0", "1.3.6.1.2.1.1.3.0"},
      {".1.3.6.1.4.1", "1.3.6.1.4.1"},
      {"interfaces.ifTable.ifEntry.ifDescr", "1.3.6.1.2.1.2.2.1.2"},
      {"1.5.0", "1.3.6.1.2.1.1.5.0"},
      {"1.3.6.1.4.1", "1.3.6.1.2.1.1.3.6.1.4.1"},  // below mib-2 without the leading dot
      {"system.5.0", "1.3.6.1.2.1.1.5.0"},
      {"2.ifTable.1.ifSpeed.3", "1.3.6.1.2.1.2.2.1.5.3"},
      {"sysName.0", "1.3.6.1.2.1.1.5.0"},
      {"ip.ipNetToMediaTable.ipNetToMediaEntry.ipNetToMediaPhysAddress",
       "1.3.6.1.2.1.4.22.1.2"},
      {"snmp.snmpInTooBigs", "1.3.6.1.2.1.11.8"},
      {"snmp.snmpOutGenErrs", "1.3.6.1.2.1.11.24"},
      {"egp.egpAs", "1.3.6.1.2.1.8.6"},
      {"transmission", "1.3.6.1.2.1.10"},
      {".iso.org.dod.internet.private.enterprises.9", "1.3.6.1.4.1.9"},
      {".1.3.6.1.2.mib-2.system", "1.3.6.1.2.1.1"},
      {"0", "1.3.6.1.2.1.0"},
      {"4294967295", "1.3.6.1.2.1.4294967295"},
  };
  for (const auto& row : rows) {
    AsnObjectIdentifier oid;
    ASSERT_TRUE(SnmpMgrStrToOid(row.szText, &oid)) << row.szText;
    EXPECT_EQ(OidToText(oid), row.szExpected) << row.szText;
  }
}

TEST(SnmpMgrStrToOidTest, RefusesBadText) {
  for (const char* szText :
       {"", ".", "..1", "1..3", "1.3.", "system.", "nosuchname", "system.ifDescr",
        ".system", "1.-3", "1.3a", " 1.3", "1.3 ", "4294967296", "System.sysDescr.0",
        "system.sysDescr.0.x"}) {
    AsnObjectIdentifier oid;
    EXPECT_FALSE(SnmpMgrStrToOid(szText, &oid)) << '"' << szText << '"';
  }
}

TEST(OidToTextTest, WritesUnsignedDecimalWithoutLeadingDot) {
  EXPECT_EQ(OidToText({{1, 3, 4294967295u, 0}}), "1.3.4294967295.0");
  EXPECT_EQ(OidToText({}), "");
}

}  // namespace
