// The worker thread of one target.
#ifndef MIBSCAN_DRIVER_TARGETWORKER_H_
#define MIBSCAN_DRIVER_TARGETWORKER_H_

#include <cstddef>

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

// Serves the target of the CMIB pParam points to: logs "%s|start", walks
// as the command line asked (a single GET of g_strStartOid; or from the
// system group, then from sysUpTime.0 when the first walk did not store
// it; or, after the one-argument form, from the enterprises node), logs
// "%s|end", writes the result file (or keeps an earlier one, when a walk
// was cut short or the walks failed before they stored anything) and then
// frees the target's results (CMIB::ReleaseResults). Always returns 0 and
// never lets an error escape, so the thread always ends; memory that runs
// out ends the target with code 65.
unsigned TargetThreadProc(void* pParam);

#endif  // MIBSCAN_DRIVER_TARGETWORKER_H_
