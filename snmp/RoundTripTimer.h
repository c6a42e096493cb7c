// The wait of each try of a request, learnt from the agent's round trips
// (config.ini "AdaptiveTimeout=1"): a smoothed round trip and its
// variation, as RFC 6298 keeps them for TCP.
//
// - Until the first sample every try waits the Timeout setting, so a dead
//   agent costs Timeout x (Retry + 1), as without the setting.
// - A sample is the time from a request's only try to its answer (Karn's
//   rule: a request sent more than once gives none, since the answer may
//   be to any of its tries).
// - From the first sample on, a try waits RTO = SRTT + 4 x RTTVAR, within
//   the floor and the ceiling, doubled for each time-out since the last
//   sample (RFC 6298 5.5 and 5.7): the backed-off wait holds for every
//   request, not only the one re-sent, until an answer to a request sent
//   once gives a sample. Without that, a path slower than the first
//   samples would never be learnt: every slow answer would come to a
//   re-sent request, which gives no sample. With several requests in
//   flight, time-outs of tries that went out before the last backoff (or
//   sample) do not back off again, so a burst of losses doubles the wait
//   once, as a single timer would.
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
  // The wait of a try that goes out now.
  [[nodiscard]] int TryTimeoutMs() const;
  // What a try that goes out now is to report if it times out.
  [[nodiscard]] uint64_t Epoch() const { return m_uEpoch; }
  // A try sent in uEpoch timed out: the wait backs off, once per epoch.
  void TimedOut(uint64_t uEpoch);
  [[nodiscard]] bool HasSample() const { return m_bHasSample; }
  // RTO in milliseconds, within the floor and the ceiling, before any
  // backoff; the Timeout setting before the first sample.
  [[nodiscard]] int RtoMs() const;

 private:
  int m_nTimeoutMs;
  bool m_bHasSample = false;
  int m_nBackoffs = 0;    // time-outs since the last sample, each doubling the wait
  uint64_t m_uEpoch = 0;  // moves on at each sample and each backoff
  double m_dSrttUs = 0;
  double m_dRttvarUs = 0;
};

#endif  // MIBSCAN_SNMP_ROUNDTRIPTIMER_H_
