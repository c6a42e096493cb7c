#include "platform/Interrupt.h"

#include <windows.h>

#include "platform/AtomicFile.h"

namespace {

// The signal numbers of the C runtime for the console's events.
constexpr int c_nSigInt = 2;
constexpr int c_nSigTerm = 15;
constexpr int c_nSigBreak = 21;

BOOL WINAPI OnConsoleEvent(DWORD uEvent) {
  switch (uEvent) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // Handled the first time, and when it comes with the first; a later
      // one goes on to the default handler, which ends the process, once
      // no temporary file is left behind.
      if (TakeInterrupt(uEvent == CTRL_C_EVENT ? c_nSigInt : c_nSigBreak) || !IsRepeatedInterrupt()) return TRUE;
      RemoveTemporaryFiles();
      return FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      (void)TakeInterrupt(c_nSigTerm);
      // Returning ends the process at once: wait for the workers, as long
      // as Windows lets the process live.
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
