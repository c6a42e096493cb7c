#include "platform/Utf8Converter.h"

#include <cerrno>
#include <cstdint>

namespace {

constexpr char c_szReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// XML 1.0 section 2.2, production [2] Char.
bool IsXmlChar(uint32_t uCode) {
  return uCode == 0x9 || uCode == 0xA || uCode == 0xD || (uCode >= 0x20 && uCode <= 0xD7FF) ||
         (uCode >= 0xE000 && uCode <= 0xFFFD) || (uCode >= 0x10000 && uCode <= 0x10FFFF);
}

// Decodes one UTF-8 character at text[nPos] (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF). Its length, or 0 when invalid.
size_t DecodeUtf8(std::string_view text, size_t nPos, uint32_t* puCode) {
  const auto byte = [&](size_t n) { return static_cast<uint8_t>(text[nPos + n]); };
  const uint8_t lead = byte(0);
  size_t nLen = 0;
  uint32_t uMin = 0;
  if (lead < 0x80) {
    *puCode = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    nLen = 2, uMin = 0x80, *puCode = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    nLen = 3, uMin = 0x800, *puCode = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    nLen = 4, uMin = 0x10000, *puCode = lead & 0x07;
  } else {
    return 0;
  }
  if (nPos + nLen > text.size()) return 0;
  for (size_t n = 1; n < nLen; ++n) {
    if ((byte(n) & 0xC0) != 0x80) return 0;
    *puCode = (*puCode << 6) | (byte(n) & 0x3F);
  }
  if (*puCode < uMin || *puCode > 0x10FFFF || (*puCode >= 0xD800 && *puCode <= 0xDFFF)) return 0;
  return nLen;
}

// UTF-8 text with every invalid sequence and every character XML forbids
// replaced by U+FFFD.
std::string SanitiseUtf8(std::string_view text) {
  std::string strOut;
  strOut.reserve(text.size());
  for (size_t nPos = 0; nPos < text.size();) {
    uint32_t uCode = 0;
    const size_t nLen = DecodeUtf8(text, nPos, &uCode);
    if (nLen == 0) {
      strOut += c_szReplacement;
      ++nPos;
    } else {
      if (IsXmlChar(uCode)) strOut.append(text.substr(nPos, nLen)); else strOut += c_szReplacement;
      nPos += nLen;
    }
  }
  return strOut;
}

bool IsPlainAscii(std::string_view text) {
  for (char ch : text) {
    const auto byte = static_cast<uint8_t>(ch);
    if (byte >= 0x7F || (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r')) return false;
  }
  return true;
}

}  // namespace

CUtf8Converter::CUtf8Converter(const std::string& strCharset) { Open(strCharset); }

CUtf8Converter::~CUtf8Converter() { Close(); }

bool CUtf8Converter::IsValidText(std::string_view text) {
  if (IsPlainAscii(text)) return true;
  std::string strUtf8;
  if (m_uConverter != 0) {
    if (!Convert(text, /*bStrict=*/true, &strUtf8)) return false;  // not a character of the code set
    text = strUtf8;
  }
  for (size_t nPos = 0; nPos < text.size();) {
    uint32_t uCode = 0;
    const size_t nLen = DecodeUtf8(text, nPos, &uCode);
    if (nLen == 0 || !IsXmlChar(uCode)) return false;
    nPos += nLen;
  }
  return true;
}

size_t CUtf8Converter::CharBoundary(std::string_view text, size_t nMaxBytes) {
  if (text.size() <= nMaxBytes) return text.size();
  if (m_uConverter != 0) return ConvertiblePrefix(text, nMaxBytes);
  // UTF-8: a character never starts with a continuation byte.
  size_t nLen = nMaxBytes;
  while (nLen > 0 && (static_cast<uint8_t>(text[nLen]) & 0xC0) == 0x80) --nLen;
  return nLen;
}

std::string CUtf8Converter::ToUtf8(std::string_view text) {
  if (IsPlainAscii(text)) return std::string(text);  // the common case: numbers, OIDs, names
  if (m_uConverter == 0) return SanitiseUtf8(text);
  std::string strOut;
  (void)Convert(text, /*bStrict=*/false, &strOut);
  // The system writes valid UTF-8, but may pass on characters XML forbids.
  return SanitiseUtf8(strOut);
}
