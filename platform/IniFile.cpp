#include "platform/IniFile.h"

#include <cstdint>

int ParseProfileInt(std::string_view strValue, int nDefault) {
  if (strValue.empty()) return nDefault;
  size_t nPos = 0;
  while (nPos < strValue.size() && (strValue[nPos] == ' ' || strValue[nPos] == '\t')) ++nPos;
  bool bNegative = false;
  if (nPos < strValue.size() && (strValue[nPos] == '+' || strValue[nPos] == '-')) {
    bNegative = strValue[nPos] == '-';
    ++nPos;
  }
  // Unsigned arithmetic: overflow wraps modulo 2^32 instead of being
  // undefined, which is also what the Windows conversion does.
  uint32_t uValue = 0;
  for (; nPos < strValue.size() && strValue[nPos] >= '0' && strValue[nPos] <= '9'; ++nPos)
    uValue = uValue * 10u + static_cast<uint32_t>(strValue[nPos] - '0');
  if (bNegative) uValue = 0u - uValue;
  return static_cast<int>(uValue);
}
