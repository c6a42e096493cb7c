// Texts packed one after another in a buffer, each after its length: 7
// bits per byte, low bits first, the top bit set on every byte but the
// last. Short texts (OIDs, numbers) cost one byte beyond their own.
#ifndef MIBSCAN_UTIL_PACKEDTEXT_H_
#define MIBSCAN_UTIL_PACKEDTEXT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// The bytes of the length of a text of nLength bytes.
inline size_t PackedLengthBytes(size_t nLength) {
  size_t nBytes = 1;
  for (; nLength >= 0x80; nLength >>= 7) ++nBytes;
  return nBytes;
}

// Bytes that text takes packed.
inline size_t PackedSize(std::string_view text) { return PackedLengthBytes(text.size()) + text.size(); }

// Writes text packed at pOut (PackedSize(text) bytes); the end of it.
// text may lie where it is written (a text written over itself stays whole).
inline char* WritePacked(char* pOut, std::string_view text) {
  size_t nLength = text.size();
  for (; nLength >= 0x80; nLength >>= 7) *pOut++ = static_cast<char>(0x80 | (nLength & 0x7F));
  *pOut++ = static_cast<char>(nLength);
  std::memmove(pOut, text.data(), text.size());
  return pOut + text.size();
}

// The text packed at *pp; *pp moves past it.
inline std::string_view ReadPacked(const char** pp) {
  size_t nLength = 0;
  int nShift = 0;
  uint8_t byte = 0;
  do {
    byte = static_cast<uint8_t>(*(*pp)++);
    nLength |= static_cast<size_t>(byte & 0x7F) << nShift;
    nShift += 7;
  } while ((byte & 0x80) != 0);
  const std::string_view text(*pp, nLength);
  *pp += nLength;
  return text;
}

#endif  // MIBSCAN_UTIL_PACKEDTEXT_H_
