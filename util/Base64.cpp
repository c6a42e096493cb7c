#include "util/Base64.h"

#include <cstdint>

namespace {
constexpr char c_szAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t c_nLineLength = 64;
}  // namespace

std::string Base64Lines(std::string_view bytes) {
  std::string strPlain;
  strPlain.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t nTake = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t uGroup = 0;
    for (size_t n = 0; n < 3; ++n)
      uGroup = (uGroup << 8) | (n < nTake ? static_cast<uint8_t>(bytes[i + n]) : 0u);
    for (size_t n = 0; n < 4; ++n)
      strPlain += n <= nTake ? c_szAlphabet[(uGroup >> (18 - 6 * n)) & 0x3F] : '=';
  }
  std::string strText;
  strText.reserve(strPlain.size() + strPlain.size() / c_nLineLength * 2 + 2);
  for (size_t i = 0; i < strPlain.size(); i += c_nLineLength) {
    strText.append(strPlain, i, c_nLineLength);
    strText += "\r\n";
  }
  return strText;
}
