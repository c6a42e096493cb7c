#include "snmp/RoundTripTimer.h"

#include <algorithm>
#include <cmath>

void CRoundTripTimer::Sample(int64_t nMicros) {
  const double dSample = static_cast<double>(std::max<int64_t>(nMicros, 0));
  m_nBackoffs = 0;
  ++m_uEpoch;
  if (!m_bHasSample) {
    // RFC 6298 2.2.
    m_dSrttUs = dSample;
    m_dRttvarUs = dSample / 2;
    m_bHasSample = true;
    return;
  }
  // RFC 6298 2.3: beta 1/4, alpha 1/8, the variation from the old SRTT.
  m_dRttvarUs = 0.75 * m_dRttvarUs + 0.25 * std::fabs(m_dSrttUs - dSample);
  m_dSrttUs = 0.875 * m_dSrttUs + 0.125 * dSample;
}

int CRoundTripTimer::RtoMs() const {
  if (!m_bHasSample) return m_nTimeoutMs;
  const double dRtoMs = (m_dSrttUs + 4 * m_dRttvarUs) / 1000;
  return static_cast<int>(std::clamp(std::ceil(dRtoMs), static_cast<double>(c_nMinAdaptiveTimeoutMs),
                                     static_cast<double>(c_nMaxAdaptiveTimeoutMs)));
}

int CRoundTripTimer::TryTimeoutMs() const {
  if (!m_bHasSample) return m_nTimeoutMs;
  int64_t nMs = RtoMs();
  for (int i = 0; i < m_nBackoffs && nMs < c_nMaxAdaptiveTimeoutMs; ++i) nMs *= 2;
  return static_cast<int>(std::min<int64_t>(nMs, c_nMaxAdaptiveTimeoutMs));
}

void CRoundTripTimer::TimedOut(uint64_t uEpoch) {
  // Before a sample every try waits the Timeout setting: nothing to back off.
  if (!m_bHasSample || uEpoch != m_uEpoch || TryTimeoutMs() >= c_nMaxAdaptiveTimeoutMs) return;
  ++m_nBackoffs;
  ++m_uEpoch;
}
