// Orderly interruption of a scan.
//
// On Windows a console control handler does the same for Ctrl+C (taken as
// signal 2, SIGINT), Ctrl+Break (21, SIGBREAK) and the closing of the
// console, logoff or shutdown (15, SIGTERM); a second Ctrl+C or Ctrl+Break,
// c_nRepeatedSignalMs after the first or later, ends the process at once. Windows ends a process whose console closes a
// few seconds after it was told, whatever the handler does.
//
// On Linux:
// InstallInterruptHandlers() makes SIGINT, SIGTERM and SIGHUP interrupt
// the scan instead of ending the process: the first such signal only sets
// a flag that the SNMP sessions and the workers read (no new request is
// sent, each walk ends as if its agent had gone silent, every target still
// writes its file, the log is drained). Signals that come within
// c_nRepeatedSignalMs of the first are the same interruption (GNU timeout
// signals the process and then its whole group: two signals at once); one
// that comes later ends the process at once, by that signal, after
// removing the temporary files of the result files being written
// (RemoveTemporaryFiles, AtomicFile.h). It also ignores SIGPIPE (a closed console, as in
// "mibscan a b | head -1", must not end the scan: console writes then just
// fail) and SIGXFSZ (a file size limit makes the write fail, which the
// writers handle, instead of ending the process).
#ifndef MIBSCAN_PLATFORM_INTERRUPT_H_
#define MIBSCAN_PLATFORM_INTERRUPT_H_

// A signal this long after the first one or later ends the process at once.
constexpr int c_nRepeatedSignalMs = 1000;

void InstallInterruptHandlers();

// True once the scan has been interrupted. Safe from any thread.
[[nodiscard]] bool IsInterrupted();

// The signal that interrupted the scan, 0 when none did.
[[nodiscard]] int InterruptSignal();

// Interrupts the scan as the first signal nSignal would, and takes the
// interruption back (for tests).
void RequestInterrupt(int nSignal);
void ClearInterrupt();

// Records nSignal as the interruption when none was recorded before: true
// then, false when the scan was already interrupted. For the handlers;
// async-signal-safe.
bool TakeInterrupt(int nSignal);
// After TakeInterrupt gave false: true when the first signal came
// c_nRepeatedSignalMs ago or more, so that this one is an interruption of
// its own, which ends the process. Async-signal-safe.
[[nodiscard]] bool IsRepeatedInterrupt();

#endif  // MIBSCAN_PLATFORM_INTERRUPT_H_
