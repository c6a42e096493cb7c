#include "mib/Walk.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <vector>
#include <new>

#include "log/LogQueue.h"
#include "mib/Lanes.h"
#include "mib/WalkStep.h"
#include "platform/Console.h"
#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"
#include "snmp/SnmpSession.h"

namespace {

// The console lines that end every walk: the socket error and the code;
// the code.
uint32_t PrintEndLines(const char* szTarget) {
  const uint32_t uLastError = GetLastError();
  PrintLine("target[%s]wsaerror:%d\n", szTarget, WSAGetLastError());
  PrintLine("target[%s]error:%d\n", szTarget, static_cast<int>(uLastError));
  return uLastError;
}

// Ends a walk that never sent a request with uError: its log line (with
// bLog) and its end lines.
void EndUnstarted(const char* szTarget, uint32_t uError, bool bLog, CWalkResult* pResult) {
  SetLastError(uError);
  WSASetLastError(0);
  if (bLog) WriteLog("%s|error:%d", szTarget, static_cast<int>(GetLastError()));
  pResult->uEnd = PrintEndLines(szTarget);
}

// The first request's bindings: pszStartOid, its value NULL. False, with
// the walk ended, when the text is no OID or memory ran out.
bool FirstRequest(const char* szTarget, const char* pszStartOid, CLane* pLane, CWalkResult* pResult) {
  WriteLog("%s|SnmpMgrStrToOid", szTarget);
  AsnObjectIdentifier startOid;
  if (!SnmpMgrStrToOid(pszStartOid, &startOid)) {
    EndUnstarted(szTarget, SNMP_MGR_ERROR_OID, true, pResult);
    return false;
  }
  try {
    // The steps of a session's making that the trace has always shown.
    WriteLog("%s|SnmpUtilMemAlloc", szTarget);
    WriteLog("%s|SnmpUtilMemAlloc", szTarget);
    WriteLog("%s|SnmpUtilMemReAlloc", szTarget);
    pLane->bindings.resize(1);
    pLane->bindings[0].name = std::move(startOid);
  } catch (const std::bad_alloc&) {
    // Everything acquired so far is released by its owner; the walk says
    // why it ended, as every walk does.
    EndUnstarted(szTarget, SNMP_MGR_ERROR_MEMORY, false, pResult);
    return false;
  }
  return true;
}

// The entry of the target's credential list a session starts with: the
// one that answered, else the first.
int StartingCredential(const CWalkTarget& target) {
  return target.pnCredential != nullptr && *target.pnCredential > 0 ? *target.pnCredential : 0;
}

// Makes the session's next requests go with entry nEntry of the target's
// credential list (0: the keys without a number). False, with
// GetLastError() saying why, when it cannot.
bool UseCredential(LPSNMP_MGR_SESSION pSession, const CTargetSettings& settings, int nEntry) {
  if (nEntry == 0) {
    if (settings.nVersion != 3) return SnmpMgrSetCommunity(pSession, settings.strCommunity);
    if (settings.uV3SettingsError != 0) {
      SetLastError(settings.uV3SettingsError);
      return false;
    }
    return SnmpMgrSetUserV3(pSession, settings.v3Security);
  }
  const CTargetSettings::CCredential& credential = settings.arrMoreCredentials[static_cast<size_t>(nEntry - 1)];
  if (settings.nVersion != 3) return SnmpMgrSetCommunity(pSession, credential.strCommunity);
  if (credential.uV3SettingsError != 0) {
    SetLastError(credential.uV3SettingsError);
    return false;
  }
  return SnmpMgrSetUserV3(pSession, credential.v3Security);
}

// The session as the target's settings ask for it; null, GetLastError()
// saying why, when it cannot be opened. Says nothing.
LPSNMP_MGR_SESSION OpenQuietly(const CWalkTarget& target) {
  const char* szTarget = target.strTarget.c_str();
  LPSNMP_MGR_SESSION pSession = nullptr;
  const CTargetSettings& settings = target.settings;
  const int nEntry = StartingCredential(target);
  const bool bListV3 = settings.nVersion == 3 && !settings.arrMoreCredentials.empty();
  if (settings.nVersion != 3) {
    pSession = SnmpMgrOpen(szTarget, settings.strCommunity.c_str(), settings.nTimeout, settings.nRetry,
                           settings.nPort, settings.nVersion);
  } else if (settings.uV3SettingsError != 0 && !bListV3) {
    // SNMPv3 settings that cannot work: nothing is sent to anybody.
    WSASetLastError(0);
    SetLastError(settings.uV3SettingsError);
  } else {
    // With a list of users, the session is opened as the first user that
    // can work, and each is set in turn.
    const CSnmpV3Security* pFirst = settings.uV3SettingsError == 0 ? &settings.v3Security : nullptr;
    for (const CTargetSettings::CCredential& credential : settings.arrMoreCredentials) {
      if (pFirst != nullptr) break;
      if (credential.uV3SettingsError == 0) pFirst = &credential.v3Security;
    }
    if (pFirst != nullptr) {
      pSession = SnmpMgrOpenV3(szTarget, *pFirst, settings.nTimeout, settings.nRetry, settings.nPort);
    } else {
      // No user of the list can work: nothing is sent to anybody.
      WSASetLastError(0);
      SetLastError(SNMP_MGR_ERROR_SETTINGS);
    }
  }
  if (pSession != nullptr && nEntry != 0 && !UseCredential(pSession, settings, nEntry)) {
    const uint32_t uError = GetLastError();
    SnmpMgrClose(pSession);
    SetLastError(uError);
    return nullptr;
  }
  if (pSession != nullptr && target.deadline != std::chrono::steady_clock::time_point::max())
    SnmpMgrSetDeadline(pSession, target.deadline);
  if (pSession != nullptr && settings.bAdaptiveTimeout) SnmpMgrSetAdaptiveTimeout(pSession);
  if (pSession != nullptr && settings.bAnyReplyAddress && !SnmpMgrSetAnyReplyAddress(pSession)) {
    const uint32_t uError = GetLastError();
    SnmpMgrClose(pSession);
    SetLastError(uError);
    pSession = nullptr;
  }
  return pSession;
}

LPSNMP_MGR_SESSION OpenSession(const CWalkTarget& target, CWalkResult* pResult) {
  const char* szTarget = target.strTarget.c_str();
  WriteLog("%s|SnmpMgrOpen", szTarget);
  LPSNMP_MGR_SESSION pSession = OpenQuietly(target);
  if (pSession == nullptr) {
    WriteLog("%s|error:%d", szTarget, static_cast<int>(GetLastError()));
    // A walk that never started says why on the console too.
    pResult->uEnd = PrintEndLines(szTarget);
  }
  return pSession;
}

// The search of a credential list on a target's first request: each
// entry in turn gets one try; an agent stays silent to a wrong community
// (a time-out each) and reports a wrong SNMPv3 user at once (a round trip
// each). Time-outs go round the list as many times as the session has
// tries; an entry refused by a report is not tried again.
class CCredentialSearch {
 public:
  explicit CCredentialSearch(const CWalkTarget& target)
      : m_target(target),
        m_nEntries(1 + static_cast<int>(target.settings.arrMoreCredentials.size())),
        m_nRounds(1 + std::max(0, target.settings.nRetry)),
        m_arrRefused(static_cast<size_t>(m_nEntries), false) {
    m_bActive = m_nEntries > 1 && target.pnCredential != nullptr && *target.pnCredential < 0;
    const CTargetSettings& settings = target.settings;
    if (m_bActive && settings.nVersion == 3) {
      // Entries whose settings cannot work are never tried.
      m_arrRefused[0] = settings.uV3SettingsError != 0;
      for (int i = 1; i < m_nEntries; ++i)
        m_arrRefused[static_cast<size_t>(i)] = settings.arrMoreCredentials[static_cast<size_t>(i - 1)].uV3SettingsError != 0;
      while (m_arrRefused[static_cast<size_t>(m_nCurrent)] && m_nCurrent + 1 < m_nEntries) ++m_nCurrent;
    }
  }

  // Whether the entry is still to be found: the first request then goes
  // with one try.
  [[nodiscard]] bool Active() const { return m_bActive; }
  // The first request was answered: the entry tried is the target's.
  void Answered() {
    if (!m_bActive) return;
    m_bActive = false;
    *m_target.pnCredential = m_nCurrent;
    const char* szTarget = m_target.strTarget.c_str();
    const int nNumber = Number(m_nCurrent);
    WriteLog("%s|credential %d answered", szTarget, nNumber);
    PrintLine("target[%s]credential:%d\n", szTarget, nNumber);
  }
  // The first request went unanswered, GetLastError() saying why: true
  // when the session now has the next entry to try.
  bool Next(LPSNMP_MGR_SESSION pSession) {
    if (!m_bActive) return false;
    const uint32_t uError = GetLastError();
    const bool bRefused = uError >= SNMP_MGR_ERROR_SECURITY_LEVEL && uError <= SNMP_MGR_ERROR_REPORT &&
                          uError != SNMP_MGR_ERROR_TIME_WINDOW;
    if (uError != SNMP_MGMTAPI_TIMEOUT && !bRefused) return false;
    WriteLog("%s|credential %d: error %d", m_target.strTarget.c_str(), Number(m_nCurrent), static_cast<int>(uError));
    if (bRefused) m_arrRefused[static_cast<size_t>(m_nCurrent)] = true;
    while (true) {
      if (++m_nCurrent == m_nEntries) {
        m_nCurrent = 0;
        if (++m_nRound == m_nRounds) break;
      }
      if (std::all_of(m_arrRefused.begin(), m_arrRefused.end(), [](bool b) { return b; })) break;
      if (m_arrRefused[static_cast<size_t>(m_nCurrent)]) continue;
      if (UseCredential(pSession, m_target.settings, m_nCurrent)) return true;
      m_arrRefused[static_cast<size_t>(m_nCurrent)] = true;
    }
    // None answered: the walk ends with what the last one got.
    m_bActive = false;
    SetLastError(uError);
    return false;
  }

 private:
  // The entry's number in config.ini.
  int Number(int nEntry) const {
    return nEntry == 0 ? 1 : m_target.settings.arrMoreCredentials[static_cast<size_t>(nEntry - 1)].nNumber;
  }

  const CWalkTarget& m_target;
  const int m_nEntries;
  const int m_nRounds;
  std::vector<bool> m_arrRefused;
  bool m_bActive = false;
  int m_nCurrent = 0;
  int m_nRound = 0;
};

// How long a walk's first request goes unanswered before its shape probe
// (Lanes.h) goes out beside it: the round trip from which a walk counts
// as far away (Lanes.cpp). A nearer agent answers first, and the probe
// goes out beside the lanes' first requests, as it always has.
constexpr std::chrono::milliseconds c_probeBesideAfter{20};

// The walk's first request, and, when it is still unanswered after
// c_probeBesideAfter, the shape probe; answered as SnmpMgrRequest answers
// it, the probe's end, when it comes first, kept in *pProbe (its
// boundaries are cleared when it did not go out).
bool RequestBesideProbe(LPSNMP_MGR_SESSION pSession, CLane* pLane, int nTries, CShapeProbe* pProbe) {
  int32_t nId = 0;
  if (!SnmpMgrSend(pSession, pLane->requestType, pLane->nRepetitions, pLane->bindings, &nId, pLane, nTries)) {
    pProbe->boundaries.clear();
    return false;
  }
  auto wake = std::chrono::steady_clock::now() + c_probeBesideAfter;
  while (true) {
    SnmpVarBindList answer;
    int32_t nErrorStatus = 0;
    int32_t nErrorIndex = 0;
    void* pTag = nullptr;
    const bool bAnswered = SnmpMgrReceive(pSession, &nId, &answer, &nErrorStatus, &nErrorIndex, &pTag, wake);
    if (!bAnswered && pTag == nullptr && GetLastError() == SNMP_MGR_OK) {
      // Still unanswered: a far agent. One try: a lost probe only leaves
      // the lanes to split as they answer.
      wake = std::chrono::steady_clock::time_point::max();
      pProbe->bInFlight =
          SnmpMgrSend(pSession, SNMP_PDU_GETNEXT, 0, pProbe->boundaries, &nId, &pProbe->boundaries, 1);
      if (!pProbe->bInFlight) pProbe->boundaries.clear();
      continue;
    }
    if (pTag == &pProbe->boundaries) {
      pProbe->bInFlight = false;
      pProbe->bAnswered = bAnswered;
      pProbe->answer = std::move(answer);
      pProbe->nErrorStatus = nErrorStatus;
      continue;
    }
    if (wake != std::chrono::steady_clock::time_point::max()) pProbe->boundaries.clear();  // never sent
    if (pTag == nullptr) {
      // Receiving failed: every request in flight has ended with it.
      pProbe->bInFlight = false;
      return false;
    }
    if (!bAnswered) return false;
    pLane->bindings = std::move(answer);
    pLane->nErrorStatus = nErrorStatus;
    pLane->nErrorIndex = nErrorIndex;
    return true;
  }
}

// Requests one at a time from the lane's first one until the walk ends,
// or, with a window, goes on in lanes after the first answer.
void RequestInTurn(LPSNMP_MGR_SESSION pSession, CLane* pLane, CWalkContext* pContext) {
  SnmpVarBindList& bindings = pLane->bindings;
  CWalkFigures& figures = pContext->pResult->figures;
  const CWalkTarget& target = pContext->target;
  CCredentialSearch search(target);
  // A first scan with a window sends its shape probe beside its first
  // request when that is slow to come back (RequestBesideProbe), so that
  // far away the lanes at the groups it shows start most of a round trip
  // sooner: not with SNMPv3, whose first request may check the privacy
  // password on its own, nor while a credential list is searched, nor
  // with an earlier scan's OIDs to cut lanes at.
  CShapeProbe probe;
  bool bFirst = true;
  while (true) {
    // The OID asked for: the answer must pass it, and the next request
    // may have to ask for it again.
    const AsnObjectIdentifier requested = bindings.empty() ? AsnObjectIdentifier{} : bindings[0].name;
    ++figures.nRequests;
    const bool bSearching = search.Active();
    const bool bSizeProbe = !bSearching && PrepareSizeProbe(pSession, pLane, pContext);
    const int nTries = bSizeProbe || bSearching ? 1 : 0;
    const bool bProbeBeside = bFirst && !bSearching && !bSizeProbe && target.settings.nVersion != 3 &&
                              (target.pLaneHints == nullptr || target.pLaneHints->empty()) &&
                              PrepareShapeProbe(*pLane, *pContext, &probe);
    bFirst = false;
    const bool bAnswered =
        bProbeBeside ? RequestBesideProbe(pSession, pLane, nTries, &probe)
        : pLane->requestType == SNMP_PDU_GETBULK
            ? SnmpMgrRequestBulk(pSession, pLane->nRepetitions, &bindings, &pLane->nErrorStatus,
                                 &pLane->nErrorIndex, nTries)
            : SnmpMgrRequest(pSession, pLane->requestType, &bindings, &pLane->nErrorStatus, &pLane->nErrorIndex,
                             nTries);
    if (bProbeBeside && !probe.boundaries.empty()) ++figures.nRequests;
    if (!bAnswered && GetLastError() == SNMP_MGMTAPI_TIMEOUT) {
      ++figures.nTimeouts;
      // Asked again, smaller, for the same OID (the bindings are unchanged).
      if (bSizeProbe) {
        ShrinkAfterSilence(pLane, pContext);
        continue;
      }
    }
    // Asked again with the list's next entry.
    if (!bAnswered && search.Next(pSession)) continue;
    if (bAnswered) search.Answered();
    const bool bGoesOn = bAnswered && NextRequest(requested, &bindings, pLane, pContext);
    if (pContext->bCapped) SetLastError(SNMP_MGR_ERROR_OBJECT_CAP);
    if (!bGoesOn) return;
    // Several requests in flight: the walk goes on in lanes from here.
    if (pContext->target.settings.nWindow > 1) {
      WalkLanes(pSession, pLane, pContext, &probe);
      return;
    }
  }
}

// Runs the walk's requests on pSession; false when it was left by an
// exception (memory that ran out gives its own code).
bool RunRequests(LPSNMP_MGR_SESSION pSession, CLane* pLane, CWalkContext* pContext) {
  const char* szTarget = pContext->szTarget;
  try {
    RequestInTurn(pSession, pLane, pContext);
    return true;
  } catch (const std::bad_alloc&) {
    // Memory ran out: the walk ends here with its own code; what it stored
    // stays.
    SetLastError(SNMP_MGR_ERROR_MEMORY);
  } catch (const std::exception&) {
  }
  WriteLog("%s|catch2:%d", szTarget, static_cast<int>(GetLastError()));
  return false;
}

// How the walk ended, for the walk text: at the end of the agent's MIB
// only when it ended without error, an SNMPv1 walk on noSuchName (an
// SNMPv2c or SNMPv3 walk noted its endOfMibView in StoreBindings).
void NoteWalkEnd(bool bLeftOrdinarily, const CLane& lane, CWalkContext* pContext) {
  CWalkResult& result = *pContext->pResult;
  const bool bClean = bLeftOrdinarily && GetLastError() == SNMP_MGR_OK;
  if (bClean && pContext->bContinue && !pContext->bVersion2 && lane.nErrorStatus == SNMP_ERRORSTATUS_NOSUCHNAME) {
    pContext->bReachedEnd = true;
    if (pContext->bKeepTyped) result.typed.SetWalkEnd(EWalkEnd::EndOfMib);
  }
  if (pContext->bKeepTyped && (!bClean || !pContext->bContinue)) result.typed.SetWalkEnd(EWalkEnd::None);
  if (bClean && pContext->bReachedEnd && result.stop == EWalkStop::None) result.stop = EWalkStop::End;
}

// Adds what the session saw to the walk's figures.
void AddSessionFigures(LPSNMP_MGR_SESSION pSession, const CWalkContext& context, CWalkResult* pResult) {
  const CSessionFigures session = SnmpMgrFigures(pSession);
  CWalkFigures* pFigures = &pResult->figures;
  pResult->roundTrips.Merge(session.roundTrips);
  pFigures->nResends += static_cast<uint64_t>(SnmpMgrResends(pSession));
  pFigures->nBytesReceived += static_cast<uint64_t>(session.nBytesReceived);
  pFigures->nLateAnswers += static_cast<uint64_t>(session.nLateAnswers);
  pFigures->nDropped += static_cast<uint64_t>(session.nDropped);
  if (pFigures->strAgent.empty()) pFigures->strAgent = session.strAgent;
  const CTargetSettings& settings = context.target.settings;
  const bool bBulk = context.continueType == SNMP_PDU_GETBULK;
  pFigures->nRepetitionsAtStart = bBulk ? settings.nMaxRepetitions : 0;
  pFigures->nRepetitionsAtEnd = bBulk ? context.nRepetitionsCeiling : 0;
  pFigures->nWindowAtStart = settings.nWindow;
}

// A walk from pszStartOid (bSubtree: of the subtree there, without a GET
// of it).
CWalkResult WalkFrom(const CWalkTarget& target, const char* pszStartOid, bool bContinue, bool bSubtree,
                     CWalkResult result) {
  const char* szTarget = target.strTarget.c_str();
  WriteLog("%s|scan start: %s", szTarget, pszStartOid);
  PrintLine("target[%s]start:%s\n", szTarget, pszStartOid);
  result.nOutcome = 1;
  result.typed.SetWalkEnd(EWalkEnd::None);
  if (result.stop == EWalkStop::End) result.stop = EWalkStop::None;
  result.figures.nWindowAtEnd = 1;
  CWalkContext context(target, bContinue, &result);
  CLane lane;
  lane.nRepetitions = target.settings.nMaxRepetitions;
  if (!FirstRequest(szTarget, pszStartOid, &lane, &result)) return result;
  if (bSubtree) {
    context.bSubtree = true;
    context.subtree = lane.bindings[0].name;
    lane.requestType = context.continueType;
    // A root inside an excluded subtree: the first answer is past it, and
    // the walk ends there.
    bool bNothingAfter = false;
    (void)StepOverExcluded(&lane.bindings[0].name, context, &bNothingAfter);
  }
  LPSNMP_MGR_SESSION pSession = OpenSession(target, &result);
  if (pSession == nullptr) return result;

  WriteLog("%s|SnmpMgrRequest", szTarget);
  const bool bLeftOrdinarily = RunRequests(pSession, &lane, &context);
  if (bLeftOrdinarily) WriteLog("%s|%d,%d", szTarget, lane.nErrorStatus, lane.nErrorIndex);
  // Answers refused to the end: no error of ours, but no success either.
  if (bLeftOrdinarily && GetLastError() == SNMP_MGR_OK && EndedOnRefusal(lane)) SetLastError(SNMP_MGR_ERROR_REFUSED);
  // Stopped at MaxObjects: the code says so, whatever the requests left in flight did.
  if (bLeftOrdinarily && context.bCapped) SetLastError(SNMP_MGR_ERROR_OBJECT_CAP);

  NoteWalkEnd(bLeftOrdinarily, lane, &context);
  WriteLog("%s|GetLastError:%d", szTarget, static_cast<int>(GetLastError()));
  result.uEnd = PrintEndLines(szTarget);
  AddSessionFigures(pSession, context, &result);
  WriteLog("%s|SnmpUtilVarBindListFree", szTarget);
  lane.bindings.clear();
  WriteLog("%s|SnmpUtilMemFree", szTarget);
  WriteLog("%s|SnmpMgrClose", szTarget);
  if (!SnmpMgrClose(pSession)) return result;
  WriteLog("%s|scan end", szTarget);
  result.nOutcome = context.bStored ? 0 : 1;
  return result;
}

}  // namespace

CWalkResult Walk(const CWalkTarget& target, const char* pszStartOid, bool bContinue, CWalkResult result) {
  return WalkFrom(target, pszStartOid, bContinue, false, std::move(result));
}

CWalkResult WalkSubtree(const CWalkTarget& target, const char* pszRoot, CWalkResult result) {
  return WalkFrom(target, pszRoot, true, true, std::move(result));
}

bool GetSysUpTime(const CWalkTarget& target, uint32_t* puTicks) {
  static const uint32_t c_arrSysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
  // Which entry of a credential list answers is the walk's to find.
  if (target.pnCredential != nullptr && *target.pnCredential < 0 && !target.settings.arrMoreCredentials.empty())
    return false;
  LPSNMP_MGR_SESSION pSession = OpenQuietly(target);
  if (pSession == nullptr) return false;
  bool bAnswered = false;
  try {
    SnmpVarBindList bindings(1);
    bindings[0].name.ids.assign(std::begin(c_arrSysUpTime), std::end(c_arrSysUpTime));
    int32_t nErrorStatus = 0;
    int32_t nErrorIndex = 0;
    bAnswered = SnmpMgrRequest(pSession, SNMP_PDU_GET, &bindings, &nErrorStatus, &nErrorIndex) &&
                nErrorStatus == 0 && bindings.size() == 1 && bindings[0].value.asnType == ASN_TIMETICKS && !bindings[0].value.bMalformed;
    if (bAnswered) *puTicks = bindings[0].value.uUnsigned;
  } catch (const std::bad_alloc&) {
    bAnswered = false;
  }
  (void)SnmpMgrClose(pSession);
  WriteLog("%s|sysUpTime:%s", target.strTarget.c_str(), bAnswered ? std::to_string(*puTicks).c_str() : "none");
  return bAnswered;
}
