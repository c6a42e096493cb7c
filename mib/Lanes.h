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

// Walks on from *pFirst (after the walk's first answer) in lanes on
// pSession, until every lane has ended. *pFirst then holds the error
// fields of the walk's last lane, and GetLastError() why the walk ended:
// the first request, in the walk's order, that went unanswered; failing
// that SNMP_MGR_ERROR_REFUSED when a lane ended refused; else
// SNMP_MGR_OK. Throws what storing throws, once every entry taken is
// stored.
void WalkLanes(LPSNMP_MGR_SESSION pSession, CLane* pFirst, CWalkContext* pContext);

#endif  // MIBSCAN_MIB_LANES_H_
