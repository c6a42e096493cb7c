#include "driver/Scan.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "driver/Settings.h"
#include "driver/TargetWorker.h"
#include "log/LogQueue.h"
#include "log/LogThread.h"
#include "mib/MIB.h"
#include "platform/ModulePath.h"
#include "platform/Thread.h"

namespace {

void ReportThreadError(const std::string& strTarget) {
  std::printf("target[%s]thread error\n", strTarget.c_str());
  try {
    WriteLog("%s|thread error", strTarget.c_str());
  } catch (const std::bad_alloc&) {
  }
}

// Creates the target's worker: the thread object first, stored in the
// CMIB, then started. False when the system refuses the thread (too many
// threads, no memory for another stack): that target is reported and gets
// no file, and the scan goes on with the others.
bool StartWorker(CMIB* pMib) {
  pMib->m_pThread = new (std::nothrow) CThread(TargetThreadProc, pMib);
  if (pMib->m_pThread != nullptr && pMib->m_pThread->Start()) return true;
  delete pMib->m_pThread;
  pMib->m_pThread = nullptr;
  ReportThreadError(pMib->m_strTarget);
  return false;
}

}  // namespace

bool RunScan(const std::vector<std::string>& arrTargets) {
  std::string strExePath;
  if (!GetExecutablePath(&strExePath) || !SplitBaseDir(strExePath, &g_strBaseDir)) return false;

  const std::string strLogDir = MakeLogDirPath(g_strBaseDir);
  std::error_code ec;
  if (!std::filesystem::is_directory(strLogDir, ec)) std::filesystem::create_directory(strLogDir, ec);
  g_strLogDir = strLogDir;

  StartLogThread();
  if (arrTargets.size() == 1) g_bLogDirect = true;
  ReadSettings(MakeConfigPath(g_strBaseDir));

  std::vector<CMIB*> arrMibs;
  arrMibs.reserve(arrTargets.size());
  for (const std::string& strTarget : arrTargets) {
    CMIB* pMib = nullptr;
    try {
      pMib = new CMIB(strTarget);
    } catch (const std::bad_alloc&) {
      ReportThreadError(strTarget);
      continue;
    }
    arrMibs.push_back(pMib);  // capacity reserved above: cannot throw
    (void)StartWorker(pMib);
  }
  // In list order: a slow early target delays the freeing of later ones,
  // not their work.
  for (CMIB* pMib : arrMibs) {
    if (pMib->m_pThread != nullptr) {
      pMib->m_pThread->Join();
      delete pMib->m_pThread;
      pMib->m_pThread = nullptr;
    }
    delete pMib;
  }
  StopLogThread();
  return true;
}
