// The round trips of a target's requests, in a fixed histogram: exact
// least and greatest, and quantiles within one bucket, 8 buckets to each
// doubling (about 9 % wide) from 1 µs to over two minutes. Its size does
// not grow with the requests, so a walk of a million requests costs what
// a walk of one does.
//
// Thread use: none.
#ifndef MIBSCAN_UTIL_ROUNDTRIPS_H_
#define MIBSCAN_UTIL_ROUNDTRIPS_H_

#include <array>
#include <cstdint>

class CRoundTrips {
 public:
  static constexpr int c_nPerDoubling = 8;
  static constexpr int c_nBuckets = 28 * c_nPerDoubling;  // up to 2^28 µs

  // One round trip of nMicros microseconds (below 1 counts as 1).
  void Add(int64_t nMicros);
  // Adds every round trip of other.
  void Merge(const CRoundTrips& other);

  [[nodiscard]] uint64_t Count() const { return m_nCount; }
  // 0 when there is none.
  [[nodiscard]] int64_t Min() const { return m_nCount != 0 ? m_nMin : 0; }
  [[nodiscard]] int64_t Max() const { return m_nMax; }
  // The round trip below which a fraction dQuantile (0 to 1) of them lie:
  // the middle of the bucket that holds it, kept within [Min, Max]; 0 when
  // there is none.
  [[nodiscard]] int64_t Quantile(double dQuantile) const;

 private:
  std::array<uint32_t, c_nBuckets> m_arrBuckets{};
  uint64_t m_nCount = 0;
  int64_t m_nMin = 0;
  int64_t m_nMax = 0;
};

#endif  // MIBSCAN_UTIL_ROUNDTRIPS_H_
