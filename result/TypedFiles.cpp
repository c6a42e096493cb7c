#include "result/TypedFiles.h"

#include <charconv>
#include <cstring>

#include "platform/AtomicFile.h"

namespace {

// Value tags, as they come on the wire (RFC 2578, RFC 3416).
constexpr uint8_t c_tagInteger = 0x02;
constexpr uint8_t c_tagOctetString = 0x04;
constexpr uint8_t c_tagNull = 0x05;
constexpr uint8_t c_tagOid = 0x06;
constexpr uint8_t c_tagIpAddress = 0x40;
constexpr uint8_t c_tagCounter32 = 0x41;
constexpr uint8_t c_tagGauge32 = 0x42;
constexpr uint8_t c_tagTimeTicks = 0x43;
constexpr uint8_t c_tagOpaque = 0x44;
constexpr uint8_t c_tagNsapAddress = 0x45;
constexpr uint8_t c_tagCounter64 = 0x46;
constexpr uint8_t c_tagUInteger32 = 0x47;
constexpr uint8_t c_tagNoSuchObject = 0x80;
constexpr uint8_t c_tagNoSuchInstance = 0x81;
constexpr uint8_t c_tagEndOfMibView = 0x82;

constexpr char c_szEndOfMibViewText[] = "No more variables left in this MIB View (It is past the end of the MIB tree)";

void AppendLowerHex(std::string* pstrOut, std::string_view bytes) {
  static constexpr char c_szDigits[] = "0123456789abcdef";
  for (const char ch : bytes) {
    const auto byte = static_cast<uint8_t>(ch);
    pstrOut->push_back(c_szDigits[byte >> 4]);
    pstrOut->push_back(c_szDigits[byte & 0x0F]);
  }
}

// net-snmp's hexadecimal string: "XX " per byte, 16 bytes a line.
void AppendHexLines(std::string* pstrOut, std::string_view bytes) {
  static constexpr char c_szDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 16 == 0) pstrOut->push_back('\n');
    const auto byte = static_cast<uint8_t>(bytes[i]);
    pstrOut->push_back(c_szDigits[byte >> 4]);
    pstrOut->push_back(c_szDigits[byte & 0x0F]);
    pstrOut->push_back(' ');
  }
}

// isprint() or isspace() in the C locale.
bool IsPrintOrSpace(uint8_t byte) { return (byte >= 0x20 && byte < 0x7F) || (byte >= 0x09 && byte <= 0x0D); }

// Text snmpsim reads back as it stands: printable ASCII, no blank at
// either end (it strips each line).
bool IsPlainSnmprecText(std::string_view bytes) {
  for (const char ch : bytes) {
    if (ch < 0x20 || ch > 0x7E) return false;
  }
  return bytes.empty() || (bytes.front() != ' ' && bytes.back() != ' ');
}

void AppendOctetString(std::string* pstrOut, std::string_view bytes) {
  if (bytes.empty()) {
    pstrOut->append("\"\"");
    return;
  }
  for (const char ch : bytes) {
    if (!IsPrintOrSpace(static_cast<uint8_t>(ch))) {
      pstrOut->append("Hex-STRING: ");
      AppendHexLines(pstrOut, bytes);
      return;
    }
  }
  pstrOut->append("STRING: \"");
  for (const char ch : bytes) {
    if (ch == '\\' || ch == '"') pstrOut->push_back('\\');
    pstrOut->push_back(ch);
  }
  pstrOut->push_back('"');
}

uint64_t BigEndian(std::string_view bytes) {
  uint64_t uValue = 0;
  for (const char ch : bytes) uValue = (uValue << 8) | static_cast<uint8_t>(ch);
  return uValue;
}

void AppendNumber(std::string* pstrOut, auto value) {
  char szText[32];
  const auto result = std::to_chars(szText, szText + sizeof szText, value);
  pstrOut->append(szText, result.ptr);
}

void AppendFixed(std::string* pstrOut, double value) {
  char szText[400];  // the longest double in fixed notation with 6 decimals
  const auto result = std::to_chars(szText, szText + sizeof szText, value, std::chars_format::fixed, 6);
  pstrOut->append(szText, result.ptr);
}

// An Opaque whose bytes wrap one of the types net-snmp encodes so (a tag
// 0x9f 0x7N, a length, the value): float, double, Counter64, Int64,
// UInt64. False for any other Opaque.
bool AppendWrappedOpaque(std::string* pstrOut, std::string_view bytes) {
  if (bytes.size() < 3 || static_cast<uint8_t>(bytes[0]) != 0x9F) return false;
  const auto innerTag = static_cast<uint8_t>(bytes[1]);
  const auto nLength = static_cast<uint8_t>(bytes[2]);
  const std::string_view value = bytes.substr(3);
  if (value.size() != nLength) return false;
  switch (innerTag) {
    case 0x78:  // float
    case 0x79: {  // double
      if (nLength != (innerTag == 0x78 ? 4 : 8)) return false;
      pstrOut->append("Opaque: Float: ");
      if (innerTag == 0x78) {
        const auto uBits = static_cast<uint32_t>(BigEndian(value));
        float fValue = 0;
        std::memcpy(&fValue, &uBits, sizeof fValue);
        AppendFixed(pstrOut, fValue);
      } else {
        const uint64_t uBits = BigEndian(value);
        double dValue = 0;
        std::memcpy(&dValue, &uBits, sizeof dValue);
        AppendFixed(pstrOut, dValue);
      }
      return true;
    }
    case 0x76:  // Counter64
    case 0x7B:  // UInt64
      if (nLength == 0 || nLength > 9 || (nLength == 9 && value[0] != 0)) return false;
      pstrOut->append(innerTag == 0x76 ? "Opaque: Counter64: " : "Opaque: UInt64: ");
      AppendNumber(pstrOut, BigEndian(value));
      return true;
    case 0x7A: {  // Int64, two's complement
      if (nLength == 0 || nLength > 8) return false;
      uint64_t uValue = BigEndian(value);
      if (nLength < 8 && (static_cast<uint8_t>(value[0]) & 0x80) != 0) uValue |= ~uint64_t{0} << (8 * nLength);
      pstrOut->append("Opaque: Int64: ");
      AppendNumber(pstrOut, static_cast<int64_t>(uValue));
      return true;
    }
    default:
      return false;
  }
}

void AppendIpAddress(std::string* pstrOut, std::string_view bytes) {
  pstrOut->append("IpAddress: ");
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) pstrOut->push_back('.');
    AppendNumber(pstrOut, static_cast<unsigned>(static_cast<uint8_t>(bytes[i])));
  }
}

}  // namespace

void AppendSnmprecLine(std::string* pstrOut, std::string_view nameKey, uint8_t tag, std::string_view payload) {
  AppendSnmprecLineOf(pstrOut, NameKeyText(nameKey), tag, payload);
}

void AppendSnmprecLineOf(std::string* pstrOut, std::string_view oidText, uint8_t tag, std::string_view payload) {
  bool bHex = false;
  switch (tag) {
    case c_tagInteger:
    case c_tagNull:
    case c_tagOid:
    case c_tagCounter32:
    case c_tagGauge32:
    case c_tagTimeTicks:
    case c_tagCounter64:
      break;
    case c_tagUInteger32:
      tag = c_tagGauge32;
      break;
    case c_tagOctetString:
      bHex = !IsPlainSnmprecText(payload);
      break;
    case c_tagIpAddress:
    case c_tagOpaque:
      bHex = true;
      break;
    default:
      return;
  }
  pstrOut->append(oidText);
  pstrOut->push_back('|');
  AppendNumber(pstrOut, static_cast<unsigned>(tag));
  if (bHex) {
    pstrOut->append("x|");
    AppendLowerHex(pstrOut, payload);
  } else {
    pstrOut->push_back('|');
    pstrOut->append(payload);
  }
  pstrOut->push_back('\n');
}

void AppendWalkValue(std::string* pstrOut, uint8_t tag, std::string_view payload) {
  switch (tag) {
    case c_tagInteger:
      pstrOut->append("INTEGER: ").append(payload);
      break;
    case c_tagOctetString:
      AppendOctetString(pstrOut, payload);
      break;
    case c_tagNull:
      pstrOut->append("NULL");
      break;
    case c_tagOid:
      pstrOut->append("OID: .").append(payload);
      break;
    case c_tagIpAddress:
      AppendIpAddress(pstrOut, payload);
      break;
    case c_tagCounter32:
      pstrOut->append("Counter32: ").append(payload);
      break;
    case c_tagGauge32:
      pstrOut->append("Gauge32: ").append(payload);
      break;
    case c_tagTimeTicks:
      pstrOut->append(payload);
      break;
    case c_tagOpaque:
      if (!AppendWrappedOpaque(pstrOut, payload)) {
        pstrOut->append("OPAQUE: ");
        AppendHexLines(pstrOut, payload);
      }
      break;
    case c_tagNsapAddress:
      pstrOut->append("NsapAddress: ");
      AppendHexLines(pstrOut, payload);
      break;
    case c_tagCounter64:
      pstrOut->append("Counter64: ").append(payload);
      break;
    case c_tagUInteger32:
      pstrOut->append("UInteger32: ").append(payload);
      break;
    case c_tagNoSuchObject:
      pstrOut->append("No Such Object available on this agent at this OID");
      break;
    case c_tagNoSuchInstance:
      pstrOut->append("No Such Instance currently exists at this OID");
      break;
    case c_tagEndOfMibView:
      pstrOut->append(c_szEndOfMibViewText);
      break;
    default:
      pstrOut->append("Variable has bad type");
      break;
  }
}

void AppendWalkLine(std::string* pstrOut, std::string_view nameKey, uint8_t tag, std::string_view payload) {
  AppendWalkLineOf(pstrOut, NameKeyText(nameKey), tag, payload);
}

void AppendWalkLineOf(std::string* pstrOut, std::string_view oidText, uint8_t tag, std::string_view payload) {
  pstrOut->push_back('.');
  pstrOut->append(oidText);
  pstrOut->append(" = ");
  AppendWalkValue(pstrOut, tag, payload);
  pstrOut->push_back('\n');
}

void AppendWalkEnd(std::string* pstrOut, EWalkEnd end, std::string_view lastNameKey) {
  if (end == EWalkEnd::EndOfMib) {
    pstrOut->append("End of MIB\n");
  } else if (end == EWalkEnd::EndOfMibView && !lastNameKey.empty()) {
    pstrOut->push_back('.');
    pstrOut->append(NameKeyText(lastNameKey));
    pstrOut->append(" = ").append(c_szEndOfMibViewText).push_back('\n');
  }
}

namespace {

// One typed file as it is written: its text so far, flushed in pieces (a
// large walk never has its whole text beside it).
class CTypedFileWriter {
 public:
  explicit CTypedFileWriter(const std::string& strPath) : m_bAsked(!strPath.empty()) {
    if (m_bAsked) m_bOpen = m_file.Open(strPath);
    if (m_bOpen) m_strOut.reserve(c_nFlushBytes + 4096);
  }
  bool Takes() const { return m_bOpen; }
  std::string* Out() { return &m_strOut; }
  void FlushIfFull() {
    if (m_strOut.size() < c_nFlushBytes) return;
    m_file.Write(m_strOut.data(), m_strOut.size());
    m_strOut.clear();
  }
  bool Commit() {
    if (!m_bOpen) return false;
    m_file.Write(m_strOut.data(), m_strOut.size());
    return m_file.Commit();
  }

 private:
  static constexpr size_t c_nFlushBytes = 64 * 1024;
  CAtomicFile m_file;
  std::string m_strOut;
  bool m_bAsked;
  bool m_bOpen = false;
};

}  // namespace

void WriteTypedFiles(const std::string& strSnmprecPath, const std::string& strWalkPath, const CTypedEntries& typed,
                     bool* pbSnmprecWritten, bool* pbWalkWritten) {
  CTypedFileWriter snmprec(strSnmprecPath);
  CTypedFileWriter walk(strWalkPath);
  std::string strOid;
  std::string_view lastNameKey;
  if (snmprec.Takes() || walk.Takes()) {
    typed.ForEach([&](std::string_view nameKey, uint8_t tag, std::string_view payload) {
      lastNameKey = nameKey;
      strOid.clear();
      AppendNameKeyText(&strOid, nameKey);
      if (snmprec.Takes()) {
        AppendSnmprecLineOf(snmprec.Out(), strOid, tag, payload);
        snmprec.FlushIfFull();
      }
      if (walk.Takes()) {
        AppendWalkLineOf(walk.Out(), strOid, tag, payload);
        walk.FlushIfFull();
      }
    });
  }
  if (walk.Takes()) AppendWalkEnd(walk.Out(), typed.WalkEnd(), lastNameKey);
  *pbSnmprecWritten = snmprec.Commit();
  *pbWalkWritten = walk.Commit();
}
