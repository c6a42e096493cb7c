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
#include "platform/Thread.h"

namespace {

// Descriptors kept free for what is not a running target's socket: the
// log, the result files being written, name resolution.
constexpr size_t c_nReservedDescriptors = 256;

void ReportThreadError(const std::string& strTarget, size_t nIndex, const CWalkPlan& plan) {
  ScanTally().Ended(strTarget, c_uNoThread, false);
  if (plan.pReport != nullptr) {
    CTargetRecord record;
    try {
      record.strTarget = strTarget;
    } catch (const std::bad_alloc&) {
    }
    record.uCode = c_uNoThread;
    plan.pReport->Record(nIndex, std::move(record));
  }
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

// One target of the scan as the driver holds it: its CMIB, what its
// worker is handed, and the worker's thread object.
struct CWorker {
  CWorker(const std::string& strTarget, std::shared_ptr<const CTargetSettings> pSettings, const CWalkPlan* pPlan,
          size_t nIndex)
      : mib(strTarget, std::move(pSettings)), work{&mib, pPlan, nIndex} {}
  CMIB mib;
  CTargetWork work;
  std::unique_ptr<CThread> pThread;
};

// Creates the target's worker thread and starts it. False, with no thread
// object left, when the system refuses the thread (too many threads, no
// memory for another stack).
bool TryStartWorker(CWorker* pWorker, CThreadEnds* pEnds) {
  pWorker->pThread.reset(new (std::nothrow) CThread(TargetThreadProc, &pWorker->work, pEnds));
  if (pWorker->pThread != nullptr && pWorker->pThread->Start(c_nWorkerStackBytes)) return true;
  pWorker->pThread.reset();
  return false;
}

// Joins a worker, then frees its thread object and its CMIB.
void FreeWorker(std::unique_ptr<CWorker>* ppWorker) {
  CWorker& worker = **ppWorker;
  if (worker.pThread != nullptr) {
    worker.pThread->Join();
    worker.pThread.reset();
  }
  ppWorker->reset();
}

// The workers of one scan, started in list order and joined and freed in
// list order. A worker that has ended is joined as soon as every worker
// before it is, so a long scan does not keep the stacks of ended threads.
class CWorkers {
 public:
  CWorkers(size_t nTargets, const CWalkPlan& plan) : m_plan(plan), m_nMaxRunning(MaxRunningWorkers()) {
    m_arrWorkers.reserve(nTargets);
  }
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
  void Start(const std::string& strTarget, size_t nIndex, const CConfig& config) {
    std::unique_ptr<CWorker> pWorker;
    while (true) {
      const uint64_t nEnded = m_ends.Count();
      const uint64_t nRunning = m_nStarted - nEnded;
      if (nRunning < m_nMaxRunning || nRunning == 0) {
        if (nRunning == 0) JoinEnded();  // frees the stacks of every ended worker
        if (pWorker == nullptr) pWorker = NewWorker(strTarget, nIndex, config);
        if (pWorker != nullptr && TryStartWorker(pWorker.get(), &m_ends)) {
          m_arrWorkers.push_back(std::move(pWorker));  // capacity reserved: cannot throw
          ++m_nStarted;
          break;
        }
        if (nRunning == 0) {
          pWorker.reset();
          ReportThreadError(strTarget, nIndex, m_plan);
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
    for (; m_nJoined < m_arrWorkers.size(); ++m_nJoined) FreeWorker(&m_arrWorkers[m_nJoined]);
  }

 private:
  std::unique_ptr<CWorker> NewWorker(const std::string& strTarget, size_t nIndex, const CConfig& config) const {
    try {
      return std::make_unique<CWorker>(strTarget, config.ForTarget(strTarget), &m_plan, nIndex);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  // Joins and frees the ended workers at the front of the list.
  void JoinEnded() {
    while (m_nJoined < m_arrWorkers.size()) {
      const CThread* pThread = m_arrWorkers[m_nJoined]->pThread.get();
      if (pThread != nullptr && !pThread->HasEnded()) break;
      FreeWorker(&m_arrWorkers[m_nJoined++]);
    }
  }

  const CWalkPlan& m_plan;
  uint64_t m_nMaxRunning;
  CThreadEnds m_ends;
  uint64_t m_nStarted = 0;
  std::vector<std::unique_ptr<CWorker>> m_arrWorkers;
  size_t m_nJoined = 0;  // m_arrWorkers[0, m_nJoined) are joined and freed
};

// The walk plan of the command line and options: the same for every target.
CWalkPlan MakeWalkPlan(const CScanOptions& options) {
  CWalkPlan plan;
  plan.walks = !g_strStartOid.empty() ? CWalkPlan::EWalks::SingleGet
               : g_bSystemMib         ? CWalkPlan::EWalks::SystemMib
                                      : CWalkPlan::EWalks::Enterprises;
  plan.strStartOid = g_strStartOid;
  // Without --out-dir the files go beside the executable.
  plan.place.strDir = options.strResultDir.empty() ? g_strBaseDir : options.strResultDir;
  plan.place.strStartOid = g_strStartOid;
  return plan;
}

}  // namespace

bool RunScan(const std::vector<std::string>& arrTargets, const CScanOptions& options) {
  if (!SplitBaseDir(options.strExePath, &g_strBaseDir)) return false;
  // The settings first: a scan they refuse leaves no trace, not even the
  // log directory.
  const std::string strConfigPath =
      options.strConfigPath.empty() ? MakeConfigPath(g_strBaseDir) : options.strConfigPath;
  CConfig config;
  (void)config.Load(strConfigPath);
  // A secret that cannot be had refuses the whole scan: a target walked
  // with a default in its place would only time out, or answer to the
  // wrong community.
  if (!config.Errors().empty()) {
    for (const std::string& strError : config.Errors()) std::fprintf(stderr, "mibscan: %s\n", strError.c_str());
    if (options.pbRefused != nullptr) *options.pbRefused = true;
    return false;
  }

  const std::string strLogDir = MakeLogDirPath(g_strBaseDir);
  (void)CreateDirectoryIfMissing(strLogDir);
  g_strLogDir = strLogDir;

  StartLogThread();
  // However the scan is left (memory running out before the first worker),
  // the logger is stopped and the log written before the process ends.
  struct CLogStop {
    ~CLogStop() { StopLogThread(); }
  } logStop;
  if (arrTargets.size() == 1) g_bLogDirect = true;
  config.OverrideFormats(options.uFormats);
  // Warnings go to standard error: the console lines that scripts read
  // stay as they are.
  for (const std::string& strWarning : config.Warnings())
    std::fprintf(stderr, "mibscan: warning: %s\n", strWarning.c_str());
  if (g_bConfigSecretsExposed) {
    std::fprintf(stderr, "mibscan: warning: %s holds a password that others can read (chmod 600 it)\n",
                 strConfigPath.c_str());
  }

  CWalkPlan plan = MakeWalkPlan(options);
  // The record of the scan, with --report or "Report=1".
  std::unique_ptr<CScanReport> pReport;
  if (options.bReport || g_bReport) {
    pReport = std::make_unique<CScanReport>();
    pReport->Begin(arrTargets.size(), options.arrArguments, plan.place);
    plan.pReport = pReport.get();
  }
  ScanTally().Begin(arrTargets.size());
  {
    std::unique_ptr<CProgress> pProgress;
    // Without memory for it, the scan runs without progress.
    if (options.bProgress || IsTerminal(stderr)) pProgress.reset(new (std::nothrow) CProgress(IsTerminal(stderr)));
    CWorkers workers(arrTargets.size(), plan);
    for (size_t i = 0; i < arrTargets.size(); ++i) workers.Start(arrTargets[i], i, config);
    // In list order: a slow early target delays the freeing of later ones,
    // not their work.
    workers.JoinAll();
  }
  // Beside the result files; an interrupted scan has one too, its cut
  // targets marked so.
  if (pReport != nullptr) (void)pReport->Write();
  return true;
}
