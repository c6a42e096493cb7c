// The logger thread: every c_nLogCycleMs it moves up to c_nDrainBatch
// queued entries into the log file. It holds g_pLogMutex only while it takes
// the batch out of the queue; the file is written after the lock is
// released, so workers go on queuing meanwhile.
//
// The scan driver calls StartLogThread() before any worker exists and
// StopLogThread() after the last worker has been joined.
#ifndef MIBSCAN_LOG_LOGTHREAD_H_
#define MIBSCAN_LOG_LOGTHREAD_H_

#include <atomic>

#include "platform/Thread.h"

// Pause after every cycle of the logger thread, milliseconds.
constexpr int c_nLogCycleMs = 200;

// Keep-running flag of the logger thread, written by the driver's thread.
extern std::atomic<bool> g_bLogRunning;
// The logger thread's object; null until StartLogThread() made it.
extern CThread* g_pLogThread;

// The logger thread's procedure. pParam is not used. Creates g_strLogDir,
// then runs cycles while g_bLogRunning is set; entries still queued when it
// returns are left for the final drain. Always 0.
unsigned LogThreadProc(void* pParam);

// Sets g_bLogRunning and, when g_pLogThread is null, creates the logger
// thread, stores it in g_pLogThread and starts it. REQUIRES: g_strLogDir is
// set.
void StartLogThread();

// Clears g_bLogRunning, joins and deletes the logger thread (it wakes at
// once from its pause, or ends after the batch it is writing), then writes what is still queued, c_nDrainBatch lines at a
// time, without the lock. REQUIRES: no other thread logs any more.
void StopLogThread();

#endif  // MIBSCAN_LOG_LOGTHREAD_H_
