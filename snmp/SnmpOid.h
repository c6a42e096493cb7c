// Object identifiers as text: conversion of a typed name to an identifier,
// and of an identifier to its dotted text.
#ifndef MIBSCAN_SNMP_SNMPOID_H_
#define MIBSCAN_SNMP_SNMPOID_H_

#include <string>
#include <string_view>

#include "snmp/Ber.h"

// Converts strText to an identifier. Labels are separated by "."; each is
// a decimal number (0 to 4294967295) or the name of a node of the standard
// MIB-II (RFC 1213: system, interfaces, at, ip, icmp, tcp, udp, egp,
// transmission, snmp, their objects and table columns) or of the nodes
// above it (iso, org, dod, internet, directory, mgmt, mib-2, experimental,
// private, enterprises). A text that begins with "." is read from the root;
// any other text is read below mib-2 (1.3.6.1.2.1). A name must be a child
// of the node read so far, except that the first label of a text below
// mib-2 may name any node ("sysName.0" is 1.3.6.1.2.1.1.5.0). Names compare
// exactly. False, with *pOid unspecified, for an empty text or label, an
// unknown or misplaced name, or a number out of range.
//
// Examples: "system.sysDescr.0" 1.3.6.1.2.1.1.1.0; ".1.3.6.1.4.1"
// 1.3.6.1.4.1; "1.5.0" 1.3.6.1.2.1.1.5.0; "interfaces.ifTable.ifEntry.ifDescr"
// 1.3.6.1.2.1.2.2.1.2.
[[nodiscard]] bool SnmpMgrStrToOid(std::string_view strText, AsnObjectIdentifier* pOid);

// The sub-identifiers in unsigned decimal joined by ".", no leading dot.
[[nodiscard]] std::string OidToText(const AsnObjectIdentifier& oid);

#endif  // MIBSCAN_SNMP_SNMPOID_H_
