// The wait of each try of a request, learnt from the agent's round trips
// (config.ini "AdaptiveTimeout=1"): a smoothed round trip and its
// variation, as RFC 6298 keeps them for TCP.
//
// - Until the first sample every try waits the Timeout setting, so a dead
//   agent costs Timeout x (Retry + 1), as without the setting.
// - A sample is the time from a request's only try to its answer (Karn's
//   rule: a request sent more than once gives none, since the answer may
//   be to any of its tries).
// - From the first sample on, a first try waits RTO = SRTT + 4 x RTTVAR,
//   and each re-sent try twice the one before, within the floor and the
//   ceiling.
// - Floor, 20 ms: below that, the scheduling of a loaded collector and an
//   agent's own pauses (a busy CPU, a table being rebuilt) look like loss,
//   and a re-send only adds load. Ceiling, 10 s: no SNMP agent answers
//   later in practice, and a try must end for the walk to.
//
// Thread use: one per session.
#ifndef MIBSCAN_SNMP_ROUNDTRIPTIMER_H_
#define MIBSCAN_SNMP_ROUNDTRIPTIMER_H_

#include <cstdint>

constexpr int c_nMinAdaptiveTimeoutMs = 20;
constexpr int c_nMaxAdaptiveTimeoutMs = 10000;

class CRoundTripTimer {
 public:
  explicit CRoundTripTimer(int nTimeoutMs) : m_nTimeoutMs(nTimeoutMs) {}

  // A round trip of nMicros microseconds, from a request sent once.
  void Sample(int64_t nMicros);
  // The wait of try nTry (0: the first) of a request.
  [[nodiscard]] int TryTimeoutMs(int64_t nTry) const;
  [[nodiscard]] bool HasSample() const { return m_bHasSample; }
  // RTO in milliseconds, within the floor and the ceiling; the Timeout
  // setting before the first sample.
  [[nodiscard]] int RtoMs() const;

 private:
  int m_nTimeoutMs;
  bool m_bHasSample = false;
  double m_dSrttUs = 0;
  double m_dRttvarUs = 0;
};

#endif  // MIBSCAN_SNMP_ROUNDTRIPTIMER_H_
