#include "log/LogThread.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/Settings.h"
#include "log/LogFile.h"
#include "log/LogQueue.h"

std::atomic<bool> g_bLogRunning{true};
CThread* g_pLogThread = nullptr;

unsigned LogThreadProc(void* /*pParam*/) {
  std::error_code ec;
  std::filesystem::create_directory(g_strLogDir, ec);  // usually there already
  while (g_bLogRunning.load()) {
    // The unlocked emptiness check only saves taking the lock when idle;
    // the drain looks again under the lock.
    if (!g_LogQueue.IsEmpty() && g_pLogMutex->Lock()) {
      std::vector<std::string> arrLines;
      DrainLogQueue(&arrLines);
      g_pLogMutex->Unlock();
      WriteLogLines(arrLines);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(c_nLogCycleMs));
  }
  return 0;
}

void StartLogThread() {
  g_bLogRunning.store(true);
  if (g_pLogThread != nullptr) return;
  g_pLogThread = new CThread(LogThreadProc, nullptr);
  // Without a logger thread, queued lines still reach the file through the
  // final drain of StopLogThread().
  if (!g_pLogThread->Start()) {
    delete g_pLogThread;
    g_pLogThread = nullptr;
  }
}

void StopLogThread() {
  g_bLogRunning.store(false);
  if (g_pLogThread != nullptr) {
    g_pLogThread->Join();
    delete g_pLogThread;
    g_pLogThread = nullptr;
  }
  std::vector<std::string> arrLines;
  while (!g_LogQueue.IsEmpty()) {
    DrainLogQueue(&arrLines);
    WriteLogLines(arrLines);
    arrLines.clear();
  }
}
