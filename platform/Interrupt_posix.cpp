#include "platform/Interrupt.h"

#include <signal.h>

#include <cerrno>
#include <initializer_list>

#include "platform/AtomicFile.h"

namespace {

void OnInterrupt(int nSignal) {
  // The first signal, and those that come with it, interrupt in order.
  if (TakeInterrupt(nSignal) || !IsRepeatedInterrupt()) return;
  // A later one: the default action, which ends the process, once no
  // temporary file is left behind.
  const int nSavedErrno = errno;
  RemoveTemporaryFiles();
  errno = nSavedErrno;
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
