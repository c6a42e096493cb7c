#include "platform/Interrupt.h"

#include <signal.h>

#include <initializer_list>

namespace {

void OnInterrupt(int nSignal) {
  if (TakeInterrupt(nSignal)) return;
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
