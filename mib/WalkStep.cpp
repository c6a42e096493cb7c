#include "mib/WalkStep.h"

#include <algorithm>
#include <exception>

#include "log/LogQueue.h"
#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"

namespace {

// How many of an answer's bindings come in order: each after the one
// before it, the first after requested. With bEndOfViewInOrder, an
// endOfMibView under a name already seen is the end of the agent's view,
// not disorder: it and what follows count as in order (StoreBindings ends
// the lane there).
size_t InOrderCount(const AsnObjectIdentifier& requested, const SnmpVarBindList& answer, bool bEndOfViewInOrder) {
  const AsnObjectIdentifier* pPrevious = &requested;
  for (size_t i = 0; i < answer.size(); ++i) {
    if (bEndOfViewInOrder && answer[i].value.asnType == SNMP_EXCEPTION_ENDOFMIBVIEW) return answer.size();
    if (!(pPrevious->ids < answer[i].name.ids)) return i;
    pPrevious = &answer[i].name;
  }
  return answer.size();
}

// True when the answer to a GET-NEXT or GETBULK for requested advances as
// the walk uses it: every binding in order. The next request starts from
// the last one, so an answer that goes back anywhere (the same OID, or an
// earlier one) would keep the walk going for ever; such answers count
// with the errors.
bool Advances(const AsnObjectIdentifier& requested, const SnmpVarBindList& answer) {
  return !answer.empty() && InOrderCount(requested, answer, false) == answer.size();
}

// Some agents answer a GETBULK of many repetitions with bindings that stop
// increasing part way (a switch that goes wrong above 55, say). When at
// least two came in order, only the bindings before that point are taken;
// the walk goes on from the last of them, with fewer repetitions than came
// in order, for the rest of the walk in every lane. The repetitions fall with each such answer, so at
// one repetition an agent that still goes back meets the error budget.
void CutAtDisorder(const AsnObjectIdentifier& requested, SnmpVarBindList* pBindings, CLane* pLane,
                   CWalkContext* pContext) {
  if (pLane->requestType != SNMP_PDU_GETBULK || pLane->nRepetitions <= 1) return;
  // One binding in order and then one that goes back is how an agent that
  // loops answers: that stays with the loop guard.
  const size_t nInOrder = InOrderCount(requested, *pBindings, pContext->bVersion2);
  if (nInOrder < 2 || nInOrder == pBindings->size()) return;
  pBindings->resize(nInOrder);
  pLane->nRepetitions =
      std::max<int32_t>(1, std::min<int32_t>(pLane->nRepetitions - 1, static_cast<int32_t>(nInOrder)));
  pContext->nRepetitionsCeiling = std::min(pContext->nRepetitionsCeiling, pLane->nRepetitions);
  pContext->nInOrderCeiling = std::min(pContext->nInOrderCeiling, pLane->nRepetitions);
  WriteLog("%s|out of order in a GETBULK answer: repetitions %d", pContext->szTarget,
           static_cast<int>(pLane->nRepetitions));
}

// Whether a binding goes into the typed entries: when a typed file is
// asked for, every object; an exception value only in a single GET, where
// it is the answer asked for (a walk's first GET of its start OID is not:
// an agent without that object just starts elsewhere).
bool KeepsTyped(const AsnAny& value, const CLane& lane, const CWalkContext& context) {
  if (!context.bKeepTyped) return false;
  const bool bException = value.asnType == SNMP_EXCEPTION_NOSUCHOBJECT ||
                          value.asnType == SNMP_EXCEPTION_NOSUCHINSTANCE ||
                          value.asnType == SNMP_EXCEPTION_ENDOFMIBVIEW;
  return !bException || (!context.bContinue && lane.requestType == SNMP_PDU_GET);
}

// Logs, renders and stores (or keeps) one binding, named strOid.
void TakeBinding(const std::string& strOid, const SnmpVarBind& varBind, CLane* pLane, CWalkContext* pContext) {
  const char* szTarget = pContext->szTarget;
  WriteLog("%s|%s,%d", szTarget, strOid.c_str(), static_cast<int>(varBind.value.asnType));
  const CRenderedValue rendered = RenderTraced(szTarget, strOid, varBind.value, &pContext->codeSet);
  const bool bCrText = rendered.bText && rendered.strText.find('\r') != std::string::npos;
  std::string& strRecord = pContext->strTypedRecord;
  strRecord.clear();
  if (KeepsTyped(varBind.value, *pLane, *pContext)) {
    std::string& strKey = pContext->strTypedKey;
    strKey.clear();
    AppendSortableName(&strKey, varBind.name.ids.data(), varBind.name.ids.size());
    CTypedEntries::MakeRecord(&strRecord, strKey, varBind.value.asnType,
                              TypedPayload(varBind.value, rendered, &pContext->strTypedScratch));
  }
  if (pLane->bDirect) {
    pContext->StoreEntry(strOid, rendered.strText, bCrText, strRecord);
  } else {
    pLane->pending.Add(strOid, rendered.strText, bCrText, strRecord);
  }
}

// Notes, for the walk text, an endOfMibView that ends the walk's last
// lane: the walk reached the end of the agent's view.
void NoteEndOfView(const CLane& lane, CWalkContext* pContext) {
  if (lane.bBounded) return;
  pContext->bReachedEnd = true;
  if (pContext->bKeepTyped) pContext->pResult->typed.SetWalkEnd(EWalkEnd::EndOfMibView);
}

// Takes an answer's bindings in order, up to a repeated OID. False when
// the lane ends: an endOfMibView (SNMPv2c, SNMPv3), an OID past its part,
// or its part's last OID (its end: a lane's part is what follows its
// first request's OID, up to and with its end).
bool StoreBindings(const SnmpVarBindList& bindings, CLane* pLane, CWalkContext* pContext) {
  for (const SnmpVarBind& varBind : bindings) {
    if (pContext->bVersion2 && varBind.value.asnType == SNMP_EXCEPTION_ENDOFMIBVIEW) {
      NoteEndOfView(*pLane, pContext);
      return false;  // nothing follows in the agent's view, whatever name it came under
    }
    // The next lane's part: that lane takes it.
    if (pLane->bBounded && pLane->end.ids < varBind.name.ids) return false;
    // Past the subtree walked: the end of what was asked.
    if (pContext->bSubtree && !InSubtree(varBind.name, pContext->subtree)) {
      if (!pLane->bBounded) pContext->bReachedEnd = true;
      return false;
    }
    // Inside a subtree stepped over: neither logged nor stored.
    if (std::any_of(pContext->arrExclude.begin(), pContext->arrExclude.end(),
                    [&](const AsnObjectIdentifier& root) { return InSubtree(varBind.name, root); }))
      continue;
    if (pContext->bCapped) return false;
    try {
      const std::string strOid = OidToText(varBind.name);
      if (strOid == pLane->strPreviousOid) break;
      pLane->strPreviousOid = strOid;
      TakeBinding(strOid, varBind, pLane, pContext);
    } catch (const std::exception&) {
      WriteLog("%s|catch1:%d", pContext->szTarget, static_cast<int>(GetLastError()));
    }
    // The last OID of the part: the next lane asks for what follows it.
    if (pLane->bBounded && varBind.name.ids == pLane->end.ids) return false;
  }
  return true;
}

}  // namespace

CRenderedValue RenderTraced(const char* szTarget, const std::string& strOid, const AsnAny& value,
                            CTextCodeSet* pCodeSet) {
  const int nLength = TracedLength(strOid, value);
  if (nLength >= 0) WriteLog("%s|length=%d", szTarget, nLength);
  return RenderValue(strOid, value, pCodeSet);
}

CWalkContext::CWalkContext(const CWalkTarget& walkTarget, bool bContinueWalk, CWalkResult* pWalkResult)
    : target(walkTarget),
      szTarget(walkTarget.strTarget.c_str()),
      bContinue(bContinueWalk),
      // SNMPv2c and SNMPv3: endOfMibView ends the walk, and GETBULK may
      // ask for many objects at once.
      bVersion2(walkTarget.settings.nVersion >= 2),
      continueType(bVersion2 && walkTarget.settings.nMaxRepetitions > 0 ? SNMP_PDU_GETBULK : SNMP_PDU_GETNEXT),
      pResult(pWalkResult),
      codeSet(walkTarget.settings.strCharset),
      nRepetitionsCeiling(walkTarget.settings.nMaxRepetitions),
      nInOrderCeiling(walkTarget.settings.nMaxRepetitions),
      arrExclude(walkTarget.settings.arrExclude),
      nMaxObjects(walkTarget.settings.nMaxObjects),
      bKeepTyped((walkTarget.settings.uFormats & c_uTypedFormats) != 0) {}

bool InSubtree(const AsnObjectIdentifier& oid, const AsnObjectIdentifier& root) {
  return oid.ids.size() >= root.ids.size() && std::equal(root.ids.begin(), root.ids.end(), oid.ids.begin());
}

bool StepOverExcluded(AsnObjectIdentifier* pOid, const CWalkContext& context, bool* pbEnd) {
  *pbEnd = false;
  bool bMoved = false;
  // Excluded subtrees may adjoin or nest: the OID after one may lie in another.
  for (bool bAgain = !context.arrExclude.empty(); bAgain;) {
    bAgain = false;
    for (const AsnObjectIdentifier& root : context.arrExclude) {
      if (!InSubtree(*pOid, root)) continue;
      std::vector<uint32_t> ids = root.ids;
      while (!ids.empty() && ids.back() == UINT32_MAX) ids.pop_back();
      if (ids.empty()) {
        *pbEnd = true;
        return true;
      }
      ++ids.back();
      pOid->ids = std::move(ids);
      bMoved = true;
      bAgain = true;
    }
  }
  return bMoved;
}

bool PrepareSizeProbe(LPSNMP_MGR_SESSION pSession, CLane* pLane, CWalkContext* pContext) {
  if (pContext->bProbeSizes && pContext->bShrunkBySilence && SnmpMgrLateAnswers(pSession) > 0) {
    pContext->bProbeSizes = false;
    pContext->nRepetitionsCeiling = pContext->nInOrderCeiling;
    ++pContext->nRestores;
    WriteLog("%s|late answers, not lost ones: repetitions %d", pContext->szTarget,
             static_cast<int>(pContext->nRepetitionsCeiling));
  }
  if (pLane->nRestoresSeen != pContext->nRestores) {
    pLane->nRestoresSeen = pContext->nRestores;
    pLane->nRepetitions = std::max(pLane->nRepetitions, pContext->nRepetitionsCeiling);
  }
  pLane->nRepetitions = std::min(pLane->nRepetitions, pContext->nRepetitionsCeiling);
  pLane->bSizeProbe = pContext->bProbeSizes && pLane->requestType == SNMP_PDU_GETBULK && pLane->nRepetitions > 1;
  return pLane->bSizeProbe;
}

void ShrinkAfterSilence(CLane* pLane, CWalkContext* pContext) {
  pLane->nRepetitions = std::max<int32_t>(1, pLane->nRepetitions / 2);
  pContext->nRepetitionsCeiling = std::min(pContext->nRepetitionsCeiling, pLane->nRepetitions);
  pContext->bShrunkBySilence = true;
  WriteLog("%s|silent to a GETBULK: repetitions %d", pContext->szTarget, static_cast<int>(pLane->nRepetitions));
}

void CWalkContext::StoreEntry(std::string_view strOid, std::string_view strValue, bool bCrText,
                              std::string_view typedRecord) {
  if (bCapped) return;
  std::string strStored;
  if (nMaxObjects > 0 && pResult->mapResults.GetCount() >= static_cast<size_t>(nMaxObjects) &&
      !pResult->mapResults.Lookup(strOid, &strStored)) {
    // One object more than the cap: the walk ends with exactly the cap.
    bCapped = true;
    WriteLog("%s|MaxObjects %lld reached", szTarget, static_cast<long long>(nMaxObjects));
    return;
  }
  const bool bNew = pResult->Store(strOid, strValue, bCrText, typedRecord);
  bStored = true;
  if (bNew && target.pStoredCount != nullptr) target.pStoredCount->fetch_add(1, std::memory_order_relaxed);
}

bool NextRequest(const AsnObjectIdentifier& requested, SnmpVarBindList* pBindings, CLane* pLane,
                 CWalkContext* pContext) {
  if (pLane->nErrorStatus > 0) {
    // An answer too big for the agent: ask for fewer objects, down to
    // one, before it counts.
    if (pLane->requestType == SNMP_PDU_GETBULK && pLane->nErrorStatus == SNMP_ERRORSTATUS_TOOBIG &&
        pLane->nRepetitions > 1) {
      pLane->nRepetitions /= 2;
      pBindings->assign(1, SnmpVarBind{requested, AsnAny{}});
      return true;
    }
    if (++pLane->nErrorCount > c_nMaxWalkErrors) {
      // SNMPv1 agents answer noSuchName at the end of their view: that is
      // how such a walk ends, not a budget spent.
      if (pContext->bVersion2 || pLane->nErrorStatus != SNMP_ERRORSTATUS_NOSUCHNAME)
        pContext->NoteBudgetSpent(EWalkStop::ErrorBudget);
      return false;
    }
  } else {
    CutAtDisorder(requested, pBindings, pLane, pContext);
    if (!StoreBindings(*pBindings, pLane, pContext)) return false;
    if (pLane->requestType != SNMP_PDU_GET && !Advances(requested, *pBindings) &&
        ++pLane->nErrorCount > c_nMaxWalkErrors) {
      pContext->NoteBudgetSpent(EWalkStop::LoopGuard);
      return false;
    }
    // A GETBULK goes on from the last object received.
    if (pContext->continueType == SNMP_PDU_GETBULK && pBindings->size() > 1)
      pBindings->erase(pBindings->begin(), pBindings->end() - 1);
  }
  // An answer without bindings (RFC 3416 sends tooBig so) is asked again
  // for the same OID: a request always names one.
  if (pBindings->empty()) pBindings->assign(1, SnmpVarBind{requested, AsnAny{}});
  if (!pContext->bContinue) {
    pContext->bReachedEnd = pLane->nErrorStatus == 0;
    return false;
  }
  if (pContext->bCapped) return false;
  // The next request steps over an excluded subtree: the OID after it.
  AsnObjectIdentifier& next = (*pBindings)[0].name;
  bool bNothingAfter = false;
  if (StepOverExcluded(&next, *pContext, &bNothingAfter)) {
    (*pBindings)[0].value = AsnAny{};
    const bool bPastPart = pLane->bBounded && !(next.ids < pLane->end.ids);
    const bool bPastSubtree = pContext->bSubtree && !InSubtree(next, pContext->subtree);
    if (bNothingAfter || bPastPart || bPastSubtree) {
      if (!pLane->bBounded && !bPastPart) pContext->bReachedEnd = true;
      return false;
    }
    WriteLog("%s|excluded: on from %s", pContext->szTarget, OidToText(next).c_str());
  }
  pLane->requestType = pContext->continueType;
  return true;
}
