// Tests' way to walk a CMIB's target as its worker does: each walk adds to
// the result the CMIB holds.
#ifndef MIBSCAN_MIB_WALKTARGET_TEST_H_
#define MIBSCAN_MIB_WALKTARGET_TEST_H_

#include <atomic>
#include <cstdint>
#include <utility>

#include "mib/MIB.h"
#include "mib/Walk.h"

// The walk's outcome (0 when it stored an entry and closed its session).
inline int WalkTarget(CMIB* pMib, const char* szStartOid, bool bContinue,
                      std::atomic<uint64_t>* pStoredCount = nullptr) {
  const CWalkTarget target{pMib->m_strTarget, *pMib->m_pSettings, pStoredCount};
  pMib->m_result = Walk(target, szStartOid, bContinue, std::move(pMib->m_result));
  return pMib->m_result.nOutcome;
}

#endif  // MIBSCAN_MIB_WALKTARGET_TEST_H_
