#include "snmp/RoundTripTimer.h"

#include <algorithm>
#include <cmath>

void CRoundTripTimer::Sample(int64_t nMicros) {
  const double dSample = static_cast<double>(std::max<int64_t>(nMicros, 0));
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

int CRoundTripTimer::TryTimeoutMs(int64_t nTry) const {
  if (!m_bHasSample) return m_nTimeoutMs;
  // RFC 6298 5.5: each re-send doubles the wait.
  int64_t nMs = RtoMs();
  for (int64_t i = 0; i < nTry && nMs < c_nMaxAdaptiveTimeoutMs; ++i) nMs *= 2;
  return static_cast<int>(std::min<int64_t>(nMs, c_nMaxAdaptiveTimeoutMs));
}
