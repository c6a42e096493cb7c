// What a scan has done so far: counted by the workers as targets start
// and end, shown while it runs as a status line (a terminal) or a line
// every few seconds (--progress), and summed up at its end on standard
// error; and the exit status --strict gives.
#ifndef MIBSCAN_DRIVER_PROGRESS_H_
#define MIBSCAN_DRIVER_PROGRESS_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Thread.h"

// Failed targets the summary names; it says how many more there are.
constexpr size_t c_nSummaryFailures = 20;

// The code of a target that got no worker thread ("thread error").
constexpr uint32_t c_uNoThread = UINT32_MAX;

// A count with thousands separators: 12,340.
[[nodiscard]] std::string GroupedCount(uint64_t nCount);
// A count in three figures: 980, 41k, 1.24M.
[[nodiscard]] std::string ShortCount(double dCount);
// A duration: 12s, 2m10s, 1h02m.
[[nodiscard]] std::string ShortDuration(double dSeconds);
// The reason a target failed, in words, with its code: "no answer (40)".
[[nodiscard]] std::string FailureReason(uint32_t uCode, bool bFileWritten);

class CScanTally {
 public:
  // A new scan of nTargets targets.
  void Begin(size_t nTargets);
  // A target's worker started.
  void Started() { m_nStarted.fetch_add(1, std::memory_order_relaxed); }
  // A target's end: the code of its first walk that failed (0 when none
  // did), and whether its result file was written. Never throws.
  void Ended(const std::string& strTarget, uint32_t uCode, bool bFileWritten);
  // The objects every target's walks stored so far; the walks count them.
  std::atomic<uint64_t>& StoredObjects() { return m_nObjects; }

  // "12,340/50,000 targets, 980 running, 35 failed, 1.24M objects, 41k
  // objects/s, ETA 2m10s", dSeconds into the scan, nObjects stored.
  [[nodiscard]] std::string StatusLine(double dSeconds, uint64_t nObjects) const;
  // The summary: its first line, then the failed targets (up to
  // c_nSummaryFailures) with their reason.
  [[nodiscard]] std::vector<std::string> SummaryLines(double dSeconds, uint64_t nObjects) const;
  // --strict: 0 when every target answered and its file was written, 4
  // when none answered, 3 otherwise.
  [[nodiscard]] int StrictStatus() const;

 private:
  std::atomic<uint64_t> m_nTargets{0};
  std::atomic<uint64_t> m_nStarted{0};
  std::atomic<uint64_t> m_nEnded{0};
  std::atomic<uint64_t> m_nAnswered{0};
  std::atomic<uint64_t> m_nNoAnswer{0};
  std::atomic<uint64_t> m_nFailed{0};
  std::atomic<uint64_t> m_nWritten{0};
  std::atomic<uint64_t> m_nObjects{0};
  mutable std::mutex m_mutex;
  std::vector<std::string> m_arrFailures;  // "<target>: <reason>", the first ones
};

// The tally of the scan this process runs.
CScanTally& ScanTally();

// Shows the scan's progress on standard error while it lives, from its
// own thread: on a terminal a status line redrawn five times a second,
// otherwise a line every 5 seconds; at its end the status line is taken
// away and the summary written. When the system refuses the thread there
// is no status line, and the summary is still written.
class CProgress {
 public:
  explicit CProgress(bool bTerminal);
  ~CProgress();
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;

 private:
  static unsigned ThreadProc(void* pThis);
  void Run();
  double Seconds() const;

  const bool m_bTerminal;
  const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_bStop = false;
  CThread m_thread{ThreadProc, this};
};

#endif  // MIBSCAN_DRIVER_PROGRESS_H_
