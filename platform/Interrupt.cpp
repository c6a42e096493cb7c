#include "platform/Interrupt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace {

// Lock-free, so a signal handler may touch them (async-signal-safe).
std::atomic<int> g_nInterruptSignal{0};
std::atomic<int64_t> g_nInterruptMs{0};  // when the first signal came (steady clock); 0: none
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<int64_t>::is_always_lock_free);

// Milliseconds of the steady clock, never 0 (clock_gettime underneath:
// async-signal-safe).
int64_t NowMs() {
  const auto nMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  return std::max<int64_t>(nMs, 1);
}

}  // namespace

bool TakeInterrupt(int nSignal) {
  // The moment first: a second signal that comes right after the first
  // must find it.
  int64_t nNone = 0;
  (void)g_nInterruptMs.compare_exchange_strong(nNone, NowMs());
  int nExpected = 0;
  return g_nInterruptSignal.compare_exchange_strong(nExpected, nSignal);
}

bool IsRepeatedInterrupt() {
  const int64_t nFirstMs = g_nInterruptMs.load();
  return nFirstMs != 0 && NowMs() - nFirstMs >= c_nRepeatedSignalMs;
}

bool IsInterrupted() { return g_nInterruptSignal.load(std::memory_order_relaxed) != 0; }

int InterruptSignal() { return g_nInterruptSignal.load(std::memory_order_relaxed); }

void RequestInterrupt(int nSignal) { (void)TakeInterrupt(nSignal); }

void ClearInterrupt() {
  g_nInterruptSignal.store(0);
  g_nInterruptMs.store(0);
}
