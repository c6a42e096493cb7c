#include "driver/Scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "settings/Settings.h"
#include "driver/Progress.h"
#include "driver/TargetWorker.h"
#include "log/LogQueue.h"
#include "log/LogThread.h"
#include "mib/MIB.h"
#include "platform/Console.h"
#include "platform/Descriptors.h"
#include "platform/FileOps.h"
#include "platform/ModulePath.h"
#include "platform/Thread.h"

namespace {

// Descriptors kept free for what is not a running target's socket: the
// log, the result files being written, name resolution.
constexpr size_t c_nReservedDescriptors = 256;

void ReportThreadError(const std::string& strTarget) {
  ScanTally().Ended(strTarget, c_uNoThread, false);
  try {
    PrintLine("target[%s]thread error\n", strTarget.c_str());
  } catch (const std::bad_alloc&) {
  }
  WriteLog("%s|thread error", strTarget.c_str());
}

// How many workers may run at once: one socket each, within the
// process's open-file limit.
size_t MaxRunningWorkers() {
  const size_t nLimit = DescriptorLimit();
  if (nLimit == SIZE_MAX) return SIZE_MAX;
  const size_t nReserved = std::min(c_nReservedDescriptors, nLimit / 2);
  return std::max<size_t>(nLimit - nReserved, 1);
}

// Creates the target's worker: the thread object first, stored in the
// CMIB, then started. False, with no thread object left, when the system
// refuses the thread (too many threads, no memory for another stack).
bool TryStartWorker(CMIB* pMib, CThreadEnds* pEnds) {
  pMib->m_pThread = new (std::nothrow) CThread(TargetThreadProc, pMib, pEnds);
  if (pMib->m_pThread != nullptr && pMib->m_pThread->Start(c_nWorkerStackBytes)) return true;
  delete pMib->m_pThread;
  pMib->m_pThread = nullptr;
  return false;
}

// Joins a worker, then frees its thread object and its CMIB.
void FreeWorker(CMIB* pMib) {
  if (pMib->m_pThread != nullptr) {
    pMib->m_pThread->Join();
    delete pMib->m_pThread;
    pMib->m_pThread = nullptr;
  }
  delete pMib;
}

// The workers of one scan, started in list order and joined and freed in
// list order. A worker that has ended is joined as soon as every worker
// before it is, so a long scan does not keep the stacks of ended threads.
class CWorkers {
 public:
  explicit CWorkers(size_t nTargets) : m_nMaxRunning(MaxRunningWorkers()) { m_arrMibs.reserve(nTargets); }
  // However the scan is left, no worker outlives it.
  ~CWorkers() { JoinAll(); }
  CWorkers(const CWorkers&) = delete;
  CWorkers& operator=(const CWorkers&) = delete;

  // Starts the worker of strTarget. When the system refuses the thread
  // (or the memory for the target's object), or when as many workers run
  // as there are descriptors for, waits until a running worker ends and
  // tries again; after a refusal, fewer workers run at once from then on,
  // leaving the running ones room to grow. Only a refusal with no worker
  // running at all gives up ("thread error": that target gets no file).
  // The target's settings come from config; memory that runs out for them
  // is waited for as for the target's object.
  void Start(const std::string& strTarget, const CConfig& config) {
    CMIB* pMib = nullptr;
    while (true) {
      const uint64_t nEnded = m_ends.Count();
      const uint64_t nRunning = m_nStarted - nEnded;
      if (nRunning < m_nMaxRunning || nRunning == 0) {
        if (nRunning == 0) JoinEnded();  // frees the stacks of every ended worker
        if (pMib == nullptr) pMib = NewMib(strTarget, config);
        if (pMib != nullptr && TryStartWorker(pMib, &m_ends)) {
          m_arrMibs.push_back(pMib);  // capacity reserved: cannot throw
          ++m_nStarted;
          break;
        }
        if (nRunning == 0) {
          delete pMib;
          ReportThreadError(strTarget);
          break;
        }
        m_nMaxRunning = std::max<uint64_t>(nRunning - nRunning / 8, 1);
      }
      m_ends.WaitBeyond(nEnded);
      JoinEnded();
    }
    JoinEnded();
  }

  // Joins and frees every worker left, in list order.
  void JoinAll() {
    for (; m_nJoined < m_arrMibs.size(); ++m_nJoined) FreeWorker(m_arrMibs[m_nJoined]);
  }

 private:
  static CMIB* NewMib(const std::string& strTarget, const CConfig& config) {
    try {
      return new CMIB(strTarget, config.ForTarget(strTarget));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  // Joins and frees the ended workers at the front of the list.
  void JoinEnded() {
    while (m_nJoined < m_arrMibs.size()) {
      CThread* pThread = m_arrMibs[m_nJoined]->m_pThread;
      if (pThread != nullptr && !pThread->HasEnded()) break;
      FreeWorker(m_arrMibs[m_nJoined++]);
    }
  }

  uint64_t m_nMaxRunning;
  CThreadEnds m_ends;
  uint64_t m_nStarted = 0;
  std::vector<CMIB*> m_arrMibs;
  size_t m_nJoined = 0;  // m_arrMibs[0, m_nJoined) are joined and freed
};

}  // namespace

bool RunScan(const std::vector<std::string>& arrTargets, const CScanOptions& options) {
  std::string strExePath;
  if (!GetExecutablePath(&strExePath) || !SplitBaseDir(strExePath, &g_strBaseDir)) return false;

  const std::string strLogDir = MakeLogDirPath(g_strBaseDir);
  (void)CreateDirectoryIfMissing(strLogDir);
  g_strLogDir = strLogDir;

  g_strResultDir = options.strResultDir.empty() ? g_strBaseDir : options.strResultDir;

  StartLogThread();
  // However the scan is left (memory running out before the first worker),
  // the logger is stopped and the log written before the process ends.
  struct CLogStop {
    ~CLogStop() { StopLogThread(); }
  } logStop;
  if (arrTargets.size() == 1) g_bLogDirect = true;
  const std::string strConfigPath =
      options.strConfigPath.empty() ? MakeConfigPath(g_strBaseDir) : options.strConfigPath;
  CConfig config;
  (void)config.Load(strConfigPath);
  // Warnings go to standard error: the console lines that scripts read
  // stay as they are.
  for (const std::string& strWarning : config.Warnings())
    std::fprintf(stderr, "mibscan: warning: %s\n", strWarning.c_str());
  if (g_bConfigSecretsExposed) {
    std::fprintf(stderr, "mibscan: warning: %s holds a password that others can read (chmod 600 it)\n",
                 strConfigPath.c_str());
  }

  ScanTally().Begin(arrTargets.size());
  {
    std::unique_ptr<CProgress> pProgress;
    // Without memory for it, the scan runs without progress.
    if (options.bProgress || IsTerminal(stderr)) pProgress.reset(new (std::nothrow) CProgress(IsTerminal(stderr)));
    CWorkers workers(arrTargets.size());
    for (const std::string& strTarget : arrTargets) workers.Start(strTarget, config);
    // In list order: a slow early target delays the freeing of later ones,
    // not their work.
    workers.JoinAll();
  }
  return true;
}
