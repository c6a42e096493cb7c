#include "driver/TargetWorker.h"

#include <cstdio>
#include <exception>
#include <string>

#include "settings/Settings.h"
#include "log/LogQueue.h"
#include "mib/MIB.h"
#include "platform/Interrupt.h"

unsigned TargetThreadProc(void* pParam) {
  CMIB* pMib = static_cast<CMIB*>(pParam);
  const char* szTarget = pMib->m_strTarget.c_str();
  try {
    WriteLog("%s|start", szTarget);
    if (!g_strStartOid.empty()) {
      pMib->Walk(g_strStartOid.c_str(), false);
    } else if (g_bSystemMib) {
      pMib->Walk(c_szSystemStartOid, true);
      std::string strUpTime;
      // An interrupted scan starts no further walk.
      if (!pMib->m_mapResults.Lookup(c_szSysUpTimeKey, &strUpTime) && !IsInterrupted())
        pMib->Walk(c_szSysUpTimeOid, true);
    } else {
      pMib->Walk(c_szEnterprisesStartOid, true);
    }
    WriteLog("%s|end", szTarget);
    pMib->SaveXml(pMib->m_strTarget);
  } catch (const std::exception&) {
    // Only running out of memory gets here (the walk and the writer handle
    // their own failures); the thread must still end for the driver's join.
    std::printf("output error\n");
  }
  return 0;
}
