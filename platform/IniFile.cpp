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
  // Windows reads the number in base 0 (RtlUnicodeStringToInteger): "0x"
  // hexadecimal, "0o" octal, "0b" binary, the prefixes in lower case only.
  uint32_t uBase = 10;
  if (nPos + 1 < strValue.size() && strValue[nPos] == '0') {
    const char chPrefix = strValue[nPos + 1];
    uBase = chPrefix == 'x' ? 16 : chPrefix == 'o' ? 8 : chPrefix == 'b' ? 2 : 10;
    if (uBase != 10) nPos += 2;
  }
  // Unsigned arithmetic: overflow wraps modulo 2^32 instead of being
  // undefined, which is also what the Windows conversion does.
  uint32_t uValue = 0;
  for (; nPos < strValue.size(); ++nPos) {
    const char ch = strValue[nPos];
    const uint32_t uDigit = ch >= '0' && ch <= '9'   ? static_cast<uint32_t>(ch - '0')
                            : ch >= 'a' && ch <= 'z' ? static_cast<uint32_t>(ch - 'a' + 10)
                            : ch >= 'A' && ch <= 'Z' ? static_cast<uint32_t>(ch - 'A' + 10)
                                                     : 36;
    if (uDigit >= uBase) break;
    uValue = uValue * uBase + uDigit;
  }
  if (bNegative) uValue = 0u - uValue;
  return static_cast<int>(uValue);
}
