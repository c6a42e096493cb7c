// The protocol's numbers that more than one layer needs, each written once:
// the settings take their defaults from here.
#ifndef MIBSCAN_SNMP_SNMPDEFAULTS_H_
#define MIBSCAN_SNMP_SNMPDEFAULTS_H_

#include <cstddef>

// The agent's UDP port (RFC 3417 3).
constexpr int c_nSnmpPort = 161;
// A request's wait for its answer when none is set, in milliseconds.
constexpr int c_nDefaultTimeoutMs = 500;
// The largest datagram UDP carries: the longest request sent, the longest
// answer read.
constexpr size_t c_nMaxDatagram = 65535;

#endif  // MIBSCAN_SNMP_SNMPDEFAULTS_H_
