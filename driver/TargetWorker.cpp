#include "driver/TargetWorker.h"

#include <cstdio>
#include <exception>
#include <string>

#include "settings/Settings.h"
#include "driver/Progress.h"
#include "log/LogQueue.h"
#include "mib/MIB.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"
#include "result/ResultFile.h"

unsigned TargetThreadProc(void* pParam) {
  CMIB* pMib = static_cast<CMIB*>(pParam);
  const char* szTarget = pMib->m_strTarget.c_str();
  ScanTally().Started();
  // The code of the first walk that failed (a value that could not be
  // decoded only drops that binding); whether the file was written.
  uint32_t uFailure = SNMP_MGR_OK;
  bool bWritten = false;
  try {
    WriteLog("%s|start", szTarget);
    // Whether an interruption cut a walk short, or left one unstarted.
    bool bCut = false;
    const auto walk = [&](const char* szStartOid, bool bContinue) {
      pMib->Walk(szStartOid, bContinue);
      const uint32_t uEnd = pMib->m_uWalkEnd;
      bCut = bCut || uEnd == SNMP_MGR_ERROR_INTERRUPTED;
      if (uFailure == SNMP_MGR_OK && uEnd != SNMP_MGR_ERROR_VALUE) uFailure = uEnd;
    };
    if (!g_strStartOid.empty()) {
      walk(g_strStartOid.c_str(), false);
    } else if (g_bSystemMib) {
      walk(c_szSystemStartOid, true);
      std::string strUpTime;
      // An interrupted scan starts no further walk.
      if (!pMib->m_mapResults.Lookup(c_szSysUpTimeKey, &strUpTime)) {
        if (IsInterrupted()) {
          bCut = true;
          if (uFailure == SNMP_MGR_OK) uFailure = SNMP_MGR_ERROR_INTERRUPTED;
        } else {
          walk(c_szSysUpTimeOid, true);
        }
      }
    } else {
      walk(c_szEnterprisesStartOid, true);
    }
    WriteLog("%s|end", szTarget);
    // A walk cut short keeps the complete file of an earlier scan, and so
    // does a target whose walks failed before they learnt anything (a
    // device that is down tonight, a name that no longer resolves): an
    // empty file is no better a snapshot.
    const bool bLearntNothing = uFailure != SNMP_MGR_OK && pMib->m_mapResults.IsEmpty();
    const bool bKept = bCut                ? KeepResultFile(pMib->m_strTarget)
                       : bLearntNothing    ? KeepResultFile(pMib->m_strTarget, "no answer")
                                           : false;
    if (!bKept) bWritten = pMib->SaveXml(pMib->m_strTarget);
    // Workers are joined in list order: an ended one may wait long for it.
    pMib->ReleaseResults();
  } catch (const std::exception&) {
    // Only running out of memory gets here (the walk and the writer handle
    // their own failures); the thread must still end for the driver's join,
    // and the other targets go on.
    if (uFailure == SNMP_MGR_OK) uFailure = SNMP_MGR_ERROR_MEMORY;
    PrintLine("output error\n");  // short enough to need no allocation
    bWritten = false;
    pMib->ReleaseResults();
  }
  ScanTally().Ended(pMib->m_strTarget, uFailure, bWritten);
  return 0;
}
