// The entries a lane of a walk took ahead of the lanes before it, kept
// until those have stored theirs (the result map's order follows the order
// of storing). A lane far ahead may keep a large part of a device, so the
// entries are packed one after another in blocks: the OID text and the
// value text, each after its length, and a mark of a CR text.
//
// Thread use: none; it belongs to its walk.
#ifndef MIBSCAN_MIB_PENDINGENTRIES_H_
#define MIBSCAN_MIB_PENDINGENTRIES_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CPendingEntries {
 public:
  void Add(std::string_view strOid, std::string_view strValue, bool bCrText) {
    const size_t nNeeded = 2 * c_nMaxLengthBytes + strOid.size() + strValue.size() + 1;
    if (m_arrBlocks.empty() || m_arrBlocks.back().capacity() - m_arrBlocks.back().size() < nNeeded) {
      m_arrBlocks.emplace_back().reserve(std::max(c_nBlockBytes, nNeeded));
    }
    std::string& strBlock = m_arrBlocks.back();
    AppendText(&strBlock, strOid);
    AppendText(&strBlock, strValue);
    strBlock += bCrText ? '\1' : '\0';
  }

  // Calls fn(oid, value, bCrText) for every entry, in the order added.
  template <typename F>
  void ForEach(F fn) const {
    for (const std::string& strBlock : m_arrBlocks) {
      for (const char* p = strBlock.data(); p != strBlock.data() + strBlock.size();) {
        const std::string_view strOid = ReadText(&p);
        const std::string_view strValue = ReadText(&p);
        fn(strOid, strValue, *p++ != '\0');
      }
    }
  }

  void Clear() { std::vector<std::string>().swap(m_arrBlocks); }

 private:
  static constexpr size_t c_nBlockBytes = 64 * 1024;
  static constexpr size_t c_nMaxLengthBytes = 10;  // of a 64-bit length, 7 bits per byte

  static void AppendText(std::string* pstrBlock, std::string_view text) {
    size_t nLength = text.size();
    while (nLength >= 0x80) {
      *pstrBlock += static_cast<char>(0x80 | (nLength & 0x7F));
      nLength >>= 7;
    }
    *pstrBlock += static_cast<char>(nLength);
    pstrBlock->append(text);
  }
  static std::string_view ReadText(const char** pp) {
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

  std::vector<std::string> m_arrBlocks;
};

#endif  // MIBSCAN_MIB_PENDINGENTRIES_H_
