#include "util/TypedEntries.h"

#include <algorithm>
#include <utility>

void AppendSortableName(std::string* pstrKey, const uint32_t* pArcs, size_t nArcs) {
  for (size_t i = 0; i < nArcs; ++i) {
    const uint32_t uArc = pArcs[i];
    if (uArc < 0x80) {
      pstrKey->push_back(static_cast<char>(uArc));
      continue;
    }
    const int nBytes = uArc <= 0xFF ? 1 : uArc <= 0xFFFF ? 2 : uArc <= 0xFFFFFF ? 3 : 4;
    pstrKey->push_back(static_cast<char>(0x80 + nBytes));
    for (int nShift = 8 * (nBytes - 1); nShift >= 0; nShift -= 8)
      pstrKey->push_back(static_cast<char>((uArc >> nShift) & 0xFF));
  }
}

void AppendNameKeyText(std::string* pstrText, std::string_view key) {
  char szArc[16];
  char* const pEnd = szArc + sizeof szArc;
  for (size_t i = 0; i < key.size();) {
    const bool bFirst = i == 0;
    uint32_t uArc = static_cast<uint8_t>(key[i++]);
    if (uArc >= 0x80) {
      const size_t nBytes = uArc - 0x80;
      uArc = 0;
      for (size_t n = 0; n < nBytes && i < key.size(); ++n) uArc = (uArc << 8) | static_cast<uint8_t>(key[i++]);
    }
    char* p = pEnd;
    do {
      *--p = static_cast<char>('0' + uArc % 10);
      uArc /= 10;
    } while (uArc != 0);
    if (!bFirst) *--p = '.';
    pstrText->append(p, pEnd);
  }
}

std::string NameKeyText(std::string_view key) {
  std::string strText;
  AppendNameKeyText(&strText, key);
  return strText;
}

void CTypedEntries::MakeRecord(std::string* pstrRecord, std::string_view nameKey, uint8_t tag,
                               std::string_view payload) {
  pstrRecord->resize(PackedSize(nameKey) + 1 + PackedSize(payload));
  char* p = WritePacked(pstrRecord->data(), nameKey);
  *p++ = static_cast<char>(tag);
  WritePacked(p, payload);
}

void CTypedEntries::AddRecord(std::string_view record) {
  if (m_arrBlocks.empty() || m_arrBlocks.back().capacity() - m_arrBlocks.back().size() < record.size()) {
    m_arrBlocks.emplace_back().reserve(std::max(c_nBlockBytes, record.size()));
  }
  std::string& strBlock = m_arrBlocks.back();
  const size_t nStart = strBlock.size();
  strBlock.append(record);
  m_arrRecords.push_back(strBlock.data() + nStart);
}

void CTypedEntries::Sort() {
  const auto less = [](const char* pA, const char* pB) { return KeyOf(pA) < KeyOf(pB); };
  // A walk stores in name order but for the objects asked for again.
  if (!std::is_sorted(m_arrRecords.begin(), m_arrRecords.end(), less))
    std::stable_sort(m_arrRecords.begin(), m_arrRecords.end(), less);
}

void CTypedEntries::Clear() {
  std::vector<std::string>().swap(m_arrBlocks);
  std::vector<const char*>().swap(m_arrRecords);
  m_walkEnd = EWalkEnd::None;
}

size_t CTypedEntries::HeldBytes() const {
  size_t nBytes = m_arrRecords.capacity() * sizeof(const char*);
  for (const std::string& strBlock : m_arrBlocks) nBytes += strBlock.capacity();
  return nBytes;
}

void CTypedEntries::Swap(CTypedEntries* pOther) noexcept {
  m_arrBlocks.swap(pOther->m_arrBlocks);
  m_arrRecords.swap(pOther->m_arrRecords);
  std::swap(m_walkEnd, pOther->m_walkEnd);
}
