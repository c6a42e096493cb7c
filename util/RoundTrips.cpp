#include "util/RoundTrips.h"

#include <algorithm>
#include <cmath>

namespace {

int BucketOf(int64_t nMicros) {
  const double dIndex = std::log2(static_cast<double>(nMicros)) * CRoundTrips::c_nPerDoubling;
  return std::clamp(static_cast<int>(dIndex), 0, CRoundTrips::c_nBuckets - 1);
}

// The middle of bucket nIndex, in microseconds (geometrically).
double BucketMiddle(int nIndex) {
  return std::exp2((nIndex + 0.5) / CRoundTrips::c_nPerDoubling);
}

}  // namespace

void CRoundTrips::Add(int64_t nMicros) {
  nMicros = std::max<int64_t>(nMicros, 1);
  ++m_arrBuckets[static_cast<size_t>(BucketOf(nMicros))];
  m_nMin = m_nCount == 0 ? nMicros : std::min(m_nMin, nMicros);
  m_nMax = std::max(m_nMax, nMicros);
  ++m_nCount;
}

void CRoundTrips::Merge(const CRoundTrips& other) {
  if (other.m_nCount == 0) return;
  for (size_t i = 0; i < m_arrBuckets.size(); ++i) m_arrBuckets[i] += other.m_arrBuckets[i];
  m_nMin = m_nCount == 0 ? other.m_nMin : std::min(m_nMin, other.m_nMin);
  m_nMax = std::max(m_nMax, other.m_nMax);
  m_nCount += other.m_nCount;
}

int64_t CRoundTrips::Quantile(double dQuantile) const {
  if (m_nCount == 0) return 0;
  // The rank of the round trip asked for, from 1.
  const uint64_t nRank = std::clamp<uint64_t>(
      static_cast<uint64_t>(std::ceil(std::clamp(dQuantile, 0.0, 1.0) * static_cast<double>(m_nCount))), 1,
      m_nCount);
  if (nRank == 1) return m_nMin;
  if (nRank == m_nCount) return m_nMax;
  uint64_t nSeen = 0;
  for (int i = 0; i < c_nBuckets; ++i) {
    nSeen += m_arrBuckets[static_cast<size_t>(i)];
    // The last bucket holds everything beyond it: no middle to give.
    if (nSeen >= nRank && i == c_nBuckets - 1) return m_nMax;
    if (nSeen >= nRank) return std::clamp(static_cast<int64_t>(std::llround(BucketMiddle(i))), m_nMin, m_nMax);
  }
  return m_nMax;
}
