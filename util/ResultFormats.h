// The kinds of result file a walk may write: the XML file (the default),
// snmpsim's data file (".snmprec") and net-snmp's walk text (".walk"), as
// a set of bits.
#ifndef MIBSCAN_UTIL_RESULTFORMATS_H_
#define MIBSCAN_UTIL_RESULTFORMATS_H_

#include <cstdint>
#include <string>
#include <string_view>

constexpr uint32_t c_uFormatXml = 1;
constexpr uint32_t c_uFormatSnmprec = 2;
constexpr uint32_t c_uFormatWalk = 4;
// The formats that need each object's type and bytes kept.
constexpr uint32_t c_uTypedFormats = c_uFormatSnmprec | c_uFormatWalk;
// Every format, in the order their files are written.
constexpr uint32_t c_arrFormats[] = {c_uFormatXml, c_uFormatSnmprec, c_uFormatWalk};

// The name of one format ("xml", "snmprec", "walk"), which is also its
// file's extension.
[[nodiscard]] const char* FormatName(uint32_t uFormat);

// Reads a comma-separated list of format names (blanks around a name and
// case ignored; a name listed twice counts once) into *puFormats. False,
// with the first word that is no format in *pstrBad, for an unknown name
// or a list with no name at all.
[[nodiscard]] bool ParseFormatList(std::string_view text, uint32_t* puFormats, std::string* pstrBad);

#endif  // MIBSCAN_UTIL_RESULTFORMATS_H_
