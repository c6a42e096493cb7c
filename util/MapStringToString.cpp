#include "util/MapStringToString.h"

#include "util/PackedText.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <new>

namespace {

size_t IndexHash(std::string_view strKey) { return std::hash<std::string_view>{}(strKey); }

}  // namespace

uint32_t CMapStringToString::HashKey(std::string_view strKey) {
  uint32_t uHash = 2166136261u;
  const size_t nStride = strKey.size() / 10 + 1;
  for (size_t i = 0; i < strKey.size(); i += nStride) {
    const auto uChar = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(strKey[i])));
    uHash = (uHash * 16777619u) ^ uChar;
  }
  return uHash;
}

std::string_view CMapStringToString::TextAt(const char* pText) {
  return pText == nullptr ? std::string_view() : ReadPacked(&pText);
}

const char* CMapStringToString::StoreText(std::string_view text) {
  if (text.empty()) return nullptr;
  const size_t nNeeded = PackedSize(text);
  if (static_cast<size_t>(m_pEnd - m_pFree) < nNeeded) {
    const size_t nNext = std::min(m_nBlockBytes == 0 ? c_nFirstBlock : m_nBlockBytes * 2, c_nMaxBlock);
    if (nNeeded > nNext) {
      // A long text: a block of its own; the current block stays in use.
      m_arrBlocks.push_back(std::unique_ptr<char[]>(new char[nNeeded]));
      m_nHeldText += nNeeded;
      char* pText = m_arrBlocks.back().get();
      WritePacked(pText, text);
      return pText;
    }
    // Not zeroed: the pages of a large block count only once written.
    m_arrBlocks.push_back(std::unique_ptr<char[]>(new char[nNext]));
    m_nBlockBytes = nNext;
    m_nHeldText += nNext;
    m_pFree = m_arrBlocks.back().get();
    m_pEnd = m_pFree + nNext;
  }
  char* pText = m_pFree;
  WritePacked(pText, text);
  m_pFree += nNeeded;
  return pText;
}

uint32_t CMapStringToString::SegmentOf(uint32_t nEntry, uint32_t* pnPlace) {
  // Segment s starts at entry c_nFirstSegment * (2^s - 1).
  const uint64_t uUnits = uint64_t{nEntry} / c_nFirstSegment + 1;
  const auto nSegment = static_cast<uint32_t>(std::bit_width(uUnits) - 1);
  *pnPlace = static_cast<uint32_t>(nEntry - uint64_t{c_nFirstSegment} * ((uint64_t{1} << nSegment) - 1));
  return nSegment;
}

const CMapStringToString::CEntry& CMapStringToString::EntryAt(uint32_t nEntry) const {
  uint32_t nPlace = 0;
  const uint32_t nSegment = SegmentOf(nEntry, &nPlace);
  return m_arrSegments[nSegment][nPlace];
}

void CMapStringToString::SetValue(uint32_t nEntry, std::string_view strValue) {
  CEntry& entry = EntryAt(nEntry);
  const std::string_view old = TextAt(entry.pValue);
  if (strValue.empty()) {
    entry.pValue = nullptr;
  } else if (!old.empty() && PackedSize(strValue) <= PackedSize(old)) {
    // A value replaced by one no longer: in the old one's place.
    WritePacked(const_cast<char*>(entry.pValue), strValue);
  } else {
    entry.pValue = StoreText(strValue);
  }
}

size_t CMapStringToString::FindSlot(std::string_view strKey, size_t uHash) const {
  const size_t uMask = m_nIndexSlots - 1;
  for (size_t uSlot = uHash & uMask;; uSlot = (uSlot + 1) & uMask) {
    const uint32_t uHeld = m_pIndex[uSlot];
    if (uHeld == 0 || TextAt(EntryAt(uHeld - 1).pKey) == strKey) return uSlot;
  }
}

void CMapStringToString::GrowIndex() {
  const size_t nSlots = m_nIndexSlots == 0 ? 16 : m_nIndexSlots * 2;
  // Made before the old index is let go: should memory run out, the map
  // stays as it was.
  std::unique_ptr<uint32_t[]> pNew(new uint32_t[nSlots]());
  m_pIndex = std::move(pNew);
  m_nIndexSlots = nSlots;
  for (uint32_t nEntry = 0; nEntry < m_nCount; ++nEntry) {
    const std::string_view strKey = TextAt(EntryAt(nEntry).pKey);
    m_pIndex[FindSlot(strKey, IndexHash(strKey))] = nEntry + 1;
  }
}

uint32_t CMapStringToString::FindOrInsert(std::string_view strKey) {
  const size_t uHash = IndexHash(strKey);
  if (m_nIndexSlots != 0) {
    const uint32_t uHeld = m_pIndex[FindSlot(strKey, uHash)];
    if (uHeld != 0) return uHeld - 1;
  }
  if (m_nCount == UINT32_MAX - 1) throw std::bad_alloc();
  if ((m_nCount + size_t{1}) * 4 > m_nIndexSlots * 3) GrowIndex();
  const uint32_t nEntry = m_nCount;
  uint32_t nPlace = 0;
  const uint32_t nSegment = SegmentOf(nEntry, &nPlace);
  if (nSegment == m_arrSegments.size()) {
    // Both or neither: the two lists of segments always match.
    const size_t nEntries = size_t{c_nFirstSegment} << nSegment;
    std::unique_ptr<CEntry[]> pEntries(new CEntry[nEntries]);
    std::unique_ptr<uint8_t[]> pBuckets(new uint8_t[nEntries]);
    m_arrSegments.reserve(nSegment + 1);
    m_arrBucketSegments.reserve(nSegment + 1);
    m_arrSegments.push_back(std::move(pEntries));
    m_arrBucketSegments.push_back(std::move(pBuckets));
  }
  // The key first: should it fail, the entry does not exist.
  m_arrSegments[nSegment][nPlace] = CEntry{StoreText(strKey), nullptr};
  m_arrBucketSegments[nSegment][nPlace] = static_cast<uint8_t>(HashKey(strKey) % c_nBuckets);
  m_pIndex[FindSlot(strKey, uHash)] = nEntry + 1;
  ++m_nCount;
  return nEntry;
}

bool CMapStringToString::Lookup(std::string_view strKey, std::string* pstrValue) const {
  if (m_nIndexSlots == 0) return false;
  const uint32_t uHeld = m_pIndex[FindSlot(strKey, IndexHash(strKey))];
  if (uHeld == 0) return false;
  pstrValue->assign(ValueOf(uHeld - 1));
  return true;
}

void CMapStringToString::RemoveAll() {
  m_nCount = 0;
  std::vector<std::unique_ptr<CEntry[]>>().swap(m_arrSegments);
  std::vector<std::unique_ptr<uint8_t[]>>().swap(m_arrBucketSegments);
  std::vector<std::unique_ptr<char[]>>().swap(m_arrBlocks);
  m_nBlockBytes = 0;
  m_nHeldText = 0;
  m_pFree = m_pEnd = nullptr;
  m_pIndex.reset();
  m_nIndexSlots = 0;
}

size_t CMapStringToString::HeldBytes() const {
  size_t nEntries = 0;
  for (size_t nSegment = 0; nSegment < m_arrSegments.size(); ++nSegment) nEntries += size_t{c_nFirstSegment} << nSegment;
  return m_nHeldText + nEntries * (sizeof(CEntry) + 1) + m_nIndexSlots * sizeof(uint32_t);
}

void CMapStringToString::Swap(CMapStringToString* pOther) noexcept {
  std::swap(m_nCount, pOther->m_nCount);
  m_arrSegments.swap(pOther->m_arrSegments);
  m_arrBucketSegments.swap(pOther->m_arrBucketSegments);
  m_arrBlocks.swap(pOther->m_arrBlocks);
  std::swap(m_nBlockBytes, pOther->m_nBlockBytes);
  std::swap(m_nHeldText, pOther->m_nHeldText);
  std::swap(m_pFree, pOther->m_pFree);
  std::swap(m_pEnd, pOther->m_pEnd);
  m_pIndex.swap(pOther->m_pIndex);
  std::swap(m_nIndexSlots, pOther->m_nIndexSlots);
}
