// A map from string to string whose iteration order is that of the
// framework map the result files were first written with, reproduced bit
// for bit: 17 buckets; a key's bucket is its stride hash modulo 17;
// iteration visits buckets 0 to 16 and, inside a bucket, the most recently
// inserted key first. Replacing a value keeps the key's place.
//
// A device may answer millions of objects, so an entry costs little more
// than its two texts: the texts are packed, each after its length, in
// blocks of a text arena; an entry is two pointers into it and its bucket
// number, kept in segments that double in size and never move; lookups go
// through an open-addressing index of entry numbers. Nothing is allocated
// before the first entry, and nothing is copied as the map grows (no
// moment holds an old and a new copy of the entries). RemoveAll() frees
// everything at once; single entries are never removed.
//
// Thread use: none; a map belongs to one thread at a time.
#ifndef MIBSCAN_UTIL_MAPSTRINGTOSTRING_H_
#define MIBSCAN_UTIL_MAPSTRINGTOSTRING_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CMapStringToString {
 public:
  static constexpr size_t c_nBuckets = 17;

  // The value of one entry, as operator[] hands it out: assigning to it
  // replaces the value.
  class CValueRef {
   public:
    CValueRef& operator=(std::string_view strValue) {
      m_pMap->SetValue(m_nEntry, strValue);
      return *this;
    }
    operator std::string() const { return std::string(m_pMap->ValueOf(m_nEntry)); }

   private:
    friend class CMapStringToString;
    CValueRef(CMapStringToString* pMap, uint32_t nEntry) : m_pMap(pMap), m_nEntry(nEntry) {}
    CMapStringToString* m_pMap;
    uint32_t m_nEntry;
  };

  CMapStringToString() = default;
  ~CMapStringToString() = default;
  CMapStringToString(const CMapStringToString&) = delete;
  CMapStringToString& operator=(const CMapStringToString&) = delete;
  // A move takes the entries and leaves the other map empty.
  CMapStringToString(CMapStringToString&& other) noexcept { Swap(&other); }
  CMapStringToString& operator=(CMapStringToString&& other) noexcept {
    CMapStringToString taken(std::move(other));
    Swap(&taken);
    return *this;
  }

  // The value stored under strKey, inserted empty when the key is new.
  CValueRef operator[](std::string_view strKey) { return CValueRef(this, FindOrInsert(strKey)); }
  // Stores strValue under strKey: a new entry, or the key's value replaced.
  void SetAt(std::string_view strKey, std::string_view strValue) { SetValue(FindOrInsert(strKey), strValue); }
  // True, with the value in *pstrValue, when strKey is present.
  bool Lookup(std::string_view strKey, std::string* pstrValue) const;
  size_t GetCount() const { return m_nCount; }
  bool IsEmpty() const { return m_nCount == 0; }
  // Frees every entry; the map is then as a new one.
  void RemoveAll();

  // Calls fn(key, value) for every entry, in the map's iteration order.
  // The two strings are the map's scratch copies, valid during the call.
  template <typename F>
  void ForEach(F fn) const {
    std::string strKey;
    std::string strValue;
    for (uint8_t uBucket = 0; uBucket < c_nBuckets; ++uBucket) {
      // Newest first: the segments from the last, each from its end.
      for (size_t nSegment = m_arrSegments.size(); nSegment-- > 0;) {
        const size_t nFirst = size_t{c_nFirstSegment} * ((size_t{1} << nSegment) - 1);
        const size_t nHeld = std::min<size_t>(m_nCount - nFirst, size_t{c_nFirstSegment} << nSegment);
        const uint8_t* pBuckets = m_arrBucketSegments[nSegment].get();
        const CEntry* pEntries = m_arrSegments[nSegment].get();
        for (size_t nPlace = nHeld; nPlace-- > 0;) {
          if (pBuckets[nPlace] != uBucket) continue;
          strKey.assign(TextAt(pEntries[nPlace].pKey));
          strValue.assign(TextAt(pEntries[nPlace].pValue));
          fn(static_cast<const std::string&>(strKey), static_cast<const std::string&>(strValue));
        }
      }
    }
  }

  // The stride hash: from 2166136261, for the characters at 0, s, 2s, ...
  // (s = length / 10 + 1): hash = hash * 16777619 ^ the character taken as
  // a signed 8-bit value widened to 32 bits; all modulo 2^32.
  static uint32_t HashKey(std::string_view strKey);

  // Bytes held by the map (blocks, segments and index), for the memory
  // figures of tests and benchmarks.
  size_t HeldBytes() const;

 private:
  // Each text is in the arena, packed (PackedText.h); null stands for
  // an empty one.
  struct CEntry {
    const char* pKey;
    const char* pValue;
  };
  static std::string_view TextAt(const char* pText);
  // The text's bytes copied into the arena behind their length.
  const char* StoreText(std::string_view text);

  // Segment and place in it of an entry number.
  static uint32_t SegmentOf(uint32_t nEntry, uint32_t* pnPlace);
  const CEntry& EntryAt(uint32_t nEntry) const;
  CEntry& EntryAt(uint32_t nEntry) { return const_cast<CEntry&>(std::as_const(*this).EntryAt(nEntry)); }
  std::string_view ValueOf(uint32_t nEntry) const { return TextAt(EntryAt(nEntry).pValue); }
  void SetValue(uint32_t nEntry, std::string_view strValue);
  // The entry number of strKey, appended with an empty value when new.
  uint32_t FindOrInsert(std::string_view strKey);
  // The index slot that holds strKey's entry, or the empty slot where it
  // would go.
  size_t FindSlot(std::string_view strKey, size_t uHash) const;
  void GrowIndex();
  void Swap(CMapStringToString* pOther) noexcept;

  uint32_t m_nCount = 0;
  // Segment s holds c_nFirstSegment << s entries.
  static constexpr uint32_t c_nFirstSegment = 16;
  std::vector<std::unique_ptr<CEntry[]>> m_arrSegments;
  std::vector<std::unique_ptr<uint8_t[]>> m_arrBucketSegments;
  // Text blocks: each new one twice the last, up to c_nMaxBlock; a text
  // longer than that gets a block of its own.
  static constexpr size_t c_nFirstBlock = 512;
  static constexpr size_t c_nMaxBlock = size_t{1} << 20;
  std::vector<std::unique_ptr<char[]>> m_arrBlocks;
  size_t m_nBlockBytes = 0;   // size of the last regular block
  size_t m_nHeldText = 0;     // bytes of every block
  char* m_pFree = nullptr;    // the free part of the current block
  char* m_pEnd = nullptr;
  // Entry number + 1 per slot, 0 when free; a power of two of slots, at
  // most three quarters used.
  std::unique_ptr<uint32_t[]> m_pIndex;
  size_t m_nIndexSlots = 0;
};

#endif  // MIBSCAN_UTIL_MAPSTRINGTOSTRING_H_
