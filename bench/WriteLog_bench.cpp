// Throughput of WriteLog in queued mode: lines per second that 1, 8 and 64
// threads get into the queue together while they contend for the named
// lock. No logger thread runs; the queue is emptied between runs.
#include <benchmark/benchmark.h>

#include "settings/Settings.h"
#include "log/LogQueue.h"

namespace {

void ClearQueue() {
  while (!g_LogQueue.IsEmpty()) (void)g_LogQueue.PopFront();
}

void BM_WriteLogQueued(benchmark::State& state) {
  if (state.thread_index() == 0) {
    g_bLog = true;
    g_bLogDirect = false;
    ClearQueue();
  }
  int i = 0;
  for (auto _ : state) {
    WriteLog("%s|walk %d: 1.3.6.1.2.1.2.2.1.10.%d", "192.0.2.1", i, i);
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) ClearQueue();
}
BENCHMARK(BM_WriteLogQueued)->Threads(1)->Threads(8)->Threads(64)->UseRealTime()->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
