#include "driver/TargetWorker.h"

#include <cstdio>
#include <exception>
#include <string>

#include "settings/Settings.h"
#include "log/LogQueue.h"
#include "mib/MIB.h"
#include "platform/Interrupt.h"
#include "result/ResultFile.h"

unsigned TargetThreadProc(void* pParam) {
  CMIB* pMib = static_cast<CMIB*>(pParam);
  const char* szTarget = pMib->m_strTarget.c_str();
  try {
    WriteLog("%s|start", szTarget);
    // Whether an interruption cut a walk short, or left one unstarted.
    bool bCut = false;
    if (!g_strStartOid.empty()) {
      pMib->Walk(g_strStartOid.c_str(), false);
      bCut = pMib->m_uWalkEnd == SNMP_MGR_ERROR_INTERRUPTED;
    } else if (g_bSystemMib) {
      pMib->Walk(c_szSystemStartOid, true);
      bCut = pMib->m_uWalkEnd == SNMP_MGR_ERROR_INTERRUPTED;
      std::string strUpTime;
      // An interrupted scan starts no further walk.
      if (!pMib->m_mapResults.Lookup(c_szSysUpTimeKey, &strUpTime)) {
        if (IsInterrupted()) {
          bCut = true;
        } else {
          pMib->Walk(c_szSysUpTimeOid, true);
          bCut = bCut || pMib->m_uWalkEnd == SNMP_MGR_ERROR_INTERRUPTED;
        }
      }
    } else {
      pMib->Walk(c_szEnterprisesStartOid, true);
      bCut = pMib->m_uWalkEnd == SNMP_MGR_ERROR_INTERRUPTED;
    }
    WriteLog("%s|end", szTarget);
    // A walk cut short keeps the complete file of an earlier scan.
    if (!bCut || !KeepResultFile(pMib->m_strTarget)) pMib->SaveXml(pMib->m_strTarget);
  } catch (const std::exception&) {
    // Only running out of memory gets here (the walk and the writer handle
    // their own failures); the thread must still end for the driver's join.
    std::printf("output error\n");
  }
  return 0;
}
