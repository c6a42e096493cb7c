// The worker thread of one target.
#ifndef MIBSCAN_DRIVER_TARGETWORKER_H_
#define MIBSCAN_DRIVER_TARGETWORKER_H_

#include <cstddef>
#include <string>

#include "driver/ScanReport.h"
#include "mib/MIB.h"
#include "result/ResultFile.h"

// The stack of a worker thread: what a walk, the rendering, name
// resolution and the result writer need, with a margin of two (a test
// runs the deepest of them on half of it). Sanitizer builds need more
// (MIBSCAN_STACK_SCALE).
constexpr size_t c_nWorkerStackBytes = size_t{256} * 1024 * MIBSCAN_STACK_SCALE;

// Fixed start points of the walks.
constexpr char c_szSystemStartOid[] = "system.sysDescr.0";
constexpr char c_szEnterprisesStartOid[] = ".1.3.6.1.4.1";
constexpr char c_szSysUpTimeOid[] = "system.sysUpTime.0";
constexpr char c_szSysUpTimeKey[] = "1.3.6.1.2.1.1.3.0";

// What is the same for every target of a scan: which walks, from where,
// and where the files go. The driver builds it once, from the command
// line and the options, before the first worker starts.
struct CWalkPlan {
  enum class EWalks {
    SingleGet,        // one GET of strStartOid (the oid form, --oid)
    SystemMib,        // from the system group, then from sysUpTime.0 when that is not stored
    Enterprises,      // from the enterprises node (the one-argument form)
  };
  EWalks walks = EWalks::SystemMib;
  std::string strStartOid;  // with SingleGet
  CResultPlace place;
  // The scan's record (--report); null: none is kept.
  CScanReport* pReport = nullptr;
};

// What a worker is handed: its target (with its settings) and the plan.
struct CTargetWork {
  CMIB* pMib;
  const CWalkPlan* pPlan;
  size_t nIndex = 0;  // the target's place in the list
};

// Serves pWork's target: logs "%s|start", walks as the plan says, logs
// "%s|end", writes the result file (or keeps an earlier one, when a walk
// was cut short or the walks failed before they stored anything), frees
// the target's results and counts its end in ScanTally(). With the plan's
// record, also asks the agent's sysUpTime.0 once after the walks (and once
// before them, when they do not walk the system group), and records the
// target's figures and files there. Never lets an
// error escape, so the thread always ends; memory that runs out ends the
// target with code 65.
void ServeTarget(const CTargetWork& work);

// The worker thread's procedure: ServeTarget on the CTargetWork pParam
// points to. Always returns 0.
unsigned TargetThreadProc(void* pParam);

#endif  // MIBSCAN_DRIVER_TARGETWORKER_H_
