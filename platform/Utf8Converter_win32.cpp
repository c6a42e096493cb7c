#include "platform/Utf8Converter.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>

namespace {

struct SCodePageName {
  const char* szName;  // upper case, without "-", "_" and blanks
  UINT uCodePage;
};

// The common names of the code pages agents' text comes in. Names of the
// forms "CP<n>", "WINDOWS<n>", "IBM<n>", "ISO8859<n>" and a bare number
// are read without the table.
constexpr SCodePageName c_aCodePageNames[] = {
    {"UTF8", CP_UTF8},      {"SHIFTJIS", 932},   {"SJIS", 932},       {"MSKANJI", 932},
    {"EUCJP", 20932},       {"ISO2022JP", 50220}, {"GB2312", 936},    {"GBK", 936},
    {"GB18030", 54936},     {"BIG5", 950},       {"EUCKR", 949},      {"KSC56011987", 949},
    {"UHC", 949},           {"KOI8R", 20866},    {"KOI8U", 21866},    {"LATIN1", 28591},
    {"LATIN2", 28592},      {"LATIN9", 28605},   {"USASCII", 20127},  {"ASCII", 20127},
    {"ANSIX3.41968", 20127}, {"UTF16LE", 1200},  {"UTF16BE", 1201},   {"MACINTOSH", 10000},
    {"TIS620", 874},
};

// The code page strCharset names, 0 when it names none this system has.
UINT CodePageOfName(const std::string& strCharset) {
  std::string strKey;
  for (char ch : strCharset) {
    if (ch == '-' || ch == '_' || ch == ' ') continue;
    strKey += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  UINT uCodePage = 0;
  for (const SCodePageName& name : c_aCodePageNames) {
    if (strKey == name.szName) uCodePage = name.uCodePage;
  }
  const auto number = [&](size_t nPrefix) -> UINT {
    const std::string strDigits = strKey.substr(nPrefix);
    if (strDigits.empty() || strDigits.size() > 5 ||
        !std::all_of(strDigits.begin(), strDigits.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
      return 0;
    return static_cast<UINT>(std::strtoul(strDigits.c_str(), nullptr, 10));
  };
  if (uCodePage == 0) uCodePage = number(0);
  if (uCodePage == 0 && strKey.rfind("CP", 0) == 0) uCodePage = number(2);
  if (uCodePage == 0 && strKey.rfind("IBM", 0) == 0) uCodePage = number(3);
  if (uCodePage == 0 && strKey.rfind("WINDOWS", 0) == 0) uCodePage = number(7);
  if (uCodePage == 0 && strKey.rfind("ISO8859", 0) == 0) {
    const UINT uPart = number(7);
    if (uPart >= 1 && uPart <= 16) uCodePage = 28590 + uPart;
  }
  // UTF-16 is no code set of narrow text.
  if (uCodePage == 1200 || uCodePage == 1201) return 0;
  return uCodePage != 0 && (uCodePage == CP_UTF8 || IsValidCodePage(uCodePage)) ? uCodePage : 0;
}

// MultiByteToWideChar refuses the strict flag for some code pages (the
// ISO-2022 and ISCII ones among them): their text is taken as it comes.
int ToWide(UINT uCodePage, bool bStrict, std::string_view text, wchar_t* pOut, int nOut) {
  const int nIn = static_cast<int>(text.size());
  int nLen = MultiByteToWideChar(uCodePage, bStrict ? MB_ERR_INVALID_CHARS : 0, text.data(), nIn, pOut, nOut);
  if (nLen == 0 && bStrict && GetLastError() == ERROR_INVALID_FLAGS)
    nLen = MultiByteToWideChar(uCodePage, 0, text.data(), nIn, pOut, nOut);
  return nLen;
}

// text converted whole to UTF-16; false when a byte sequence in it is no
// character of the code page.
bool ToWideString(UINT uCodePage, std::string_view text, std::wstring* pstrWide) {
  const int nWide = ToWide(uCodePage, true, text, nullptr, 0);
  if (nWide == 0) return false;
  pstrWide->assign(static_cast<size_t>(nWide), L'\0');
  return ToWide(uCodePage, true, text, pstrWide->data(), nWide) == nWide;
}

}  // namespace

void CUtf8Converter::Open(const std::string& strCharset) {
  UINT uCodePage = strCharset.empty() ? 0 : CodePageOfName(strCharset);
  if (uCodePage != 0) {
    m_strCharset = strCharset;
  } else {
    // The code page of the C runtime's locale: the ANSI code page once the
    // program has set the user's locale. The plain C locale has none, and
    // its text is read as UTF-8, as on Linux.
    uCodePage = ___lc_codepage_func();
    if (uCodePage == 0) uCodePage = CP_UTF8;
    m_strCharset = "CP" + std::to_string(uCodePage);
  }
  // UTF-8 only needs checking, not converting.
  if (uCodePage == CP_UTF8) m_strCharset = "UTF-8";
  m_uConverter = uCodePage == CP_UTF8 ? 0 : uCodePage;
}

void CUtf8Converter::Close() { m_uConverter = 0; }

bool CUtf8Converter::Convert(std::string_view text, bool bStrict, std::string* pOut) {
  pOut->clear();
  if (text.empty()) return true;
  if (text.size() > (1u << 28)) return false;  // no value comes near this
  const UINT uCodePage = static_cast<UINT>(m_uConverter);
  std::wstring strWide;
  if (!ToWideString(uCodePage, text, &strWide)) {
    if (bStrict) return false;
    // Character by character: what is not one (a lead byte cut off, a
    // byte the code page lacks) becomes U+FFFD, one byte at a time.
    // Windows itself would map some of them to look-alike characters.
    strWide.clear();
    std::wstring strChar;
    for (size_t nPos = 0; nPos < text.size();) {
      size_t nLen = 1;
      while (nLen <= 4 && nPos + nLen <= text.size() && !ToWideString(uCodePage, text.substr(nPos, nLen), &strChar))
        ++nLen;
      if (nLen > 4 || nPos + nLen > text.size()) {
        strWide += L'\xFFFD';
        ++nPos;
      } else {
        strWide += strChar;
        nPos += nLen;
      }
    }
  }
  // Unpaired surrogates become U+FFFD.
  const int nWide = static_cast<int>(strWide.size());
  const int nUtf8 = WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nWide, nullptr, 0, nullptr, nullptr);
  if (nUtf8 == 0) return false;
  pOut->resize(static_cast<size_t>(nUtf8));
  return WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nWide, pOut->data(), nUtf8, nullptr, nullptr) ==
         nUtf8;
}

size_t CUtf8Converter::ConvertiblePrefix(std::string_view text, size_t nMaxBytes) {
  const UINT uCodePage = static_cast<UINT>(m_uConverter);
  CPINFO info{};
  const UINT uMaxCharSize = GetCPInfo(uCodePage, &info) ? info.MaxCharSize : 0;
  if (uMaxCharSize == 1) return nMaxBytes;
  if (uMaxCharSize == 2) {
    // Double-byte code pages: a lead byte takes the next byte with it.
    size_t nPos = 0;
    while (nPos < nMaxBytes) {
      const size_t nLen = IsDBCSLeadByteEx(uCodePage, static_cast<BYTE>(text[nPos])) ? 2 : 1;
      if (nPos + nLen > nMaxBytes) break;
      nPos += nLen;
    }
    return nPos;
  }
  // Others (GB18030, EUC-JP): the longest start that converts whole; a
  // character is at most four bytes long.
  for (size_t nLen = nMaxBytes; nLen > 0 && nLen + 4 > nMaxBytes; --nLen) {
    if (ToWide(uCodePage, true, text.substr(0, nLen), nullptr, 0) != 0) return nLen;
  }
  return nMaxBytes >= 4 ? nMaxBytes - 4 : 0;
}
