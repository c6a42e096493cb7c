#include "platform/Interrupt.h"

#include <signal.h>

#include <atomic>

namespace {

// Lock-free, so the handler may touch it (async-signal-safe).
std::atomic<int> g_nInterruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int nSignal) {
  int nExpected = 0;
  if (g_nInterruptSignal.compare_exchange_strong(nExpected, nSignal)) return;
  // The second signal: the default action, which ends the process.
  signal(nSignal, SIG_DFL);
  raise(nSignal);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Calls in progress are restarted: the sessions see the flag when their
  // current wait ends, within one time-out.
  action.sa_flags = SA_RESTART;
  for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) sigaction(nSignal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

bool IsInterrupted() { return g_nInterruptSignal.load(std::memory_order_relaxed) != 0; }

int InterruptSignal() { return g_nInterruptSignal.load(std::memory_order_relaxed); }

void RequestInterrupt(int nSignal) {
  int nExpected = 0;
  g_nInterruptSignal.compare_exchange_strong(nExpected, nSignal);
}

void ClearInterrupt() { g_nInterruptSignal.store(0); }
