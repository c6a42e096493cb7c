#include "log/LogThread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "log/LogFile.h"
#include "log/LogQueue.h"
#include "platform/FileOps.h"

std::atomic<bool> g_bLogRunning{true};
CThread* g_pLogThread = nullptr;

namespace {

// The pause between cycles ends early when the driver stops the thread,
// so a short scan does not wait out a whole cycle at its end.
std::mutex g_cycleMutex;
std::condition_variable g_cycleWake;

void SleepOneCycle() {
  std::unique_lock<std::mutex> lock(g_cycleMutex);
  g_cycleWake.wait_for(lock, std::chrono::milliseconds(c_nLogCycleMs),
                       [] { return !g_bLogRunning.load(); });
}

// The log never takes the program down: a batch that cannot even be
// joined into one buffer for lack of memory is lost.
void WriteLogLinesNoThrow(const std::vector<std::string>& arrLines) {
  try {
    WriteLogLines(arrLines);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

unsigned LogThreadProc(void* /*pParam*/) {
  (void)CreateDirectoryIfMissing(g_strLogDir);  // usually there already
  SetLogDrainer(true);
  while (g_bLogRunning.load()) {
    // The unlocked emptiness check only saves taking the lock when idle;
    // the drain looks again under the lock.
    bool bTook = false;
    if (!g_LogQueue.IsEmpty()) {
      // Only the taking is under the lock: the lines are formatted after,
      // so that the writers, which queue meanwhile, seldom wait for it.
      std::vector<CLogEntry> arrEntries;
      std::vector<std::string> arrLines;
      try {
        arrEntries.reserve(c_nDrainBatch);
        const CNamedMutexGuard guard(g_pLogMutex);
        if (guard.IsHeld()) TakeLogEntries(&arrEntries);
      } catch (const std::bad_alloc&) {
        // Out of memory: the entries taken so far are written, the rest wait.
      }
      bTook = !arrEntries.empty();
      NotifyLogRoom(bTook);
      try {
        arrLines.reserve(arrEntries.size());
        for (const CLogEntry& entry : arrEntries) arrLines.push_back(FormatLogLine(entry));
      } catch (const std::bad_alloc&) {
        // The lines formatted so far are written; the rest of this batch is lost.
      }
      WriteLogLinesNoThrow(arrLines);
    }
    // A backlog is drained batch after batch; only an idle queue (or one
    // that gave nothing) waits out a cycle.
    if (!bTook || g_LogQueue.IsEmpty()) SleepOneCycle();
  }
  SetLogDrainer(false);
  return 0;
}

void StartLogThread() {
  g_bLogRunning.store(true);
  if (g_pLogThread != nullptr) return;
  g_pLogThread = new (std::nothrow) CThread(LogThreadProc, nullptr);
  // Without a logger thread, queued lines still reach the file through the
  // final drain of StopLogThread().
  if (g_pLogThread != nullptr && !g_pLogThread->Start()) {
    delete g_pLogThread;
    g_pLogThread = nullptr;
  }
}

void StopLogThread() {
  {
    // Under the lock, so the thread cannot miss the wake-up between its
    // test of the flag and its wait.
    std::lock_guard<std::mutex> lock(g_cycleMutex);
    g_bLogRunning.store(false);
  }
  g_cycleWake.notify_all();
  if (g_pLogThread != nullptr) {
    g_pLogThread->Join();
    delete g_pLogThread;
    g_pLogThread = nullptr;
  }
  std::vector<std::string> arrLines;
  while (!g_LogQueue.IsEmpty()) {
    try {
      DrainLogQueue(&arrLines);
    } catch (const std::bad_alloc&) {
      if (arrLines.empty()) return;  // not even one line fits: the rest is lost
    }
    WriteLogLinesNoThrow(arrLines);
    arrLines.clear();
  }
}
