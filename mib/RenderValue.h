// The text the result file shows for a received value: pure functions of
// the binding's OID, its value and the code set of the agent's text.
//
// Thread use: none of its own; a CTextCodeSet belongs to one walk.
#ifndef MIBSCAN_MIB_RENDERVALUE_H_
#define MIBSCAN_MIB_RENDERVALUE_H_

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/Utf8Converter.h"
#include "snmp/Ber.h"

// Text octet strings longer than this are cut.
constexpr size_t c_nMaxTextValue = 256;
// OIDs under this prefix are physical addresses, shown as hexadecimal
// bytes whatever their type.
constexpr char c_szPhysAddressPrefix[] = "1.3.6.1.2.1.4.22.1.2.";

// Thrown for a value the decoder could not read: the walk drops that
// binding, as it drops any binding it cannot turn into an entry.
class CUnreadableValue : public std::runtime_error {
 public:
  CUnreadableValue();
};

// The code set of an agent's text (the Charset setting; empty: the
// locale's). Its converter is made at the first octet string, so a walk
// of numbers never opens one.
class CTextCodeSet {
 public:
  explicit CTextCodeSet(std::string strCharset = std::string()) : m_strCharset(std::move(strCharset)) {}
  CUtf8Converter& Converter();

 private:
  std::string m_strCharset;
  std::unique_ptr<CUtf8Converter> m_pConverter;
};

struct CRenderedValue {
  std::string strText;
  // True when the text is an octet string's own bytes (whose carriage
  // returns are data) rather than a form made from them.
  bool bText = false;
};

// The text of value, received under strOid. Throws CUnreadableValue, with
// GetLastError() SNMP_MGR_ERROR_VALUE, for a value marked bMalformed.
[[nodiscard]] CRenderedValue RenderValue(const std::string& strOid, const AsnAny& value, CTextCodeSet* pCodeSet);

// The length the walk's trace shows for value ("<target>|length=N"): the
// bytes of a byte string, the arcs of an OID; -1 for a value whose length
// it does not show (numbers, the exception values, a malformed value).
[[nodiscard]] int TracedLength(const std::string& strOid, const AsnAny& value);

// The payload the typed result files keep for value (TypedEntries.h): the
// decimal text of a number, the dotted text of an OBJECT IDENTIFIER (its
// arcs unsigned), the bytes of any other value. rendered is what
// RenderValue made of the value under its OID (its numbers are the same
// text); an OID's text is made in *pstrScratch. Valid while value,
// rendered and *pstrScratch are.
[[nodiscard]] std::string_view TypedPayload(const AsnAny& value, const CRenderedValue& rendered,
                                            std::string* pstrScratch);

#endif  // MIBSCAN_MIB_RENDERVALUE_H_
