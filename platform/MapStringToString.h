// A map from string to string whose iteration order is that of the
// framework map the result files were first written with, reproduced bit
// for bit: 17 buckets; a key's bucket is its stride hash modulo 17;
// iteration visits buckets 0 to 16 and, inside a bucket, the most recently
// inserted key first. Replacing a value keeps the key's place. Entries are
// never removed.
//
// Lookups go through a separate hash index, so they stay fast however many
// keys share one of the 17 buckets.
//
// Thread use: none; a map belongs to one thread at a time.
#ifndef MIBSCAN_PLATFORM_MAPSTRINGTOSTRING_H_
#define MIBSCAN_PLATFORM_MAPSTRINGTOSTRING_H_

#include <array>
#include <cstdint>
#include <forward_list>
#include <string>
#include <string_view>
#include <unordered_map>

class CMapStringToString {
 public:
  static constexpr size_t c_nBuckets = 17;

  CMapStringToString() = default;
  CMapStringToString(const CMapStringToString&) = delete;
  CMapStringToString& operator=(const CMapStringToString&) = delete;

  // The value stored under strKey, inserted empty when the key is new.
  std::string& operator[](std::string_view strKey);
  // True, with the value in *pstrValue, when strKey is present.
  bool Lookup(std::string_view strKey, std::string* pstrValue) const;
  size_t GetCount() const { return m_index.size(); }
  bool IsEmpty() const { return m_index.empty(); }

  // Calls fn(key, value) for every entry, in the map's iteration order.
  template <typename F>
  void ForEach(F fn) const {
    for (const auto& bucket : m_buckets) {
      for (const CAssoc& assoc : bucket) fn(assoc.strKey, assoc.strValue);
    }
  }

  // The stride hash: from 2166136261, for the characters at 0, s, 2s, ...
  // (s = length / 10 + 1): hash = hash * 16777619 ^ the character taken as
  // a signed 8-bit value widened to 32 bits; all modulo 2^32.
  static uint32_t HashKey(std::string_view strKey);

 private:
  struct CAssoc {
    std::string strKey;
    std::string strValue;
  };
  // Newest at the front; list nodes never move, so the index's views of
  // the keys stay valid, and an empty map allocates nothing (a target
  // costs only what its results need).
  std::array<std::forward_list<CAssoc>, c_nBuckets> m_buckets;
  std::unordered_map<std::string_view, CAssoc*> m_index;
};

#endif  // MIBSCAN_PLATFORM_MAPSTRINGTOSTRING_H_
