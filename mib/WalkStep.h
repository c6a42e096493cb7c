// The steps every answer of a walk takes, whether the walk has one request
// in flight (Walk.cpp) or several, in lanes (Lanes.cpp): the bindings are
// logged, rendered and stored (or kept, in a lane ahead of others), and
// the next request is made from them.
//
// Thread use: none; everything here belongs to one walk.
#ifndef MIBSCAN_MIB_WALKSTEP_H_
#define MIBSCAN_MIB_WALKSTEP_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mib/PendingEntries.h"
#include "mib/RenderValue.h"
#include "mib/Walk.h"
#include "snmp/Ber.h"
#include "snmp/SnmpSession.h"

// What stays the same for the whole of one walk, and where it stores.
struct CWalkContext {
  CWalkContext(const CWalkTarget& walkTarget, bool bContinueWalk, CWalkResult* pWalkResult);

  const CWalkTarget& target;
  const char* szTarget;                     // target.strTarget, for the trace
  bool bContinue;
  bool bVersion2;                           // SNMPv2c or SNMPv3: exception values, GETBULK
  uint8_t continueType;                     // GETNEXT, or GETBULK
  CWalkResult* pResult;
  CTextCodeSet codeSet;
  bool bStored = false;                     // an entry was stored
  // The most repetitions any lane's GETBULK asks for: MaxRepetitions,
  // halved for the rest of the walk each time silence showed that the
  // path loses answers that large (ShrinkAfterSilence).
  int32_t nRepetitionsCeiling;
  // Size probes are sent while silence may be the size of answers; once a
  // late answer showed that it was their lateness, no more.
  bool bProbeSizes = true;
  bool bShrunkBySilence = false;  // a lost size probe lowered the ceiling
  int nRestores = 0;              // times the repetitions were given back so
  // The most repetitions whose answers came in order (CutAtDisorder).
  int32_t nInOrderCeiling;
  // The walk came to the end of the agent's view (the last lane's
  // endOfMibView, SNMPv1's noSuchName), or its one GET was answered.
  bool bReachedEnd = false;
  // A lane ended on its budget: more than c_nMaxWalkErrors error answers
  // (ErrorBudget) or answers that did not advance (LoopGuard). The first
  // of the target's walks to do so is kept.
  void NoteBudgetSpent(EWalkStop stop) {
    if (pResult->stop == EWalkStop::None) pResult->stop = stop;
  }

  // A walk of one subtree (WalkSubtree): it ends at the first OID outside.
  bool bSubtree = false;
  AsnObjectIdentifier subtree;
  // The subtrees the walk steps over ("Exclude").
  const std::vector<AsnObjectIdentifier>& arrExclude;
  // "MaxObjects" (0: none): once the target holds that many, a new object
  // is refused and the walk ends with SNMP_MGR_ERROR_OBJECT_CAP.
  int64_t nMaxObjects;
  bool bCapped = false;

  // A typed file is asked for: each object's type and bytes are kept.
  bool bKeepTyped;
  // The binding's typed record, name key and OID value text, made anew
  // for each (kept here so that their memory is reused).
  std::string strTypedRecord;
  std::string strTypedKey;
  std::string strTypedScratch;

  // Stores one entry in the result; bCrText marks a text value holding a
  // CR; typedRecord, when not empty, goes into the typed entries.
  void StoreEntry(std::string_view strOid, std::string_view strValue, bool bCrText,
                  std::string_view typedRecord = {});
};

// True when oid lies in the subtree at root (or is root).
[[nodiscard]] bool InSubtree(const AsnObjectIdentifier& oid, const AsnObjectIdentifier& root);

// Moves *pOid past each excluded subtree it lies in, to the OID after
// that subtree (its next sibling, or an ancestor's), so that a GET-NEXT
// of it asks for nothing inside. True when it moved; *pbEnd then says
// that nothing can follow (the subtree was the last possible).
bool StepOverExcluded(AsnObjectIdentifier* pOid, const CWalkContext& context, bool* pbEnd);

// A chain of requests over a part of the walk's range: with Window=1 the
// whole of it; otherwise one lane of several, which ends where the next
// one's part begins.
struct CLane {
  SnmpVarBindList bindings;                // the next request's
  AsnObjectIdentifier end;                 // with bBounded: the last OID of its part
  bool bBounded = false;
  uint8_t requestType = SNMP_PDU_GET;
  int32_t nRepetitions = 0;                // of a GETBULK; halved by tooBig
  int nErrorCount = 0;                     // error answers and answers that do not advance
  int32_t nErrorStatus = 0;
  int32_t nErrorIndex = 0;
  std::string strPreviousOid;              // of the binding taken last
  bool bEnded = false;
  bool bDirect = true;                     // stores what it takes at once; else into pending
  CPendingEntries pending;
  bool bInFlight = false;                  // a request of it is in flight (tagged with the lane)
  bool bSizeProbe = false;                 // that request goes with one try (PrepareSizeProbe)
  bool bSentAlone = false;                 // no other request was in flight when it went
  uint64_t uSend = 0;                      // that request's number among the walk's sends
  int64_t nLateAtSend = 0;                 // SnmpMgrLateAnswers() when it went
  int nRestoresSeen = 0;                   // CWalkContext::nRestores when its repetitions were last given back
  int nAnswers = 0;                        // answers taken so far
  int nAnswersAtSplit = 0;                 // nAnswers when its part was last cut short
  uint64_t uStride = 0;                    // instances of one column its last request went on; 0: none
  bool bGuessed = false;                   // cut at an answer where nothing was seen yet (Lanes.cpp)
  uint32_t uUnanswered = SNMP_MGR_OK;      // GetLastError() when a request went unanswered
};

// True when the lane ended on an answer with an error status other than
// noSuchName, which SNMPv1 agents send at the end of their view: the agent
// refused (noAccess, authorizationError, genErr, ...).
[[nodiscard]] inline bool EndedOnRefusal(const CLane& lane) {
  return lane.nErrorStatus > 0 && lane.nErrorStatus != SNMP_ERRORSTATUS_NOSUCHNAME;
}

// Silence to a GETBULK of many repetitions is often the path, not the
// agent: an answer of several kilobytes travels in fragments, which many
// paths lose. Such a request goes with one try (a size probe); when that
// try goes unanswered, the walk asks again with half as many repetitions
// instead of sending the same again. Down to one repetition, whose request
// has every try of the session: an agent silent to that is silent. Each
// halving holds for the rest of the walk, in every lane, so a walk spends
// at most about log2(MaxRepetitions) tries on it; an agent that answers
// every first try never sees a difference. A path that is slow, not lossy,
// looks the same at first; but there the lost probe's answer comes after
// all, late. Once one does, the repetitions go back to MaxRepetitions (in
// every lane) and no more probes are sent: silence from then on is
// silence, with every try.

// The lane's next request, with the walk's ceiling of repetitions applied:
// true when it is a size probe.
[[nodiscard]] bool PrepareSizeProbe(LPSNMP_MGR_SESSION pSession, CLane* pLane, CWalkContext* pContext);
// A size probe went unanswered: halves the lane's repetitions and the
// walk's ceiling (never below one), and traces it.
void ShrinkAfterSilence(CLane* pLane, CWalkContext* pContext);

// RenderValue, after the trace's line of the value's length
// ("<szTarget>|length=N"), when it has one.
[[nodiscard]] CRenderedValue RenderTraced(const char* szTarget, const std::string& strOid, const AsnAny& value,
                                          CTextCodeSet* pCodeSet);

// Takes the answer in *pBindings (to the lane's request for requested)
// and makes *pBindings the lane's next request: logs, renders and stores
// (or keeps, for a lane that is not first) its bindings in order, up to a
// repeated OID. False when the lane ends: an error budget spent, an
// endOfMibView (SNMPv2c, SNMPv3), an OID past its part, or no
// continuation asked.
[[nodiscard]] bool NextRequest(const AsnObjectIdentifier& requested, SnmpVarBindList* pBindings, CLane* pLane,
                               CWalkContext* pContext);

#endif  // MIBSCAN_MIB_WALKSTEP_H_
