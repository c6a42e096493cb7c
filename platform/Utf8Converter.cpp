#include "platform/Utf8Converter.h"

#include <langinfo.h>

#include <cerrno>
#include <cstdint>

namespace {

constexpr char c_szReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
const iconv_t c_invalidCd = reinterpret_cast<iconv_t>(-1);

bool IsUtf8Name(std::string_view strName) {
  return strName == "UTF-8" || strName == "utf-8" || strName == "UTF8" || strName == "utf8";
}

// The names glibc gives the code set of the C and POSIX locales.
bool IsAsciiName(std::string_view strName) {
  return strName == "ANSI_X3.4-1968" || strName == "ASCII" || strName == "US-ASCII";
}

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

CUtf8Converter::CUtf8Converter(const std::string& strCharset) {
  if (!strCharset.empty()) {
    m_cd = iconv_open("UTF-8", strCharset.c_str());
    if (m_cd != c_invalidCd) m_strCharset = strCharset;
  }
  if (m_strCharset.empty()) {
    m_strCharset = nl_langinfo(CODESET);
    if (IsAsciiName(m_strCharset)) m_strCharset = "UTF-8";
    if (!IsUtf8Name(m_strCharset)) m_cd = iconv_open("UTF-8", m_strCharset.c_str());
  }
  // Text that is UTF-8 already only needs checking, not iconv.
  if (IsUtf8Name(m_strCharset) && m_cd != c_invalidCd) {
    iconv_close(m_cd);
    m_cd = c_invalidCd;
  }
}

CUtf8Converter::~CUtf8Converter() {
  if (m_cd != c_invalidCd) iconv_close(m_cd);
}

bool CUtf8Converter::IsValidText(std::string_view text) {
  if (IsPlainAscii(text)) return true;
  std::string strUtf8;
  if (m_cd != c_invalidCd) {
    strUtf8.resize(text.size() * 4 + 16);
    char* pIn = const_cast<char*>(text.data());
    size_t nInLeft = text.size();
    size_t nDone = 0;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    while (true) {
      char* pOut = strUtf8.data() + nDone;
      size_t nOutLeft = strUtf8.size() - nDone;
      // The input, then the closing of a stateful code set's shift state.
      const bool bFlush = nInLeft == 0;
      const size_t nResult = bFlush ? iconv(m_cd, nullptr, nullptr, &pOut, &nOutLeft)
                                    : iconv(m_cd, &pIn, &nInLeft, &pOut, &nOutLeft);
      nDone = strUtf8.size() - nOutLeft;
      if (nResult != static_cast<size_t>(-1)) {
        if (bFlush) break;
        continue;
      }
      if (errno != E2BIG) return false;  // not a character of the code set
      strUtf8.resize(strUtf8.size() * 2);
    }
    strUtf8.resize(nDone);
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
  if (m_cd == c_invalidCd) {
    // UTF-8: a character never starts with a continuation byte.
    size_t nLen = nMaxBytes;
    while (nLen > 0 && (static_cast<uint8_t>(text[nLen]) & 0xC0) == 0x80) --nLen;
    return nLen;
  }
  // iconv stops before a character that the cut left incomplete.
  std::string strOut(nMaxBytes * 4 + 16, '\0');
  char* pIn = const_cast<char*>(text.data());
  size_t nInLeft = nMaxBytes;
  char* pOut = strOut.data();
  size_t nOutLeft = strOut.size();
  iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
  (void)iconv(m_cd, &pIn, &nInLeft, &pOut, &nOutLeft);
  return static_cast<size_t>(pIn - text.data());
}

std::string CUtf8Converter::ToUtf8(std::string_view text) {
  if (IsPlainAscii(text)) return std::string(text);  // the common case: numbers, OIDs, names
  if (m_cd == c_invalidCd) return SanitiseUtf8(text);

  std::string strOut(text.size() * 4 + 16, '\0');
  char* pIn = const_cast<char*>(text.data());
  size_t nInLeft = text.size();
  size_t nDone = 0;
  iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  while (nInLeft > 0) {
    char* pOut = strOut.data() + nDone;
    size_t nOutLeft = strOut.size() - nDone;
    const size_t nResult = iconv(m_cd, &pIn, &nInLeft, &pOut, &nOutLeft);
    nDone = strOut.size() - nOutLeft;
    if (nResult != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      strOut.resize(strOut.size() * 2);
      continue;
    }
    // EILSEQ (not a character) or EINVAL (cut off at the end): one byte
    // becomes U+FFFD and the conversion goes on after it.
    if (strOut.size() - nDone < sizeof c_szReplacement) strOut.resize(strOut.size() * 2);
    strOut.replace(nDone, sizeof c_szReplacement - 1, c_szReplacement);
    nDone += sizeof c_szReplacement - 1;
    ++pIn;
    --nInLeft;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Close a stateful code set's shift sequence.
  while (true) {
    char* pOut = strOut.data() + nDone;
    size_t nOutLeft = strOut.size() - nDone;
    if (iconv(m_cd, nullptr, nullptr, &pOut, &nOutLeft) != static_cast<size_t>(-1) || errno != E2BIG) {
      nDone = strOut.size() - nOutLeft;
      break;
    }
    strOut.resize(strOut.size() * 2);
  }
  strOut.resize(nDone);
  // iconv writes valid UTF-8, but may pass on characters XML forbids.
  return SanitiseUtf8(strOut);
}
