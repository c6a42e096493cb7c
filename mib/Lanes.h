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
// takes its bindings by the same steps (WalkStep.h) and keeps them until
// every lane before its own has ended, so entries are stored in the order
// of the walk. Each lane has its own error budget, starting from what the
// lane it was split from had spent: it tolerates at least what a walk of
// one request at a time would have at that point.
//
// The window adapts: it starts at two requests (two for each 10 ms of the
// walk's first round trip on a longer path) and grows by one with
// each answer that came without a re-send, up to Window; a re-send (a
// time-out, as an agent whose input queue is full drops requests) halves
// it, never below one, and from then on it grows by one only after a
// window's worth of answers in time. A GETBULK size probe whose one try is
// lost (WalkStep.h) counts as a re-send; when it went with no other
// request in flight, the walk's repetitions halve; the lane asks again.
#ifndef MIBSCAN_MIB_LANES_H_
#define MIBSCAN_MIB_LANES_H_

#include "mib/WalkStep.h"
#include "snmp/SnmpSession.h"

// A first scan's shape probe: one GET-NEXT of the standard MIB's group
// boundaries (MIB-II's groups and large tables, the host resources, the
// interface extensions, entity, bridge, the enterprises ...) past the
// walk's next OID. Its answer names the first object after each boundary
// and so shows which groups the device has; the walk cuts lanes at those.
// A device without a group costs nothing but this one request. An SNMPv1
// agent answers a GET-NEXT that runs off the end of its view with an
// error for all of it: the probe then shows nothing, and the lanes split
// as they answer, as without it. A walk may send it (one try, tagged with
// the address of its boundaries) beside its first request when that is
// slow to come back, most of a round trip before its lanes start, and
// hand it to WalkLanes, in flight or ended; else WalkLanes sends it, when
// the walk has no earlier scan's lanes.
struct CShapeProbe {
  SnmpVarBindList boundaries;  // the request's bindings
  bool bInFlight = false;
  bool bAnswered = false;  // ended with answer and nErrorStatus
  SnmpVarBindList answer;
  int32_t nErrorStatus = 0;
};

// Fills pProbe's boundaries for a walk whose next request is first's:
// false, with none, for a window of 1, a walk of GETs, or fewer than two
// boundaries in the walk's part.
bool PrepareShapeProbe(const CLane& first, const CWalkContext& context, CShapeProbe* pProbe);

// Walks on from *pFirst (after the walk's first answer) in lanes on
// pSession, until every lane has ended; pSentProbe, when given, went
// beside the walk's first request. *pFirst then holds the error
// fields of the walk's last lane, and GetLastError() why the walk ended:
// the first request, in the walk's order, that went unanswered; failing
// that SNMP_MGR_ERROR_REFUSED when a lane ended refused; else
// SNMP_MGR_OK. Throws what storing throws, once every entry taken is
// stored.
void WalkLanes(LPSNMP_MGR_SESSION pSession, CLane* pFirst, CWalkContext* pContext,
               CShapeProbe* pSentProbe = nullptr);

#endif  // MIBSCAN_MIB_LANES_H_
