#include "platform/Interrupt.h"

#include <atomic>

namespace {

// Lock-free, so a signal handler may touch it (async-signal-safe).
std::atomic<int> g_nInterruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

bool TakeInterrupt(int nSignal) {
  int nExpected = 0;
  return g_nInterruptSignal.compare_exchange_strong(nExpected, nSignal);
}

bool IsInterrupted() { return g_nInterruptSignal.load(std::memory_order_relaxed) != 0; }

int InterruptSignal() { return g_nInterruptSignal.load(std::memory_order_relaxed); }

void RequestInterrupt(int nSignal) { (void)TakeInterrupt(nSignal); }

void ClearInterrupt() { g_nInterruptSignal.store(0); }
