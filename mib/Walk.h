// One SNMP walk of a target: a GET of the start OID and, when it goes on,
// GET-NEXT or GETBULK requests from there, each for the OID received
// last, one at a time or, with Window above 1, in lanes (Lanes.h).
//
// Thread use: a walk runs on its worker's thread; walks share nothing but
// the count of stored objects, which is atomic.
#ifndef MIBSCAN_MIB_WALK_H_
#define MIBSCAN_MIB_WALK_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "mib/WalkResult.h"
#include "settings/Settings.h"

// Most error answers (and answers that do not advance) a walk tolerates;
// the next one ends it.
constexpr int c_nMaxWalkErrors = 10;

// Whom a walk asks, and how.
struct CWalkTarget {
  const std::string& strTarget;     // as the command line gave it
  const CTargetSettings& settings;  // config.ini's, as the driver resolved them for it
  // Counts the objects stored by every target's walks (for progress; a
  // binding stored again under its OID counts once); null: not counted.
  std::atomic<uint64_t>* pStoredCount = nullptr;
  // The target's MaxSeconds: from then on no request or re-send goes out
  // (SNMP_MGR_ERROR_TIME_CAP); max(): none.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  // A credential list's entry that answered, shared by the target's walks:
  // 0 the first (the keys without a number), i the settings'
  // arrMoreCredentials[i - 1], -1 not known yet (the first request tries
  // them in turn). Null: the first, always.
  int* pnCredential = nullptr;
  // OIDs of the device from an earlier scan, sorted, each one a request
  // could carry: with a window, the walk starts with lanes already cut at
  // evenly spaced ones among them (Lanes.h). Null or empty: none.
  const std::vector<AsnObjectIdentifier>* pLaneHints = nullptr;
  // How many OIDs that scan's file held: what the sample stands for.
  size_t nEarlierObjects = 0;
};

// Walks target from pszStartOid; with bContinue on from there until the
// agent stops answering or more than c_nMaxWalkErrors answers were errors
// or failed to advance. Every binding received is stored in the result's
// map under its OID text as the text RenderValue makes, after the entries
// result already holds (a second walk adds to the first's). Traces each
// step with WriteLog and prints the start, wsaerror and error lines.
// Returns result with the walk's end code and outcome and its figures
// added. Entries stored before a failure stay.
[[nodiscard]] CWalkResult Walk(const CWalkTarget& target, const char* pszStartOid, bool bContinue,
                               CWalkResult result = {});

// Walks the subtree at pszRoot (an OID text as Walk takes it) to its end:
// GET-NEXT or GETBULK requests from the root on, until the first OID
// outside it, stored as Walk stores them. No GET of the root itself, so
// the file holds exactly the subtree's objects.
[[nodiscard]] CWalkResult WalkSubtree(const CWalkTarget& target, const char* pszRoot, CWalkResult result = {});

// One GET of sysUpTime.0, as the target's settings ask, without console
// lines (one log line): true with the agent's TimeTicks in *puTicks.
[[nodiscard]] bool GetSysUpTime(const CWalkTarget& target, uint32_t* puTicks);

#endif  // MIBSCAN_MIB_WALK_H_
