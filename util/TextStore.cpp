#include "util/TextStore.h"

#include <algorithm>
#include <cstring>

std::string_view CTextStore::Add(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > m_nLeft) {
    // A text longer than a block gets a block of its size.
    const size_t nSize = std::max(c_nBlock, text.size());
    m_arrBlocks.reserve(m_arrBlocks.size() + 1);
    m_arrBlocks.push_back(std::make_unique_for_overwrite<char[]>(nSize));
    m_pFree = m_arrBlocks.back().get();
    m_nLeft = nSize;
    m_nCapacity += nSize;
  }
  char* pText = m_pFree;
  std::memcpy(pText, text.data(), text.size());
  m_pFree += text.size();
  m_nLeft -= text.size();
  return {pText, text.size()};
}
