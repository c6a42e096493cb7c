#include "mib/Lanes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <list>

#include "log/LogQueue.h"
#include "snmp/LastError.h"

namespace {

// Requests in flight at the start, before answers show that more fit, for
// each path unit (CLaneWalk::m_nPathUnits): a far device does not wait a round trip for
// each doubling of a small window.
constexpr int c_nFirstWindow = 2;
// The walk's first round trip in units of c_nPathUnitUs, at least 1 and at
// most c_nMaxPathUnits, scales what starts at once: per unit, as many
// requests reach the agent each millisecond as on a path of 10 ms.
constexpr int64_t c_nPathUnitUs = 10000;
constexpr int64_t c_nMaxPathUnits = 1000;
// On a path of two units or more the first window is what goes out in one
// round trip with one request each c_nOpeningSpacingUs, and goes out so
// spread, not at once: the agent meets one request at a time, as from a
// near walk, and the walk does not wait a round trip for each doubling of
// its window. Once the first answer is in, answers pace the requests.
constexpr int64_t c_nOpeningSpacingUs = 250;
// Where the standard MIB's groups and large tables begin, in order (zeros
// pad the arrays): MIB-II's groups, its interfaces and IP tables, the
// transmission group, RMON, the bridge, the host resources and their
// tables, the interface extensions, entity, the IP and IPv6 MIBs, and the
// enterprises. The walk's own splitting finds the rest.
constexpr std::array<std::array<uint32_t, 9>, 27> c_arrStandardBoundaries{{
    {1, 3, 6, 1, 2, 1, 2},        {1, 3, 6, 1, 2, 1, 2, 2, 1},  {1, 3, 6, 1, 2, 1, 3},
    {1, 3, 6, 1, 2, 1, 4},        {1, 3, 6, 1, 2, 1, 4, 20},    {1, 3, 6, 1, 2, 1, 4, 24},
    {1, 3, 6, 1, 2, 1, 4, 34},    {1, 3, 6, 1, 2, 1, 5},        {1, 3, 6, 1, 2, 1, 6},
    {1, 3, 6, 1, 2, 1, 7},        {1, 3, 6, 1, 2, 1, 10},       {1, 3, 6, 1, 2, 1, 11},
    {1, 3, 6, 1, 2, 1, 16},       {1, 3, 6, 1, 2, 1, 17},       {1, 3, 6, 1, 2, 1, 25},
    {1, 3, 6, 1, 2, 1, 25, 3},    {1, 3, 6, 1, 2, 1, 25, 4},    {1, 3, 6, 1, 2, 1, 25, 5},
    {1, 3, 6, 1, 2, 1, 25, 6},    {1, 3, 6, 1, 2, 1, 31},       {1, 3, 6, 1, 2, 1, 47},
    {1, 3, 6, 1, 2, 1, 48},       {1, 3, 6, 1, 2, 1, 55},       {1, 3, 6, 1, 4, 1},
    {1, 3, 6, 1, 4, 1, 2021},     {1, 3, 6, 1, 4, 1, 8072},     {1, 3, 6, 1, 6, 3},
}};
// Lanes cut at once, before the walk has shown anything: at most this many
// at the groups the shape probe found, and this many for each path unit
// at an earlier scan's OIDs, within the window; the rest split as they
// answer. Lanes that start together reach the agent together, and the
// re-sends of those a busy agent dropped come back together a time-out
// later.
constexpr size_t c_nCutsPerPathUnit = 15;
// A far walk's lanes from an earlier scan hold two requests' worth each,
// as far as the window has room for them: with GETBULK one less than
// twice its repetitions (the last binding shows the lane's end), with
// GET-NEXT this many, so that the request past each lane's end is one in
// so many. Where the window holds the whole device in GETBULK lanes of
// one request's worth, those: each ends with its first answer. Else lanes
// of one request's worth are no faster (the agent's pace binds then) and
// cost more requests; lanes beyond the window wait for room, and one that
// waits long ends the walk late.
constexpr size_t c_nObjectsPerGetNextLane = 8;
// A far first scan cuts a lane at each answer at up to this many of the
// boundaries its next OID suggests (StructuralBoundary's, shallowest
// first), not one each answer: the cuts its next answers would make, a
// round trip or more sooner each. Deep indexes (an OID as an index, a
// MAC address) are found several levels a round trip. A boundary like
// one whose cut came out empty is passed over for the next (they are
// kept, the latest c_nEmptyCutsKept): an OID index's fixed arcs cost a
// request each once, not under every value above them.
constexpr int c_nFarCuts = 4;
constexpr size_t c_nEmptyCutsKept = 256;
// A far first scan keeps its latest cuts that held objects, and the first
// object of each, to learn which tables' columns share their rows
// (NoteHeldCut): those whose index has at least c_nMinIndexArcs arcs (an
// OID, a string, an address), which are found level by level of the index.
constexpr size_t c_nHeldCutsKept = 1024;
constexpr size_t c_nMinIndexArcs = 3;
// A far first scan cuts a long column ahead (CutAhead) once a GETBULK's
// answer held at least this many of its instances in a row (and half its
// repetitions): where the column's end is not known yet, at up to
// c_nAheadCuts points past its last instance, and at up to
// c_nAheadColumns next columns.
constexpr size_t c_nMinDenseRun = 4;
// Instances at most this far apart in such a run make the column dense
// enough to cut ahead: a sparse index (process IDs, say) leaves most
// pieces cut by its spacing empty, each a request.
constexpr uint64_t c_nMaxDenseSpacing = 2;
constexpr int c_nAheadCuts = 4;
// Columns of one table a GETBULK's answer crossed, a few rows each, for a
// lane to be cut ahead along its columns (RunOf).
constexpr uint64_t c_nMinWideColumns = 3;
constexpr int c_nAheadColumns = 4;
// Answers a lane takes before it is split among a column's instances.
constexpr int c_nAnswersBeforeInstanceSplit = 2;

// An OID in an index (SMIv2 encodes it as its length and then its arcs)
// sorts by length first, and under each length by the registration tree:
// every MIB module lives under mib-2, the enterprises or the SNMP modules.
// A far first scan that meets one cuts the rest of its column at those
// three subtrees under the length it met and under this many longer ones,
// and at the start of each length: a table of OIDs (the agent's
// registrations, the subtrees of its views) is not found one level of
// each OID a round trip. Only OIDs under 1.3.6.1 count: a length followed
// by those four arcs seldom happens by chance.
constexpr uint32_t c_nIndexOidLengthsAhead = 4;
constexpr uint32_t c_nIndexOidColumnsAhead = 2;
constexpr std::array<std::array<uint32_t, 6>, 3> c_arrRegistrationSubtrees{{
    {1, 3, 6, 1, 2, 1},  // mib-2
    {1, 3, 6, 1, 4, 1},  // enterprises
    {1, 3, 6, 1, 6, 3},  // snmpModules
}};
// The arcs of a table's OID before its index at the least (1.3.6.1.x.y,
// its entry and a column), and the arcs an OID in an index has at the
// least (1.3.6.1 and one more).
constexpr size_t c_nMinArcsBeforeIndex = 8;
constexpr uint32_t c_nMinIndexOidArcs = 5;

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

// Whether a new lane may start at *pBoundary in lane's part: never
// inside an excluded subtree (the boundary moves past it) nor outside
// the subtree walked.
bool AdmissibleIn(const CLane& lane, const CWalkContext& context, AsnObjectIdentifier* pBoundary) {
  bool bNothingAfter = false;
  if (StepOverExcluded(pBoundary, context, &bNothingAfter) &&
      (bNothingAfter || (lane.bBounded && !(pBoundary->ids < lane.end.ids))))
    return false;
  return !context.bSubtree || InSubtree(*pBoundary, context.subtree);
}

}  // namespace

bool PrepareShapeProbe(const CLane& first, const CWalkContext& context, CShapeProbe* pProbe) {
  SnmpVarBindList& probe = pProbe->boundaries;
  probe.clear();
  if (context.target.settings.nWindow < 2 || first.bEnded || first.bindings.empty() ||
      context.continueType == SNMP_PDU_GET)
    return false;
  const AsnObjectIdentifier& next = first.bindings[0].name;
  for (const auto& arrIds : c_arrStandardBoundaries) {
    AsnObjectIdentifier boundary;
    boundary.ids.assign(arrIds.begin(), arrIds.end());
    while (!boundary.ids.empty() && boundary.ids.back() == 0) boundary.ids.pop_back();  // the list's padding
    if (!(next.ids < boundary.ids) || !AdmissibleIn(first, context, &boundary)) continue;
    if (!probe.empty() && !(probe.back().name.ids < boundary.ids)) continue;
    probe.push_back(SnmpVarBind{std::move(boundary), AsnAny{}});
  }
  if (probe.size() < 2) probe.clear();
  return !probe.empty();
}

namespace {

// One walk in lanes: the lanes in the walk's order, the window, and the
// steps of its loop.
class CLaneWalk {
 public:
  CLaneWalk(LPSNMP_MGR_SESSION pSession, CLane* pFirst, CWalkContext* pContext)
      : m_pSession(pSession),
        m_pContext(pContext),
        m_nMaxWindow(pContext->target.settings.nWindow),
        m_nRoundTripUs(SnmpMgrFigures(pSession).roundTrips.Quantile(0.5)),
        m_nPathUnits(static_cast<int>(std::clamp<int64_t>(m_nRoundTripUs / c_nPathUnitUs, 1, c_nMaxPathUnits))),
        m_nWindow(FirstWindow()),
        m_bOpening(m_nPathUnits > 1),
        m_nextSend(std::chrono::steady_clock::now()),
        m_nResends(SnmpMgrResends(pSession)) {
    m_lanes.push_back(std::move(*pFirst));
    m_itHead = m_lanes.begin();
  }

  void Run(CLane* pFirst, CShapeProbe* pSentProbe) {
    m_bFromEarlierScan = CutAtHints();
    if (pSentProbe != nullptr && !pSentProbe->boundaries.empty()) {
      // Sent beside the walk's first request: its answer may be in.
      m_pProbe = pSentProbe;
      if (pSentProbe->bInFlight) {
        ++m_nInFlight;
        ++m_uSends;
      } else if (pSentProbe->bAnswered && !m_bFromEarlierScan) {
        CutAtShape(pSentProbe->answer, pSentProbe->nErrorStatus);
      }
    } else if (!m_bFromEarlierScan) {
      SendShapeProbe();
    }
    try {
      while (true) {
        FillWindow();
        StoreInOrder(false);
        // At MaxObjects, answers still in flight would only be refused.
        if (m_nInFlight == 0 || m_pContext->bCapped) break;
        ReceiveOne();
      }
    } catch (const std::exception&) {
      StoreInOrder(true);
      throw;
    }
    StoreInOrder(true);
    m_pContext->pResult->figures.nWindowAtEnd = m_nWindow;
    Finish(pFirst);
  }

 private:
  using CLaneIt = std::list<CLane>::iterator;
  // A table whose columns share their rows (NoteHeldCut).
  struct CTable {
    AsnObjectIdentifier prefix;     // the OID of the table's entry
    std::vector<uint32_t> columns;  // the columns known to share their rows
  };
  // The OIDs in an index met (CutAtIndexOids): the arcs before each, and
  // the length it had when met.
  struct CIndexOid {
    std::vector<uint32_t> prefix;
    uint32_t uLength = 0;
    bool bMet = false;  // its cuts at the registration subtrees are made (else a guessed column's)
  };

  // Requests in flight at the start: c_nFirstWindow each path unit, and
  // on a far path at least a round trip's worth of the opening's spacing.
  int FirstWindow() const {
    int64_t nWindow = int64_t{c_nFirstWindow} * m_nPathUnits;
    if (m_nPathUnits > 1) nWindow = std::max(nWindow, m_nRoundTripUs / c_nOpeningSpacingUs);
    return static_cast<int>(std::min<int64_t>(nWindow, m_nMaxWindow));
  }

  // Whether a request may go out now: always but in a far walk's opening,
  // there one each c_nOpeningSpacingUs (or when none is in flight to wait
  // for). Else the next one waits (m_bHeldBack) until m_nextSend.
  bool MaySend() {
    if (!m_bOpening || m_nInFlight == 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextSend) {
      m_bHeldBack = true;
      return false;
    }
    // A walk held up (a busy machine) catches up by a millisecond at most.
    m_nextSend = std::max(m_nextSend, now - std::chrono::milliseconds(1)) +
                 std::chrono::microseconds(c_nOpeningSpacingUs);
    return true;
  }

  // Sends the next request of every lane without one in flight, then
  // splits lanes for the room left in the window.
  void FillWindow() {
    m_bHeldBack = false;
    if (m_pContext->bCapped) return;
    for (auto it = m_itHead; it != m_lanes.end() && m_nInFlight < m_nWindow; ++it) {
      if (!it->bEnded && !it->bInFlight) {
        if (!MaySend()) return;
        Send(&*it);
      }
    }
    while (m_nInFlight < m_nWindow && MaySend() && Split()) {
    }
  }

  bool Send(CLane* pLane) {
    ++m_pContext->pResult->figures.nRequests;
    int32_t nId = 0;
    const bool bSizeProbe = PrepareSizeProbe(m_pSession, pLane, m_pContext);
    if (!SnmpMgrSend(m_pSession, pLane->requestType, pLane->nRepetitions, pLane->bindings, &nId, pLane,
                     bSizeProbe ? 1 : 0)) {
      EndUnanswered(pLane, GetLastError());
      return false;
    }
    pLane->bInFlight = true;
    ++m_nInFlight;
    pLane->bSentAlone = m_nInFlight == 1;
    pLane->uSend = ++m_uSends;
    pLane->nLateAtSend = SnmpMgrLateAnswers(m_pSession);
    return true;
  }

  void EndUnanswered(CLane* pLane, uint32_t uError) {
    pLane->bEnded = true;
    pLane->uUnanswered = uError;
    pLane->bInFlight = false;
    if (uError == SNMP_MGMTAPI_TIMEOUT) ++m_pContext->pResult->figures.nTimeouts;
  }

  // Stores what the lanes before the first one still running took, in
  // order, and lets that lane store at once from now on (bAll: every lane).
  void StoreInOrder(bool bAll) {
    for (; m_itHead != m_lanes.end(); ++m_itHead) {
      m_itHead->pending.ForEach([&](std::string_view strOid, std::string_view strValue, bool bCrText,
                                    std::string_view typedRecord) {
        try {
          m_pContext->StoreEntry(strOid, strValue, bCrText, typedRecord);
        } catch (const std::exception&) {
          WriteLog("%s|catch1:%d", m_pContext->szTarget, static_cast<int>(GetLastError()));
        }
      });
      m_itHead->pending.Clear();
      if (!m_itHead->bEnded && !bAll) {
        m_itHead->bDirect = true;
        break;
      }
    }
  }

  // The shallowest boundary in lane's part that its next OID suggests
  // through one of its arcs from the nFromArcs-th on, and that arc's number
  // in *pnArcs. Every arc but the deepest, whose sibling is the next
  // instance: a column's next column, a table's next table, a group's next
  // group. A scalar (instance 0) leaves out its next sibling too: the next
  // scalar is seldom far.
  static bool StructuralBoundary(const CLane& lane, size_t nFromArcs, size_t* pnArcs, AsnObjectIdentifier* pBoundary) {
    const AsnObjectIdentifier& next = lane.bindings[0].name;
    const bool bScalar = !next.ids.empty() && next.ids.back() == 0;
    const size_t nDeepest = next.ids.size() - (bScalar ? 1 : 0);
    for (size_t nArcs = nFromArcs; nArcs < nDeepest; ++nArcs) {
      if (NextSibling(next, nArcs, pBoundary) && (!lane.bBounded || pBoundary->ids < lane.end.ids)) {
        *pnArcs = nArcs;
        return true;
      }
    }
    return false;
  }

  // The boundary in lane's part at which to split it: the shallowest its
  // next OID suggests, among a column's instances only when no other is
  // left. False when there is none.
  static bool BoundaryOf(const CLane& lane, AsnObjectIdentifier* pBoundary) {
    size_t nArcs = 0;
    if (StructuralBoundary(lane, 2, &nArcs, pBoundary)) return true;
    // Among a column's instances only once the lane has shown it is long.
    const AsnObjectIdentifier& next = lane.bindings[0].name;
    const bool bScalar = !next.ids.empty() && next.ids.back() == 0;
    if (bScalar || lane.nAnswers < c_nAnswersBeforeInstanceSplit) return false;
    const int32_t nPerRequest = lane.requestType == SNMP_PDU_GETBULK ? lane.nRepetitions : 1;
    return InstanceBoundary(next, lane.end, lane.bBounded, nPerRequest, lane.uStride, pBoundary);
  }

  // Cuts the first lane at once, before it has shown anything, at evenly
  // spaced OIDs (by count) of the earlier scan's that lie in its part: as
  // many lanes as the path needs, within the window near and beyond it far
  // away. Each is walked and checked as any lane is, so a wrong guess
  // (another device, a stale or hostile file) costs a request, never an
  // entry.
  // True when it cut any.
  bool CutAtHints() {
    const std::vector<AsnObjectIdentifier>* pHints = m_pContext->target.pLaneHints;
    CLane& first = m_lanes.front();
    if (pHints == nullptr || pHints->empty() || m_nMaxWindow < 2 || first.bEnded || first.bindings.empty()) return false;
    const AsnObjectIdentifier next = first.bindings[0].name;
    std::vector<AsnObjectIdentifier> arrInPart;
    for (const AsnObjectIdentifier& hint : *pHints) {
      AsnObjectIdentifier boundary = hint;
      if (!(next.ids < boundary.ids) || !Admissible(first, &boundary)) continue;
      if (arrInPart.empty() || arrInPart.back().ids < boundary.ids) arrInPart.push_back(std::move(boundary));
    }
    size_t nCuts = std::min({arrInPart.size(), static_cast<size_t>(m_nMaxWindow - 1),
                             c_nCutsPerPathUnit * static_cast<size_t>(m_nPathUnits)});
    if (m_bOpening) {
      // Far away, where each request in a row costs a long round trip: a
      // lane for each c_nObjectsPerGetNextLane or two GETBULKs' worth of
      // the earlier scan's objects, so that most end with their second
      // answer, as many as the window holds. With GETBULK, lanes of one
      // request's worth (four fifths of its repetitions, for the sample's
      // spread) when the window holds them all: each ends with its first
      // answer; and never more lanes than those of two: lanes of less
      // than two requests' worth take two as well, each one more request
      // for the agent.
      const size_t nInPart = m_pContext->target.nEarlierObjects * arrInPart.size() / pHints->size();
      const bool bBulk = first.requestType == SNMP_PDU_GETBULK && first.nRepetitions > 1;
      const size_t nPerLane = bBulk ? static_cast<size_t>(2 * first.nRepetitions - 1) : c_nObjectsPerGetNextLane;
      const size_t nWanted = std::min(nInPart / nPerLane, static_cast<size_t>(m_nMaxWindow - 1));
      if (bBulk) {
        const size_t nPerRequest = std::max<size_t>(static_cast<size_t>(first.nRepetitions - 1) * 4 / 5, 1);
        const size_t nOneEach = (nInPart + nPerRequest - 1) / nPerRequest;
        nCuts = std::min(arrInPart.size(), nOneEach < static_cast<size_t>(m_nMaxWindow) ? nOneEach : nWanted);
      } else {
        nCuts = std::min(arrInPart.size(), std::max(nCuts, nWanted));
      }
    }
    for (size_t i = 0; i < nCuts; ++i) {
      CLane* pLast = &m_lanes.back();
      m_lanes.push_back(CutAt(pLast, arrInPart[(i + 1) * arrInPart.size() / (nCuts + 1)]));
    }
    // Far away the lanes are cut to two requests' worth: each is split
    // only once it proves longer, after its third answer.
    if (m_bOpening) {
      for (CLane& lane : m_lanes) lane.nAnswersAtSplit = 2;
    }
    if (nCuts > 0) WriteLog("%s|lanes from an earlier scan: %d", m_pContext->szTarget, static_cast<int>(nCuts + 1));
    return nCuts > 0;
  }

  // A first scan whose walk did not send the shape probe beside its first
  // request (Lanes.h) sends it now, beside the lanes' first requests.
  void SendShapeProbe() {
    if (!PrepareShapeProbe(m_lanes.front(), *m_pContext, &m_ownProbe)) return;
    int32_t nId = 0;
    ++m_pContext->pResult->figures.nRequests;
    // One try: a lost probe only leaves the lanes to split as they answer.
    if (!SnmpMgrSend(m_pSession, SNMP_PDU_GETNEXT, 0, m_ownProbe.boundaries, &nId, &m_ownProbe.boundaries, 1))
      return;
    m_pProbe = &m_ownProbe;
    ++m_nInFlight;
    ++m_uSends;
  }

  void ShapeAnswered(bool bAnswered, const SnmpVarBindList& answer, int32_t nErrorStatus) {
    --m_nInFlight;
    if (bAnswered && !m_bFromEarlierScan) CutAtShape(answer, nErrorStatus);
  }

  // The probe's answer: a lane cut at each boundary whose group holds an
  // object (the object after it comes before the next boundary), in the
  // lane whose part holds it, at most c_nCutsPerPathUnit and within the
  // window.
  void CutAtShape(const SnmpVarBindList& answer, int32_t nErrorStatus) {
    const SnmpVarBindList& probe = m_pProbe->boundaries;
    if (nErrorStatus != 0 || answer.size() != probe.size()) return;
    std::vector<AsnObjectIdentifier> arrFound;
    for (size_t i = 0; i < probe.size(); ++i) {
      const SnmpVarBind& found = answer[i];
      if (found.value.asnType == SNMP_EXCEPTION_ENDOFMIBVIEW || !(probe[i].name.ids < found.name.ids)) continue;
      if (i + 1 < probe.size() && !(found.name.ids < probe[i + 1].name.ids)) continue;  // an empty group
      arrFound.push_back(probe[i].name);
    }
    const size_t nCuts = std::min({arrFound.size(), static_cast<size_t>(m_nMaxWindow - 1), c_nCutsPerPathUnit * static_cast<size_t>(m_nPathUnits)});
    int nMade = 0;
    for (size_t i = 0; i < nCuts; ++i) {
      const AsnObjectIdentifier& boundary = arrFound[i * arrFound.size() / nCuts];
      const auto it = LaneHolding(boundary);
      if (it == m_lanes.end()) continue;
      m_lanes.insert(std::next(it), CutAt(&*it, boundary));
      ++nMade;
    }
    if (nMade > 0) WriteLog("%s|lanes from the MIB's groups: %d", m_pContext->szTarget, nMade);
  }

  bool Admissible(const CLane& lane, AsnObjectIdentifier* pBoundary) const {
    return AdmissibleIn(lane, *m_pContext, pBoundary);
  }

  // A new lane split off the end of the busiest running lane's part, and
  // its first request; false when no boundary is left or nothing could be
  // sent.
  bool Split() {
    // The lane that has answered most is the one likely to go on longest.
    // A lane is cut again only once it has answered since it was cut last:
    // else every free request would cut the same lane ever closer to where
    // it stands, into lanes that hold nothing.
    auto itBest = m_lanes.end();
    AsnObjectIdentifier best;
    for (auto it = m_itHead; it != m_lanes.end(); ++it) {
      if (it->bEnded || it->bindings.empty() || it->nAnswers <= it->nAnswersAtSplit ||
          (itBest != m_lanes.end() && it->nAnswers <= itBest->nAnswers))
        continue;
      AsnObjectIdentifier boundary;
      if (!BoundaryOf(*it, &boundary) || !Admissible(*it, &boundary)) continue;
      itBest = it;
      best = std::move(boundary);
    }
    if (itBest == m_lanes.end()) return false;
    return Send(&*m_lanes.insert(std::next(itBest), CutAt(&*itBest, best)));
  }

  // Ends *pLane's part at boundary; the lane that walks the rest of it.
  CLane CutAt(CLane* pLane, const AsnObjectIdentifier& boundary) const {
    CLane lane;
    lane.bindings.assign(1, SnmpVarBind{boundary, AsnAny{}});
    lane.end = pLane->end;
    lane.bBounded = pLane->bBounded;
    lane.requestType = m_pContext->continueType;
    lane.nRepetitions = pLane->nRepetitions;
    lane.nErrorCount = pLane->nErrorCount;
    lane.bDirect = false;
    pLane->end = boundary;
    pLane->nAnswersAtSplit = pLane->nAnswers;
    pLane->bBounded = true;
    return lane;
  }

  // Waits for the next request in flight to end, and takes its answer.
  void ReceiveOne() {
    int32_t nId = 0;
    SnmpVarBindList answer;
    int32_t nErrorStatus = 0;
    int32_t nErrorIndex = 0;
    void* pTag = nullptr;
    const bool bAnswered = SnmpMgrReceive(m_pSession, &nId, &answer, &nErrorStatus, &nErrorIndex, &pTag,
                                          m_bHeldBack ? m_nextSend : std::chrono::steady_clock::time_point::max());
    const uint32_t uError = GetLastError();
    if (!bAnswered && pTag == nullptr && uError == SNMP_MGR_OK) return;  // time for the next of the opening
    m_bOpening = false;
    if (m_pProbe != nullptr && pTag == &m_pProbe->boundaries) {
      ShapeAnswered(bAnswered, answer, nErrorStatus);
      return;
    }
    auto* pLane = static_cast<CLane*>(pTag);  // the tag each request was sent with
    if (pLane == nullptr) {
      // Receiving failed: every request in flight has ended with it.
      for (CLane& lane : m_lanes) {
        if (lane.bInFlight) EndUnanswered(&lane, uError);
      }
      m_nInFlight = 0;
      return;
    }
    --m_nInFlight;
    pLane->bInFlight = false;
    // A request that went alone and stayed alone in flight met the agent
    // as Window=1 would have.
    const bool bAlone = pLane->bSentAlone && pLane->uSend == m_uSends;
    const bool bLost = !bAnswered && uError == SNMP_MGMTAPI_TIMEOUT;
    AdaptWindow(bAnswered, bLost);
    if (bLost && AsksAgain(pLane, bAlone)) {
      ++m_pContext->pResult->figures.nTimeouts;
      // Silence to a size probe that was alone is the size of its answer.
      if (pLane->bSizeProbe && bAlone) ShrinkAfterSilence(pLane, m_pContext);
      return;
    }
    if (!bAnswered) {
      EndUnanswered(pLane, uError);
      return;
    }
    pLane->nErrorStatus = nErrorStatus;
    pLane->nErrorIndex = nErrorIndex;
    const bool bFarFirst = m_nPathUnits > 1 && !m_bFromEarlierScan;
    CRun run;
    const bool bRun = bFarFirst && RunOf(*pLane, answer, &run);
    if (pLane->bGuessed) NoteEmptyCut(*pLane, pLane->bindings[0].name, answer);
    // A cut lane's first answer shows whether its part held anything, and
    // the first object in it.
    AsnObjectIdentifier start;
    AsnObjectIdentifier firstFound;
    if (bFarFirst && pLane->nAnswers == 0 && pLane != &m_lanes.front() && nErrorStatus == 0 && !answer.empty() &&
        answer.front().value.asnType != SNMP_EXCEPTION_ENDOFMIBVIEW &&
        (!pLane->bBounded || answer.front().name.ids < pLane->end.ids)) {
      start = pLane->bindings[0].name;
      firstFound = answer.front().name;
    }
    if (bFarFirst && nErrorStatus == 0) CutAtIndexOids(*pLane, answer);
    const AsnObjectIdentifier asked = bFarFirst ? pLane->bindings[0].name : AsnObjectIdentifier{};
    TakeAnswer(pLane, std::move(answer));
    if (!bFarFirst) return;
    if (!start.ids.empty()) {
      MirrorAcrossColumns(start);
      NoteHeldCut(start, firstFound);
    }
    if (!pLane->bEnded) {
      const auto it = std::find_if(m_itHead, m_lanes.end(), [&](const CLane& lane) { return &lane == pLane; });
      if (it == m_lanes.end()) return;
      if (bRun) CutAhead(it, run);
      CutAtAnswer(it);
      MirrorRow(asked, pLane->bindings[0].name);
    }
  }

  // A far first scan: the row a lane goes on from (next, after the answer
  // to its request from asked), in a column whose index holds an OID, cut
  // in the table's other columns where such an index was met (a guessed
  // column may not be there). A column that lags another by a round trip
  // or more (the next columns, found or guessed as the one before
  // answers) then walks on from the rows the other has shown, not one
  // answer after the other. Only where the other column's lane has not
  // asked past asked: the answer it waits for ends at the same row, so
  // the cut costs no request twice. (Not in the tables NoteHeldCut finds:
  // MIB-II's groups can look like one, each group a column.)
  void MirrorRow(const AsnObjectIdentifier& asked, const AsnObjectIdentifier& next) {
    std::vector<uint32_t> prefix;
    uint32_t uLength = 0;
    if (!IndexOidAt(next, &prefix, &uLength)) return;
    // Columns of the same table: the same prefix but for one arc, the
    // column's.
    for (const CIndexOid& other : m_arrIndexOids) {
      if (!other.bMet || other.prefix.size() != prefix.size() || other.prefix == prefix) continue;
      const auto itDiffers = std::mismatch(other.prefix.begin(), other.prefix.end(), prefix.begin()).first;
      const size_t nColumn = static_cast<size_t>(itDiffers - other.prefix.begin());
      if (std::equal(itDiffers + 1, other.prefix.end(), prefix.begin() + static_cast<std::ptrdiff_t>(nColumn) + 1))
        CutInColumn(asked, next, nColumn, *itDiffers);
    }
  }

  // MirrorRow's cut at next in the column uColumn (its arc nColumn), where
  // asked is in next's column.
  void CutInColumn(const AsnObjectIdentifier& asked, const AsnObjectIdentifier& next, size_t nColumn, uint32_t uColumn) {
    if (next.ids[nColumn] == uColumn || asked.ids.size() <= nColumn ||
        !std::equal(next.ids.begin(), next.ids.begin() + static_cast<std::ptrdiff_t>(nColumn) + 1, asked.ids.begin()))
      return;
    AsnObjectIdentifier mirrored = next;
    mirrored.ids[nColumn] = uColumn;
    AsnObjectIdentifier notPast = asked;
    notPast.ids[nColumn] = uColumn;
    CutInside(mirrored, &notPast);
  }

  // Where oid's index holds an OID: the arcs before its length, and the
  // length.
  static bool IndexOidAt(const AsnObjectIdentifier& oid, std::vector<uint32_t>* pPrefix, uint32_t* puLength) {
    const std::vector<uint32_t>& ids = oid.ids;
    for (size_t n = c_nMinArcsBeforeIndex; n + c_nMinIndexOidArcs < ids.size(); ++n) {
      const uint32_t uLength = ids[n];
      if (uLength < c_nMinIndexOidArcs || uLength > ids.size() - n - 1 || ids[n + 1] != 1 || ids[n + 2] != 3 ||
          ids[n + 3] != 6 || ids[n + 4] != 1)
        continue;
      pPrefix->assign(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(n));
      *puLength = uLength;
      return true;
    }
    return false;
  }

  // A far first scan: a GETBULK's answer that ends in a column whose index
  // holds an OID, with most of its repetitions in that column, cuts the
  // rest of the column where the OIDs of its rows are likely to begin
  // (c_arrRegistrationSubtrees), once; and so the other columns of its
  // table known to share its rows (TableColumnsFound). The next
  // c_nIndexOidColumnsAhead columns (after the arc that follows the
  // table's entry's arc 1) are cut at once at each length, as a guess: a
  // table's columns share their index, and each column found only when a
  // lane reaches it starts a round trip or more after the one before.
  // Where a guess shows rows, its column is cut as one met. Past the
  // table's last column a guess costs a request a length.
  void CutAtIndexOids(const CLane& lane, const SnmpVarBindList& answer) {
    std::vector<uint32_t> prefix;
    uint32_t uLength = 0;
    if (lane.requestType != SNMP_PDU_GETBULK || answer.empty() || m_arrIndexOids.size() >= c_nHeldCutsKept ||
        !IndexOidAt(answer.back().name, &prefix, &uLength))
      return;
    const auto nInColumn = std::count_if(answer.begin(), answer.end(), [&](const SnmpVarBind& binding) {
      return binding.name.ids.size() > prefix.size() &&
             std::equal(prefix.begin(), prefix.end(), binding.name.ids.begin());
    });
    if (nInColumn < std::max<std::ptrdiff_t>(c_nMinDenseRun, (lane.nRepetitions + 1) / 2) ||
        !CutMetIndexOid(prefix, uLength, answer.back().name))
      return;
    for (const CTable& table : m_tables) MirrorIndexOids(table);
    // The next columns', guessed.
    size_t nColumn = prefix.size() - 1;
    while (nColumn >= c_nMinArcsBeforeIndex && prefix[nColumn - 1] != 1) --nColumn;
    if (nColumn + 1 < c_nMinArcsBeforeIndex || prefix[nColumn - 1] != 1) return;
    for (uint32_t k = 1; k <= c_nIndexOidColumnsAhead && prefix[nColumn] <= UINT32_MAX - k; ++k) {
      CIndexOid guess{prefix, uLength, false};
      guess.prefix[nColumn] += k;
      if (KnownIndexOid(guess.prefix) != m_arrIndexOids.end()) continue;
      m_arrIndexOids.push_back(guess);
      AsnObjectIdentifier start;
      start.ids = guess.prefix;
      CutIndexOid(guess, start, false);
    }
  }

  // The OID index known at prefix, met or guessed; end() when none is.
  std::vector<CIndexOid>::iterator KnownIndexOid(const std::vector<uint32_t>& prefix) {
    return std::find_if(m_arrIndexOids.begin(), m_arrIndexOids.end(),
                        [&](const CIndexOid& known) { return known.prefix == prefix; });
  }

  // Cuts the column of the OID index at prefix past after as one met (at
  // its registration subtrees), unless it was cut so already; a guessed
  // column keeps the length it was guessed with. False when it was.
  bool CutMetIndexOid(const std::vector<uint32_t>& prefix, uint32_t uLength, const AsnObjectIdentifier& after) {
    auto itKnown = KnownIndexOid(prefix);
    if (itKnown == m_arrIndexOids.end()) {
      m_arrIndexOids.push_back(CIndexOid{prefix, uLength, false});
      itKnown = m_arrIndexOids.end() - 1;
    } else if (itKnown->bMet) {
      return false;
    }
    itKnown->bMet = true;
    CutIndexOid(*itKnown, after, true);
    return true;
  }

  // Cuts the column indexOid is in past after where its OIDs' lengths
  // begin, and with bSubtrees where their registration subtrees begin
  // under each length. The farthest first: each cut ends the lane that
  // holds it sooner.
  void CutIndexOid(const CIndexOid& indexOid, const AsnObjectIdentifier& after, bool bSubtrees) {
    const uint32_t uFirst = indexOid.uLength;
    const uint32_t uLast = std::min<uint32_t>(uFirst + c_nIndexOidLengthsAhead, UINT32_MAX - 1);
    AsnObjectIdentifier boundary;
    for (uint32_t uLength = uLast + 1; uLength >= uFirst; --uLength) {
      boundary.ids = indexOid.prefix;
      boundary.ids.push_back(uLength);
      // With the subtrees cut, a length's first one begins its part: only
      // the lengths past the last are cut where they begin.
      if (uLength > uFirst && (!bSubtrees || uLength > uLast) && after.ids < boundary.ids && !LikeAnEmptyCut(boundary))
        CutInside(boundary);
      if (uLength > uLast || !bSubtrees) continue;
      for (auto itSubtree = c_arrRegistrationSubtrees.rbegin(); itSubtree != c_arrRegistrationSubtrees.rend();
           ++itSubtree) {
        boundary.ids.resize(indexOid.prefix.size() + 1);
        boundary.ids.insert(boundary.ids.end(), itSubtree->begin(), itSubtree->end());
        if (after.ids < boundary.ids && !LikeAnEmptyCut(boundary)) CutInside(boundary);
      }
    }
  }

  // The most arcs of a cut at an answer (CutAtAnswer) in a lane whose next
  // OID is next: in a column whose index holds an OID met (its
  // registration subtrees are cut), the group of the OID's subtree (an
  // arc of mib-2, an enterprise); else no bound. Under a fixed length the
  // deeper boundaries such an OID suggests (its siblings, the rest of its
  // index after it) seldom hold more than a row, and each cut costs a
  // request that the agent answers with all its repetitions: in a table of
  // the agent's registrations that work, not the round trips, is what
  // keeps the walk long.
  size_t DeepestCutIn(const AsnObjectIdentifier& next) {
    std::vector<uint32_t> prefix;
    uint32_t uLength = 0;
    if (!IndexOidAt(next, &prefix, &uLength)) return SIZE_MAX;
    const auto itKnown = KnownIndexOid(prefix);
    if (itKnown == m_arrIndexOids.end() || !itKnown->bMet) return SIZE_MAX;
    return prefix.size() + 1 + c_arrRegistrationSubtrees[0].size() + 1;
  }

  // Whether boundary is the next sibling of one of the first arcs of an
  // OID in an index met (1.3.6.1.2.2, 1.3.6.1.3, 1.3.7 ...): the
  // registration tree holds next to nothing there, and the column is cut
  // at its subtrees already (CutIndexOid).
  bool InRegistrationTop(const AsnObjectIdentifier& boundary) const {
    const std::vector<uint32_t>& ids = boundary.ids;
    return std::any_of(m_arrIndexOids.begin(), m_arrIndexOids.end(), [&](const CIndexOid& indexOid) {
      const size_t nLength = indexOid.prefix.size();
      return indexOid.bMet && ids.size() >= nLength + 2 && ids.size() <= nLength + 1 + c_arrRegistrationSubtrees[0].size() &&
             std::equal(indexOid.prefix.begin(), indexOid.prefix.end(), ids.begin());
    });
  }

  // The cuts of each OID index met in one of table's columns, made in its
  // other columns known, once each.
  void MirrorIndexOids(const CTable& table) {
    const size_t nColumn = table.prefix.ids.size();
    const size_t nKnown = m_arrIndexOids.size();
    for (size_t i = 0; i < nKnown; ++i) {
      const CIndexOid met = m_arrIndexOids[i];
      if (!met.bMet || met.prefix.size() <= nColumn ||
          !std::equal(table.prefix.ids.begin(), table.prefix.ids.end(), met.prefix.begin()) ||
          std::find(table.columns.begin(), table.columns.end(), met.prefix[nColumn]) == table.columns.end())
        continue;
      for (const uint32_t uColumn : table.columns) {
        AsnObjectIdentifier start;
        start.ids = met.prefix;
        start.ids[nColumn] = uColumn;
        CutMetIndexOid(start.ids, met.uLength, start);
      }
    }
  }

  // A far first scan learns which tables have an index of several arcs
  // (an OID, a string, an address) in more than one column: a cut at a
  // column (a sibling of a table's entry's arc 1) that held objects, whose
  // first object is, but for the column, one that began a cut in an
  // earlier column of the same table. A table's columns share their
  // index, so each cut found to hold objects in one of its columns is
  // made in its other columns too (MirrorAcrossColumns), and
  // its next columns are cut at once: each column is not walked level by
  // level of its index anew, a round trip each, behind the one before.
  // A guess that is wrong (the columns' rows differ) costs a request.
  void NoteHeldCut(const AsnObjectIdentifier& start, const AsnObjectIdentifier& firstFound) {
    if (m_arrHeldCuts.size() == c_nHeldCutsKept) m_arrHeldCuts.erase(m_arrHeldCuts.begin());
    m_arrHeldCuts.push_back(start);
    const std::vector<uint32_t>& found = firstFound.ids;
    const size_t nColumn = start.ids.size() - 1;
    const bool bColumnStart = start.ids.size() >= 3 && start.ids[nColumn - 1] == 1 &&
                              found.size() >= nColumn + 1 + c_nMinIndexArcs &&
                              std::equal(start.ids.begin(), start.ids.end(), found.begin());
    if (bColumnStart) {
      const auto itEarlier = std::find_if(m_arrFirstFound.begin(), m_arrFirstFound.end(), [&](const AsnObjectIdentifier& oid) {
        return oid.ids.size() == found.size() && oid.ids[nColumn] < found[nColumn] &&
               std::equal(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(nColumn), oid.ids.begin()) &&
               std::equal(found.begin() + static_cast<std::ptrdiff_t>(nColumn) + 1, found.end(),
                          oid.ids.begin() + static_cast<std::ptrdiff_t>(nColumn) + 1);
      });
      if (itEarlier != m_arrFirstFound.end()) TableColumnsFound(start, itEarlier->ids[nColumn]);
    }
    if (m_arrFirstFound.size() == c_nHeldCutsKept) m_arrFirstFound.erase(m_arrFirstFound.begin());
    m_arrFirstFound.push_back(firstFound);
  }

  // column (a table's prefix and a column's arc) and the table's column
  // uEarlier hold the same rows: cuts held in either are made in the
  // other, and the next c_nAheadColumns - 1 columns are cut at once.
  void TableColumnsFound(const AsnObjectIdentifier& column, uint32_t uEarlier) {
    const size_t nColumn = column.ids.size() - 1;
    auto itTable = std::find_if(m_tables.begin(), m_tables.end(), [&](const CTable& table) {
      return table.prefix.ids.size() == nColumn && std::equal(table.prefix.ids.begin(), table.prefix.ids.end(), column.ids.begin());
    });
    if (itTable == m_tables.end()) {
      CTable table;
      table.prefix.ids.assign(column.ids.begin(), column.ids.end() - 1);
      itTable = m_tables.insert(m_tables.end(), std::move(table));
    }
    for (const uint32_t uColumn : {uEarlier, column.ids.back()}) {
      if (std::find(itTable->columns.begin(), itTable->columns.end(), uColumn) == itTable->columns.end())
        itTable->columns.push_back(uColumn);
    }
    for (const AsnObjectIdentifier& held : m_arrHeldCuts) MirrorAcrossColumns(held);
    MirrorIndexOids(*itTable);
    for (int k = 1; k < c_nAheadColumns && column.ids.back() <= UINT32_MAX - static_cast<uint32_t>(k); ++k) {
      AsnObjectIdentifier next = column;
      next.ids.back() += static_cast<uint32_t>(k);
      CutInside(next);
    }
  }

  // Makes the cut held, inside a column of a table whose columns share
  // their rows, in the table's other columns known.
  void MirrorAcrossColumns(const AsnObjectIdentifier& held) {
    for (const CTable& table : m_tables) {
      const size_t nColumn = table.prefix.ids.size();
      if (held.ids.size() <= nColumn + 1 ||
          !std::equal(table.prefix.ids.begin(), table.prefix.ids.end(), held.ids.begin()) ||
          std::find(table.columns.begin(), table.columns.end(), held.ids[nColumn]) == table.columns.end())
        continue;
      for (const uint32_t uColumn : table.columns) {
        if (uColumn == held.ids[nColumn]) continue;
        AsnObjectIdentifier mirrored = held;
        mirrored.ids[nColumn] = uColumn;
        CutInside(mirrored);
      }
    }
  }

  // The running lane whose part holds boundary ahead of its next OID;
  // none (end()) when boundary begins a lane's part already or was walked.
  CLaneIt LaneHolding(const AsnObjectIdentifier& boundary) {
    return std::find_if(m_itHead, m_lanes.end(), [&](const CLane& lane) {
      return !lane.bEnded && !lane.bindings.empty() && lane.bindings[0].name.ids < boundary.ids &&
             (!lane.bBounded || boundary.ids < lane.end.ids);
    });
  }

  // Cuts the lane whose part holds boundary there (LaneHolding); with
  // pNotPast, only one whose next OID is not past *pNotPast.
  void CutInside(const AsnObjectIdentifier& boundary, const AsnObjectIdentifier* pNotPast = nullptr) {
    const auto it = LaneHolding(boundary);
    AsnObjectIdentifier admitted = boundary;
    if (it == m_lanes.end() || (pNotPast != nullptr && pNotPast->ids < it->bindings[0].name.ids) ||
        !Admissible(*it, &admitted) || admitted.ids != boundary.ids)
      return;
    m_lanes.insert(std::next(it), CutAt(&*it, boundary))->bGuessed = true;
  }

  // The columns after the one lane's next OID is in, where its part or
  // the lane after it, not yet sent, begins at the next: a table's columns
  // are as long as each other, and each found only once the lane before
  // it has answered would start a round trip after it. Up to
  // c_nAheadColumns, at most nRoom; a column that is not there costs one
  // request.
  void CutColumnsAhead(CLaneIt it, int nRoom) {
    const AsnObjectIdentifier& next = it->bindings[0].name;
    AsnObjectIdentifier column;
    if (nRoom <= 0 || !NextSibling(next, next.ids.size() - 1, &column)) return;
    CLaneIt itColumn = std::next(it);
    if (!it->bBounded || column.ids < it->end.ids) {
      AsnObjectIdentifier boundary = column;
      if (!Admissible(*it, &boundary) || boundary.ids != column.ids) return;
      itColumn = m_lanes.insert(std::next(it), CutAt(&*it, column));
      --nRoom;
    }
    if (itColumn == m_lanes.end() || itColumn->nAnswers > 0 || itColumn->bEnded || itColumn->bindings.empty() ||
        itColumn->bindings[0].name.ids != column.ids)
      return;
    for (int k = std::min(nRoom, c_nAheadColumns - 1); k >= 1; --k) {
      if (column.ids.back() > UINT32_MAX - static_cast<uint32_t>(k)) continue;
      AsnObjectIdentifier boundary = column;
      boundary.ids.back() += static_cast<uint32_t>(k);
      if ((itColumn->bBounded && !(boundary.ids < itColumn->end.ids)) || !Admissible(*itColumn, &boundary)) continue;
      m_lanes.insert(std::next(itColumn), CutAt(&*itColumn, boundary));
    }
  }

  // Where a GETBULK's answer to lane shows a long run to cut ahead along:
  // an arc of the lane's next OID (nArc, from 0) that the run stepped
  // through densely, and how far along it two requests go. Either most
  // of its repetitions are instances of one column, told apart by their
  // last arc, at most c_nMaxDenseSpacing apart (a long column); or they
  // crossed c_nMinWideColumns columns or more of one table, a few rows
  // each, at most c_nMaxDenseSpacing columns apart (a table of many
  // columns and few rows, whose columns are found one answer at a time
  // otherwise). False when the answer shows neither.
  struct CRun {
    size_t nArc = 0;
    uint64_t uPiece = 0;  // two requests' worth along the arc
    bool bInstances = false;
  };
  static bool RunOf(const CLane& lane, const SnmpVarBindList& answer, CRun* pRun) {
    if (lane.requestType != SNMP_PDU_GETBULK || answer.empty()) return false;
    const uint64_t uReps = static_cast<uint64_t>(std::max(lane.nRepetitions, 1));
    const size_t nMinRun = std::max<size_t>(c_nMinDenseRun, static_cast<size_t>(uReps + 1) / 2);
    const std::vector<uint32_t>& last = answer.back().name.ids;
    if (last.size() < 3 || answer.size() < nMinRun) return false;
    // The run of bindings before the last of the same length and in the
    // same column (bInstances) or table (a column arc nArc).
    size_t nRun = 1;
    size_t nArc = last.size() - 1;
    uint64_t uCrossings = 0;
    for (size_t i = answer.size() - 1; i > 0; --i, ++nRun) {
      const std::vector<uint32_t>& before = answer[i - 1].name.ids;
      const std::vector<uint32_t>& after = answer[i].name.ids;
      if (before.size() != last.size()) break;
      const size_t nDiff = static_cast<size_t>(std::mismatch(before.begin(), before.end(), after.begin()).first - before.begin());
      if (nDiff >= before.size() || before[nDiff] > after[nDiff]) break;
      if (nDiff == last.size() - 1) continue;  // the next instance of a column
      // Another column: only at the same arc, at least one arc above the
      // last, and the run's first crossing fixes it.
      if (nDiff + 2 > last.size() || (uCrossings > 0 && nDiff != nArc) ||
          !std::equal(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(nDiff), last.begin()))
        break;
      nArc = nDiff;
      ++uCrossings;
    }
    if (nRun < nMinRun) return false;
    const size_t nFirst = answer.size() - nRun;
    if (uCrossings == 0) {
      const uint64_t uSpan = last.back() - answer[nFirst].name.ids.back();
      const uint64_t uDensity = std::max<uint64_t>(1, (uSpan + nRun - 2) / (nRun - 1));
      if (uDensity > c_nMaxDenseSpacing) return false;
      *pRun = CRun{last.size() - 1, 2 * uDensity * uReps, true};
      return true;
    }
    if (uCrossings + 1 < c_nMinWideColumns || nRun < 2 * uCrossings) return false;
    const uint64_t uSpan = last[nArc] - answer[nFirst].name.ids[nArc];
    if (uSpan > c_nMaxDenseSpacing * uCrossings) return false;
    *pRun = CRun{nArc, 2 * uSpan, false};
    return true;
  }

  // A far first scan: a lane along a long run (RunOf: a long column, or a
  // table of many columns) is cut ahead in pieces, not one piece each
  // answer. Where its part ends along the same run, into even pieces of
  // two requests' worth or less, at most c_nAheadCuts + 1 and as far as
  // the window has room; where the run's end is not known, at two, four,
  // eight ... requests' worth on, so that the pieces reach past a column
  // of thousands within a few round trips and a short one costs a few
  // requests past its end. Each piece is cut again at its own answers
  // while it holds more. A long column also starts its table's next
  // columns (CutColumnsAhead).
  void CutAhead(CLaneIt it, const CRun& run) {
    CLane* pLane = &*it;
    const int nRoom = m_nWindow - m_nInFlight - 1;
    const AsnObjectIdentifier& next = pLane->bindings[0].name;
    if (nRoom <= 0 || run.nArc >= next.ids.size() || next.ids.back() == 0) return;
    const uint64_t uLast = next.ids[run.nArc];
    if (run.uPiece > UINT32_MAX) return;
    const bool bAlong = pLane->bBounded && pLane->end.ids.size() > run.nArc &&
                        std::equal(next.ids.begin(), next.ids.begin() + static_cast<std::ptrdiff_t>(run.nArc),
                                   pLane->end.ids.begin());
    std::vector<uint64_t> arrCuts;
    if (bAlong) {
      const uint64_t uEnd = pLane->end.ids[run.nArc];
      const uint64_t uPieces = uEnd > uLast ? std::min<uint64_t>((uEnd - uLast + run.uPiece - 1) / run.uPiece,
                                                                 std::min(c_nAheadCuts, nRoom) + 1)
                                            : 0;
      for (uint64_t k = 1; k < uPieces; ++k) arrCuts.push_back(uLast + (uEnd - uLast) * k / uPieces);
    } else {
      for (int k = 0; k < c_nAheadCuts && arrCuts.size() < static_cast<size_t>(nRoom); ++k)
        arrCuts.push_back(uLast + (run.uPiece << k));
    }
    if (!bAlong && run.bInstances) CutColumnsAhead(it, nRoom - static_cast<int>(arrCuts.size()));
    // The farthest first: each cut ends the lane's part sooner, and the
    // lane it makes follows it in the walk's order. A cut along a table's
    // columns begins a column.
    for (auto itCut = arrCuts.rbegin(); itCut != arrCuts.rend(); ++itCut) {
      if (*itCut > UINT32_MAX) continue;
      AsnObjectIdentifier boundary;
      boundary.ids.assign(next.ids.begin(), next.ids.begin() + static_cast<std::ptrdiff_t>(run.nArc) + 1);
      boundary.ids.back() = static_cast<uint32_t>(*itCut);
      if ((pLane->bBounded && !(boundary.ids < pLane->end.ids)) || !Admissible(*pLane, &boundary)) continue;
      m_lanes.insert(std::next(it), CutAt(pLane, boundary));
    }
  }

  // A far walk that has no earlier scan's lanes: cuts the lane at it,
  // which has just answered, at up to c_nFarCuts of the boundaries in its
  // part that its next OID suggests (StructuralBoundary), shallowest
  // first, as Split would over the lane's next answers.
  void CutAtAnswer(CLaneIt it) {
    // Only as many as the window has room for beside the lane's own next
    // request: a full window gains nothing from more lanes, and each costs
    // a request past its end.
    const int nRoom = std::min(c_nFarCuts, m_nWindow - m_nInFlight - 1);
    const size_t nDeepest = DeepestCutIn(it->bindings[0].name);
    size_t nArcs = 1;
    AsnObjectIdentifier boundary;
    for (int nCuts = 0; nCuts < nRoom && StructuralBoundary(*it, nArcs + 1, &nArcs, &boundary);) {
      if (boundary.ids.size() > nDeepest) break;
      if (!Admissible(*it, &boundary) || LikeAnEmptyCut(boundary) || InRegistrationTop(boundary)) continue;
      // Each cut ends the lane's part sooner: the lanes made follow it in
      // the walk's order, the latest made first.
      m_lanes.insert(std::next(it), CutAt(&*it, boundary))->bGuessed = true;
      ++nCuts;
    }
  }

  // Whether boundary is like a cut at an answer that came out empty: the
  // same but for one arc, not its last. That is the same level of an index
  // under another value of a level above it (an OID as an index: its
  // 1.3.6.1 under each length) or the same place in another column. Such
  // a cut is left out, and the next one the lane's OID suggests is made
  // instead; the lane that holds it walks it.
  bool LikeAnEmptyCut(const AsnObjectIdentifier& boundary) const {
    const std::vector<uint32_t>& ids = boundary.ids;
    return std::any_of(m_arrEmptyCuts.begin(), m_arrEmptyCuts.end(), [&](const AsnObjectIdentifier& empty) {
      if (empty.ids.size() != ids.size() || empty.ids.back() != ids.back()) return false;
      const auto itFirst = std::mismatch(ids.begin(), ids.end(), empty.ids.begin()).first;
      return itFirst != ids.end() && std::equal(itFirst + 1, ids.end(), empty.ids.begin() + (itFirst - ids.begin()) + 1);
    });
  }
  // Notes lane's start when lane was cut at an answer (CutAtAnswer) and
  // its first answer is past its end: its part held nothing.
  void NoteEmptyCut(const CLane& lane, const AsnObjectIdentifier& start, const SnmpVarBindList& answer) {
    if (!lane.bGuessed || lane.nAnswers != 0 || !lane.bBounded || answer.empty() ||
        answer.front().name.ids < lane.end.ids)
      return;
    if (m_arrEmptyCuts.size() == c_nEmptyCutsKept) m_arrEmptyCuts.erase(m_arrEmptyCuts.begin());
    m_arrEmptyCuts.push_back(start);
  }

  // Whether a lane whose request went unanswered asks again (when the
  // window has room) rather than ending. A busy agent, or one whose input
  // queue overflows, leaves requests unanswered when many come together,
  // whatever their size: only silence to a request alone in flight ends
  // the walk, as with Window=1, so a window never stores less. Each loss
  // halves the window, which grows again only with answers: an agent that
  // answers nothing ends. A size probe asks again, smaller or not. A
  // request alone may still wait behind the agent's backlog of earlier
  // ones, whose late answers show it: it asks again too, against the
  // lane's error budget, so an agent that answers everything late ends.
  bool AsksAgain(CLane* pLane, bool bAlone) const {
    if (pLane->bSizeProbe || !bAlone) return true;
    if (SnmpMgrLateAnswers(m_pSession) <= pLane->nLateAtSend) return false;
    if (++pLane->nErrorCount <= c_nMaxWalkErrors) return true;
    m_pContext->NoteBudgetSpent(EWalkStop::ErrorBudget);
    return false;
  }

  // The window: a re-send (or a request that went unanswered, bLostTry)
  // halves it; answers in time widen it, by one each until the first
  // re-send, by one a window's worth after it.
  void AdaptWindow(bool bAnswered, bool bLostTry) {
    const int64_t nNowResends = SnmpMgrResends(m_pSession);
    if (nNowResends > m_nResends || bLostTry) {
      m_nWindow = std::max(1, m_nWindow / 2);
      m_nResends = nNowResends;
      m_bProbing = false;
      m_nAnswersToGrow = m_nWindow;
    } else if (bAnswered && (m_bProbing || --m_nAnswersToGrow <= 0)) {
      m_nWindow = std::min(m_nMaxWindow, m_nWindow + 1);
      m_nAnswersToGrow = m_nWindow;
    }
  }

  void TakeAnswer(CLane* pLane, SnmpVarBindList answer) {
    const AsnObjectIdentifier requested = pLane->bindings[0].name;
    pLane->bindings = std::move(answer);
    ++pLane->nAnswers;
    if (!NextRequest(requested, &pLane->bindings, pLane, m_pContext)) {
      pLane->bEnded = true;
      return;
    }
    // How far along a column's instances one request went.
    const AsnObjectIdentifier& next = pLane->bindings[0].name;
    pLane->uStride = 0;
    if (next.ids.size() == requested.ids.size() && next.ids.size() >= 3 && next.ids.back() > requested.ids.back() &&
        std::equal(next.ids.begin(), next.ids.end() - 1, requested.ids.begin()))
      pLane->uStride = next.ids.back() - requested.ids.back();
  }

  // The walk ends as its last lane did; a request that went unanswered
  // (the first one, in the walk's order) says why it ended early, and
  // failing that a lane the agent refused to the end.
  void Finish(CLane* pFirst) const {
    const CLane& last = m_lanes.back();
    pFirst->nErrorStatus = last.nErrorStatus;
    pFirst->nErrorIndex = last.nErrorIndex;
    const auto itUnanswered = std::find_if(m_lanes.begin(), m_lanes.end(),
                                           [](const CLane& lane) { return lane.uUnanswered != SNMP_MGR_OK; });
    const bool bRefused = std::any_of(m_lanes.begin(), m_lanes.end(), EndedOnRefusal);
    SetLastError(m_pContext->bCapped                 ? SNMP_MGR_ERROR_OBJECT_CAP
                 : itUnanswered != m_lanes.end() ? itUnanswered->uUnanswered
                 : bRefused                    ? SNMP_MGR_ERROR_REFUSED
                                               : SNMP_MGR_OK);
  }

  LPSNMP_MGR_SESSION m_pSession;
  CWalkContext* m_pContext;
  std::list<CLane> m_lanes;
  CLaneIt m_itHead;  // the first lane that has not ended: it stores at once
  const int m_nMaxWindow;
  // The walk's first round trip (the session's so far), and in path units.
  const int64_t m_nRoundTripUs;
  const int m_nPathUnits;
  int m_nWindow;
  // A far walk's opening (MaySend), until the first request ends; the time
  // its next request may go out, and whether one waits for it.
  bool m_bOpening;
  std::chrono::steady_clock::time_point m_nextSend;
  bool m_bHeldBack = false;
  bool m_bFromEarlierScan = false;  // the lanes were cut at an earlier scan's OIDs
  // Until a request needs sending again the window grows fast, to find the
  // agent's pace; after that slowly, so that an agent whose input queue
  // overflows drops few requests.
  bool m_bProbing = true;
  int m_nAnswersToGrow = 0;
  int m_nInFlight = 0;
  uint64_t m_uSends = 0;  // requests sent so far; CLane::uSend is the number of a lane's last
  // The shape probe (its tag: its boundaries' address), this walk's own or
  // the one sent beside the walk's first request.
  CShapeProbe m_ownProbe;
  CShapeProbe* m_pProbe = nullptr;
  std::vector<AsnObjectIdentifier> m_arrEmptyCuts;  // the latest cuts at an answer that held nothing
  // A far first scan's latest cuts that held objects, and the first
  // object each held; the tables whose columns share their rows.
  std::vector<AsnObjectIdentifier> m_arrHeldCuts;
  std::vector<AsnObjectIdentifier> m_arrFirstFound;
  std::vector<CTable> m_tables;
  std::vector<CIndexOid> m_arrIndexOids;  // the OIDs in an index met
  int64_t m_nResends;
};

}  // namespace

void WalkLanes(LPSNMP_MGR_SESSION pSession, CLane* pFirst, CWalkContext* pContext, CShapeProbe* pSentProbe) {
  CLaneWalk(pSession, pFirst, pContext).Run(pFirst, pSentProbe);
}
