#include "util/MbString.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <cwctype>

namespace {

bool IsWhiteSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// The upper-case code of the character of nLen bytes at str[nPos]: its
// bytes, after case mapping, read as one big-endian unsigned number.
uint64_t UpperCharCode(std::string_view str, size_t nPos, size_t nLen) {
  if (nLen == 1) return static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(str[nPos])));
  char szBytes[MB_LEN_MAX];
  std::string_view chBytes = str.substr(nPos, nLen);
  std::mbstate_t state{};
  wchar_t wc = 0;
  if (std::mbrtowc(&wc, chBytes.data(), chBytes.size(), &state) == nLen) {
    std::mbstate_t outState{};
    const size_t nOut = std::wcrtomb(szBytes, static_cast<wchar_t>(std::towupper(wc)), &outState);
    if (nOut != static_cast<size_t>(-1)) chBytes = std::string_view(szBytes, nOut);
  }
  uint64_t uCode = 0;
  for (char ch : chBytes.substr(0, 8)) uCode = (uCode << 8) | static_cast<unsigned char>(ch);
  return uCode;
}

}  // namespace

char AsciiLower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }

size_t MbCharLen(std::string_view str, size_t nPos) {
  std::mbstate_t state{};
  const size_t nLen = std::mbrlen(str.data() + nPos, str.size() - nPos, &state);
  // (size_t)-1 is an invalid sequence, (size_t)-2 a character cut off by the
  // end of the string and 0 an embedded NUL: each is taken as one byte, so
  // every walk advances and ends.
  if (nLen == static_cast<size_t>(-1) || nLen == static_cast<size_t>(-2) || nLen == 0) return 1;
  return nLen;
}

size_t MbFind(std::string_view str, char ch, size_t nStart) {
  for (size_t nPos = nStart; nPos < str.size(); nPos += MbCharLen(str, nPos)) {
    if (str[nPos] == ch && MbCharLen(str, nPos) == 1) return nPos;
  }
  return std::string_view::npos;
}

size_t MbReverseFind(std::string_view str, char ch) {
  // A multibyte string can only be read forwards: a lead byte is not known
  // to be one until the walk reaches it from a character boundary.
  size_t nFound = std::string_view::npos;
  for (size_t nPos = 0; nPos < str.size(); nPos += MbCharLen(str, nPos)) {
    if (str[nPos] == ch && MbCharLen(str, nPos) == 1) nFound = nPos;
  }
  return nFound;
}

std::string MbTrim(std::string_view str) {
  // Leading white space bytes start at a character boundary, so they are
  // single-byte characters by construction.
  size_t nBegin = 0;
  while (nBegin < str.size() && IsWhiteSpace(str[nBegin])) ++nBegin;
  size_t nEnd = nBegin;  // end of the last character that is not white space
  for (size_t nPos = nBegin; nPos < str.size();) {
    const size_t nLen = MbCharLen(str, nPos);
    if (nLen > 1 || !IsWhiteSpace(str[nPos])) nEnd = nPos + nLen;
    nPos += nLen;
  }
  return std::string(str.substr(nBegin, nEnd - nBegin));
}

std::string MbTruncate(std::string_view str, size_t nMaxBytes) {
  if (str.size() <= nMaxBytes) return std::string(str);
  size_t nEnd = 0;
  for (size_t nPos = 0; nPos < str.size();) {
    const size_t nLen = MbCharLen(str, nPos);
    if (nPos + nLen > nMaxBytes) break;
    nPos += nLen;
    nEnd = nPos;
  }
  return std::string(str.substr(0, nEnd));
}

int CompareNoCaseMb(std::string_view a, std::string_view b) {
  size_t nA = 0;
  size_t nB = 0;
  while (nA < a.size() && nB < b.size()) {
    const size_t nLenA = MbCharLen(a, nA);
    const size_t nLenB = MbCharLen(b, nB);
    const uint64_t uA = UpperCharCode(a, nA, nLenA);
    const uint64_t uB = UpperCharCode(b, nB, nLenB);
    if (uA != uB) return uA < uB ? -1 : 1;
    nA += nLenA;
    nB += nLenB;
  }
  if (nA < a.size()) return 1;
  return nB < b.size() ? -1 : 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}
