// The walk with several requests in flight (config.ini "Window" above 1).
//
// The range still to walk is split into lanes: each lane is a GET-NEXT
// or GETBULK chain over a part of the range that no other lane covers,
// and it ends where the next lane's part begins. The lanes share the
// target's one session; up to the window's number of requests are in
// flight at once, one per lane.
//
// Where to split needs no list from the user: the OID a lane will ask for
// next suggests boundaries, the next siblings of its arcs. The busiest
// lane is split at the shallowest of them that lies inside its part, so a
// lane still long while others have ended is split again, once for each
// answer it takes: a group at its next group, a table at its columns, and
// a long column among its instances, as far on as its requests went.
//
// The file is the one a walk of one request at a time writes: each lane
// takes its bindings by the same steps (log line, repeat check, rendering)
// and keeps them until every lane before its own has ended, so entries
// are stored in the order of the walk. Each lane has its own error budget,
// starting from what the lane it was split from had spent: it tolerates
// at least what a walk of one request at a time would have at that point.
//
// The window adapts: it starts at two requests and grows by one with
// each answer that came without a re-send, up to Window; a re-send (a
// time-out, as an agent whose input queue is full drops requests) halves
// it, never below one, and from then on it grows by one only after a
// window's worth of answers in time.
#include <algorithm>
#include <list>

#include "log/LogQueue.h"
#include "mib/MIB.h"
#include "settings/Settings.h"

namespace {

// Requests in flight at the start, before answers show that more fit.
constexpr int c_nFirstWindow = 2;
// Answers a lane takes before it is split among a column's instances.
constexpr int c_nAnswersBeforeInstanceSplit = 2;

// The OID after every OID that begins with the first nArcs arcs of oid:
// those arcs, the last one plus one. False when there is none that a
// request can carry (X.690 8.19.4: at least two arcs, the second below
// 40 under a first of 0 or 1).
bool NextSibling(const AsnObjectIdentifier& oid, size_t nArcs, AsnObjectIdentifier* pSibling) {
  if (nArcs < 2 || nArcs > oid.ids.size() || oid.ids[nArcs - 1] == UINT32_MAX) return false;
  pSibling->ids.assign(oid.ids.begin(), oid.ids.begin() + static_cast<std::ptrdiff_t>(nArcs));
  ++pSibling->ids.back();
  return pSibling->ids[0] >= 2 || pSibling->ids[1] < 40;
}

// A boundary among the instances of the column next is in (its last arc),
// for a lane whose part ends at end (bBounded) or goes on, that last took
// uStride instances a request (0: not known yet; at least nPerRequest
// objects a request are asked for). Half way to the end's own instance in
// the same column, when each half holds two requests or more; or, when the
// column's last instance is unknown, as far again as the index has come,
// since indexes are often dense from 1, and at least 8 requests on, so
// that a lane is worth its request past its end. False when there is no
// room.
bool InstanceBoundary(const AsnObjectIdentifier& next, const AsnObjectIdentifier& end, bool bBounded,
                      int32_t nPerRequest, uint64_t uStride, AsnObjectIdentifier* pBoundary) {
  const size_t nArcs = next.ids.size();
  if (nArcs < 3) return false;
  const uint64_t uLast = next.ids.back();
  const uint64_t uStep = std::max<uint64_t>(uStride, static_cast<uint64_t>(std::max(nPerRequest, 1)));
  uint64_t uBoundary = uLast + std::max<uint64_t>(8 * uStep, uLast);
  if (bBounded && end.ids.size() >= nArcs && std::equal(next.ids.begin(), next.ids.end() - 1, end.ids.begin())) {
    const uint64_t uEnd = end.ids[nArcs - 1];
    if (uEnd < uLast + 4 * uStep) return false;
    uBoundary = uLast + (uEnd - uLast) / 2;
  }
  if (uBoundary > UINT32_MAX) return false;
  *pBoundary = next;
  pBoundary->ids.back() = static_cast<uint32_t>(uBoundary);
  return !bBounded || pBoundary->ids < end.ids;
}

}  // namespace

void CMIB::WalkLanes(LPSNMP_MGR_SESSION pSession, CLane* pFirst, CWalkState* pState) {
  const char* szTarget = m_strTarget.c_str();
  std::list<CLane> lanes;
  lanes.push_back(std::move(*pFirst));
  auto itHead = lanes.begin();  // the first lane that has not ended: it stores at once
  int nWindow = std::min(c_nFirstWindow, m_pSettings->nWindow);
  // Until a request needs sending again the window grows fast, to find the
  // agent's pace; after that slowly, so that an agent whose input queue
  // overflows drops few requests.
  bool bProbing = true;
  int nAnswersToGrow = 0;
  int nInFlight = 0;
  int64_t nResends = SnmpMgrResends(pSession);

  // Stores what the lanes before the first one still running took, in
  // order, and lets that lane store at once from now on.
  const auto storeInOrder = [&](bool bAll) {
    for (; itHead != lanes.end(); ++itHead) {
      itHead->pending.ForEach([&](std::string_view strOid, std::string_view strValue, bool bCrText) {
        try {
          StoreEntry(strOid, strValue, bCrText, pState);
        } catch (const std::exception&) {
          WriteLog("%s|catch1:%d", szTarget, static_cast<int>(GetLastError()));
        }
      });
      itHead->pending.Clear();
      if (!itHead->bEnded && !bAll) {
        itHead->bDirect = true;
        break;
      }
    }
  };
  const auto send = [&](CLane* pLane) {
    if (!SnmpMgrSend(pSession, pLane->requestType, pLane->nRepetitions, pLane->bindings, &pLane->nInFlight)) {
      pLane->bEnded = true;
      pLane->uUnanswered = GetLastError();
      pLane->nInFlight = 0;
      return false;
    }
    ++nInFlight;
    return true;
  };
  // A new lane split off the end of the busiest running lane's part, at
  // the shallowest boundary its next OID suggests (among a column's
  // instances only when no other is left), and its first request; false
  // when no boundary is left or nothing could be sent.
  const auto split = [&]() {
    // The lane that has answered most is the one likely to go on longest.
    // A lane is cut again only once it has answered since it was cut last:
    // else every free request would cut the same lane ever closer to where
    // it stands, into lanes that hold nothing.
    auto itBest = lanes.end();
    AsnObjectIdentifier best;
    for (auto it = itHead; it != lanes.end(); ++it) {
      if (it->bEnded || it->bindings.empty() || it->nAnswers <= it->nAnswersAtSplit ||
          (itBest != lanes.end() && it->nAnswers <= itBest->nAnswers))
        continue;
      const AsnObjectIdentifier& next = it->bindings[0].name;
      AsnObjectIdentifier boundary;
      bool bFound = false;
      // Every arc but the deepest, whose sibling is the next instance: a
      // column's next column, a table's next table, a group's next group.
      // A scalar (instance 0) leaves out its next sibling too: the next
      // scalar is seldom far.
      const bool bScalar = !next.ids.empty() && next.ids.back() == 0;
      const size_t nDeepest = next.ids.size() - (bScalar ? 1 : 0);
      for (size_t nArcs = 2; nArcs < nDeepest && !bFound; ++nArcs)
        bFound = NextSibling(next, nArcs, &boundary) && (!it->bBounded || boundary.ids < it->end.ids);
      // Among a column's instances only once the lane has shown it is long.
      if (!bFound && !bScalar && it->nAnswers >= c_nAnswersBeforeInstanceSplit) {
        const int32_t nPerRequest = it->requestType == SNMP_PDU_GETBULK ? it->nRepetitions : 1;
        bFound = InstanceBoundary(next, it->end, it->bBounded, nPerRequest, it->uStride, &boundary);
      }
      if (!bFound) continue;
      itBest = it;
      best = std::move(boundary);
    }
    if (itBest == lanes.end()) return false;
    CLane lane;
    lane.bindings.assign(1, SnmpVarBind{best, AsnAny{}});
    lane.end = itBest->end;
    lane.bBounded = itBest->bBounded;
    lane.requestType = pState->continueType;
    lane.nRepetitions = itBest->nRepetitions;
    lane.nErrorCount = itBest->nErrorCount;
    lane.bDirect = false;
    itBest->end = best;
    itBest->nAnswersAtSplit = itBest->nAnswers;
    itBest->bBounded = true;
    return send(&*lanes.insert(std::next(itBest), std::move(lane)));
  };

  try {
    while (true) {
      for (auto it = itHead; it != lanes.end() && nInFlight < nWindow; ++it) {
        if (!it->bEnded && it->nInFlight == 0) send(&*it);
      }
      while (nInFlight < nWindow && split()) {
      }
      storeInOrder(false);
      if (nInFlight == 0) break;

      int32_t nId = 0;
      SnmpVarBindList answer;
      int32_t nErrorStatus = 0;
      int32_t nErrorIndex = 0;
      const bool bAnswered = SnmpMgrReceive(pSession, &nId, &answer, &nErrorStatus, &nErrorIndex);
      const uint32_t uError = GetLastError();
      // Lanes before the head have ended: none has a request in flight.
      const auto itLane = std::find_if(itHead, lanes.end(),
                                       [nId](const CLane& lane) { return nId != 0 && lane.nInFlight == nId; });
      if (itLane == lanes.end()) {
        // Receiving failed: every request in flight has ended with it.
        for (CLane& lane : lanes) {
          if (lane.nInFlight == 0) continue;
          lane.nInFlight = 0;
          lane.bEnded = true;
          lane.uUnanswered = uError;
        }
        nInFlight = 0;
        continue;
      }
      --nInFlight;
      itLane->nInFlight = 0;
      // The window: a re-send halves it; answers in time widen it, by one
      // each until the first re-send, by one a window's worth after it.
      const int64_t nNowResends = SnmpMgrResends(pSession);
      if (nNowResends > nResends) {
        nWindow = std::max(1, nWindow / 2);
        nResends = nNowResends;
        bProbing = false;
        nAnswersToGrow = nWindow;
      } else if (bAnswered && (bProbing || --nAnswersToGrow <= 0)) {
        nWindow = std::min(m_pSettings->nWindow, nWindow + 1);
        nAnswersToGrow = nWindow;
      }
      if (!bAnswered) {
        itLane->bEnded = true;
        itLane->uUnanswered = uError;
        continue;
      }
      const AsnObjectIdentifier requested = itLane->bindings[0].name;
      itLane->nErrorStatus = nErrorStatus;
      itLane->nErrorIndex = nErrorIndex;
      itLane->bindings = std::move(answer);
      ++itLane->nAnswers;
      if (!NextRequest(requested, &itLane->bindings, &*itLane, pState)) {
        itLane->bEnded = true;
        continue;
      }
      // How far along a column's instances one request went.
      const AsnObjectIdentifier& next = itLane->bindings[0].name;
      itLane->uStride = 0;
      if (next.ids.size() == requested.ids.size() && next.ids.size() >= 3 && next.ids.back() > requested.ids.back() &&
          std::equal(next.ids.begin(), next.ids.end() - 1, requested.ids.begin()))
        itLane->uStride = next.ids.back() - requested.ids.back();
    }
  } catch (const std::exception&) {
    storeInOrder(true);
    throw;
  }
  storeInOrder(true);
  // The walk ends as its last lane did; a request that went unanswered
  // (the first one, in the walk's order) says why it ended early, and
  // failing that a lane the agent refused to the end.
  const CLane& last = lanes.back();
  pFirst->nErrorStatus = last.nErrorStatus;
  pFirst->nErrorIndex = last.nErrorIndex;
  const auto itUnanswered = std::find_if(lanes.begin(), lanes.end(),
                                         [](const CLane& lane) { return lane.uUnanswered != SNMP_MGR_OK; });
  const bool bRefused = std::any_of(lanes.begin(), lanes.end(), EndedOnRefusal);
  SetLastError(itUnanswered != lanes.end() ? itUnanswered->uUnanswered
               : bRefused                  ? SNMP_MGR_ERROR_REFUSED
                                           : SNMP_MGR_OK);
}
