// The typed result files, written from a walk's typed entries
// (TypedEntries.h) in name order:
//
// - ".snmprec", the data file snmpsim serves: a line "OID|TAG|VALUE" per
//   object. Numbers and OIDs as text; an OCTET STRING as its text when
//   every byte is printable ASCII and neither end is a blank (snmpsim
//   strips lines), otherwise as hexadecimal ("4x|..."); IpAddress and
//   Opaque always as hexadecimal, as snmpsim records them. UInteger32,
//   which snmpsim cannot serve, is written as Gauge32 (the same range);
//   exception values are no objects and are left out, and so are values
//   of a type snmpsim does not know.
// - ".walk", the text net-snmp's snmpwalk prints with -ObentU and no MIB
//   loaded, in the C locale: ".OID = TYPE: VALUE" per object (see
//   AppendWalkValue), and its last line when the walk reached the end of
//   the agent's MIB ("End of MIB" for SNMPv1, the endOfMibView line for
//   SNMPv2c and SNMPv3).
//
// Both are written in binary, with "\n" line ends on every system.
#ifndef MIBSCAN_RESULT_TYPEDFILES_H_
#define MIBSCAN_RESULT_TYPEDFILES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "util/TypedEntries.h"

// Appends the .snmprec line of one object (nothing for a value left out).
void AppendSnmprecLine(std::string* pstrOut, std::string_view nameKey, uint8_t tag, std::string_view payload);
// The same, with the OID's text already made (NameKeyText).
void AppendSnmprecLineOf(std::string* pstrOut, std::string_view oidText, uint8_t tag, std::string_view payload);

// Appends what snmpwalk prints after "= " for a value: "INTEGER: -5",
// "STRING: \"text\"" (\ and " escaped), "Hex-STRING: 00 1A " (16 bytes a
// line, each followed by a blank) for a string with a byte that is neither
// printable nor white space, "\"\"" for an empty one, "OID: .1.3.6",
// "IpAddress: 10.0.0.1", "Counter32: 5", "Gauge32: 5", the bare number of
// TimeTicks, "Counter64: 5", "Opaque: Float: 0.500000" (and the other
// types net-snmp finds inside an Opaque), "OPAQUE: 01 02 " otherwise,
// "NULL", and the texts of the exception values.
void AppendWalkValue(std::string* pstrOut, uint8_t tag, std::string_view payload);
// Appends the walk text's line of one object.
void AppendWalkLine(std::string* pstrOut, std::string_view nameKey, uint8_t tag, std::string_view payload);
// The same, with the OID's text already made (NameKeyText).
void AppendWalkLineOf(std::string* pstrOut, std::string_view oidText, uint8_t tag, std::string_view payload);
// Appends the walk text's last line for how the walk ended (nothing for
// EWalkEnd::None). snmpwalk names an endOfMibView by the OID it asked for
// last, the last object's (lastNameKey; nothing when there is none),
// whatever name a GETBULK answer gave it.
void AppendWalkEnd(std::string* pstrOut, EWalkEnd end, std::string_view lastNameKey);

// Writes, in one pass over typed (sorted: CTypedEntries::Sort), its
// .snmprec to strSnmprecPath and its walk text to strWalkPath (an empty
// path: that file is not asked for), each replacing its file whole. Sets
// *pbSnmprecWritten and *pbWalkWritten: false, with the file as it was,
// for a file that could not be written.
void WriteTypedFiles(const std::string& strSnmprecPath, const std::string& strWalkPath, const CTypedEntries& typed,
                     bool* pbSnmprecWritten, bool* pbWalkWritten);

#endif  // MIBSCAN_RESULT_TYPEDFILES_H_
