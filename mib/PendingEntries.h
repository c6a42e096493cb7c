// The entries a lane of a walk took ahead of the lanes before it, kept
// until those have stored theirs (the result map's order follows the order
// of storing). A lane far ahead may keep a large part of a device, so the
// entries are packed one after another in blocks: the OID text and the
// value text, each after its length, a mark of a CR text, and the typed
// record (empty unless a typed file is asked for).
//
// Thread use: none; it belongs to its walk.
#ifndef MIBSCAN_MIB_PENDINGENTRIES_H_
#define MIBSCAN_MIB_PENDINGENTRIES_H_

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "util/PackedText.h"

class CPendingEntries {
 public:
  void Add(std::string_view strOid, std::string_view strValue, bool bCrText, std::string_view typedRecord = {}) {
    const size_t nNeeded = PackedSize(strOid) + PackedSize(strValue) + 1 + PackedSize(typedRecord);
    if (m_arrBlocks.empty() || m_arrBlocks.back().capacity() - m_arrBlocks.back().size() < nNeeded) {
      m_arrBlocks.emplace_back().reserve(std::max(c_nBlockBytes, nNeeded));
    }
    std::string& strBlock = m_arrBlocks.back();
    const size_t nStart = strBlock.size();
    strBlock.resize(nStart + nNeeded);
    char* pOut = WritePacked(WritePacked(strBlock.data() + nStart, strOid), strValue);
    *pOut++ = bCrText ? '\1' : '\0';
    WritePacked(pOut, typedRecord);
  }

  // Calls fn(oid, value, bCrText, typedRecord) for every entry, in the
  // order added.
  template <typename F>
  void ForEach(F fn) const {
    for (const std::string& strBlock : m_arrBlocks) {
      for (const char* p = strBlock.data(); p != strBlock.data() + strBlock.size();) {
        const std::string_view strOid = ReadPacked(&p);
        const std::string_view strValue = ReadPacked(&p);
        const bool bCrText = *p++ != '\0';
        fn(strOid, strValue, bCrText, ReadPacked(&p));
      }
    }
  }

  void Clear() { std::vector<std::string>().swap(m_arrBlocks); }

 private:
  static constexpr size_t c_nBlockBytes = 64 * 1024;

  std::vector<std::string> m_arrBlocks;
};

#endif  // MIBSCAN_MIB_PENDINGENTRIES_H_
