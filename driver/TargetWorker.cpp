#include "driver/TargetWorker.h"

#include <cstdio>
#include <exception>
#include <string>

#include "driver/Progress.h"
#include "log/LogQueue.h"
#include "mib/Walk.h"
#include "platform/Console.h"
#include "platform/Interrupt.h"

namespace {

// The walks of one target, in the plan's order, into one result.
class CTargetWalks {
 public:
  explicit CTargetWalks(const CTargetWork& work)
      : m_mib(*work.pMib),
        m_walkTarget{m_mib.m_strTarget, *m_mib.m_pSettings, &ScanTally().StoredObjects()},
        m_plan(*work.pPlan) {}

  // Runs the plan's walks; the code of the first one that failed (a value
  // that could not be decoded only drops that binding).
  void Run() {
    switch (m_plan.walks) {
      case CWalkPlan::EWalks::SingleGet:
        Walk(m_plan.strStartOid.c_str(), false);
        break;
      case CWalkPlan::EWalks::SystemMib: {
        Walk(c_szSystemStartOid, true);
        std::string strUpTime;
        if (m_mib.m_result.mapResults.Lookup(c_szSysUpTimeKey, &strUpTime)) break;
        // An interrupted scan starts no further walk.
        if (IsInterrupted()) {
          m_bCut = true;
          Failed(SNMP_MGR_ERROR_INTERRUPTED);
        } else {
          Walk(c_szSysUpTimeOid, true);
        }
        break;
      }
      case CWalkPlan::EWalks::Enterprises:
        Walk(c_szEnterprisesStartOid, true);
        break;
    }
  }

  // The code of the first walk that failed; SNMP_MGR_OK when none did.
  uint32_t Failure() const { return m_uFailure; }
  // Whether an interruption cut a walk short, or left one unstarted.
  bool Cut() const { return m_bCut; }
  void Failed(uint32_t uCode) {
    if (m_uFailure == SNMP_MGR_OK && uCode != SNMP_MGR_ERROR_VALUE) m_uFailure = uCode;
  }

 private:
  void Walk(const char* szStartOid, bool bContinue) {
    m_mib.m_result = ::Walk(m_walkTarget, szStartOid, bContinue, std::move(m_mib.m_result));
    const uint32_t uEnd = m_mib.m_result.uEnd;
    m_bCut = m_bCut || uEnd == SNMP_MGR_ERROR_INTERRUPTED;
    Failed(uEnd);
  }

  CMIB& m_mib;
  const CWalkTarget m_walkTarget;
  const CWalkPlan& m_plan;
  uint32_t m_uFailure = SNMP_MGR_OK;
  bool m_bCut = false;
};

// Writes the target's result files, one per format asked for, or keeps
// the earlier ones: a walk cut short keeps the complete file of an earlier
// scan, and so does a target whose walks failed before they learnt
// anything (a device that is down tonight, a name that no longer
// resolves): an empty file is no better a snapshot. Each format's file is
// kept or written on its own. True when every file asked for was written.
bool WriteOrKeep(CMIB& mib, const CResultPlace& place, const CTargetWalks& walks) {
  CWalkResult& result = mib.m_result;
  const bool bLearntNothing = walks.Failure() != SNMP_MGR_OK && result.mapResults.IsEmpty();
  const char* szKeepWhy = walks.Cut() ? "interrupted" : bLearntNothing ? "no answer" : nullptr;
  const uint32_t uFormats = mib.m_pSettings->uFormats;
  if ((uFormats & c_uTypedFormats) != 0) result.typed.Sort();
  uint32_t uWrite = 0;
  for (const uint32_t uFormat : c_arrFormats) {
    if ((uFormats & uFormat) == 0) continue;
    if (szKeepWhy == nullptr || !KeepResultFile(place, mib.m_strTarget, szKeepWhy, FormatName(uFormat)))
      uWrite |= uFormat;
  }
  bool bAllWritten = uWrite == uFormats;
  if ((uWrite & c_uFormatXml) != 0) {
    bAllWritten = WriteResultFile(place, mib.m_strTarget, result.mapResults, result.setCrTextKeys,
                                  mib.m_pSettings->strCharset) &&
                  bAllWritten;
  }
  if ((uWrite & c_uTypedFormats) != 0) {
    const uint32_t uTyped = uWrite & c_uTypedFormats;
    bAllWritten = WriteTypedResultFiles(place, mib.m_strTarget, result.typed, uTyped) == uTyped && bAllWritten;
  }
  return bAllWritten;
}

}  // namespace

void ServeTarget(const CTargetWork& work) {
  CMIB& mib = *work.pMib;
  const char* szTarget = mib.m_strTarget.c_str();
  ScanTally().Started();
  CTargetWalks walks(work);
  bool bWritten = false;
  try {
    WriteLog("%s|start", szTarget);
    walks.Run();
    WriteLog("%s|end", szTarget);
    bWritten = WriteOrKeep(mib, work.pPlan->place, walks);
  } catch (const std::exception&) {
    // Only running out of memory gets here (the walk and the writer handle
    // their own failures); the thread must still end for the driver's join,
    // and the other targets go on.
    walks.Failed(SNMP_MGR_ERROR_MEMORY);
    PrintLine("output error\n");  // short enough to need no allocation
    bWritten = false;
  }
  // Workers are joined in list order: an ended one may wait long for it.
  mib.m_result.ReleaseEntries();
  ScanTally().Ended(mib.m_strTarget, walks.Failure(), bWritten);
}

unsigned TargetThreadProc(void* pParam) {
  ServeTarget(*static_cast<const CTargetWork*>(pParam));
  return 0;
}
