// What a walk hands back to the worker that asked for it: the entries it
// stored, how it ended and what it cost.
//
// Thread use: none; a result belongs to one worker at a time.
#ifndef MIBSCAN_MIB_WALKRESULT_H_
#define MIBSCAN_MIB_WALKRESULT_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "snmp/LastError.h"
#include "util/MapStringToString.h"
#include "util/RoundTrips.h"
#include "util/TypedEntries.h"

// What a target's walks cost, summed over them.
struct CWalkFigures {
  uint64_t nRequests = 0;  // requests sent, not counting their re-sends
  uint64_t nResends = 0;   // tries sent again after a time-out
  uint64_t nTimeouts = 0;  // requests that ended with no answer to any try
  uint64_t nBytesReceived = 0;  // of every datagram received
  uint64_t nLateAnswers = 0;    // answers after their request's tries ran out
  uint64_t nDropped = 0;        // other datagrams not taken (CSessionFigures)
  std::string strAgent;         // the address the first session's requests went to
  // GETBULK repetitions and the window: as the settings ask, and where
  // they stood when the last walk ended (halved by silence, disorder or
  // losses); 0 repetitions: GET-NEXT.
  int32_t nRepetitionsAtStart = 0;
  int32_t nRepetitionsAtEnd = 0;
  int32_t nWindowAtStart = 0;
  int32_t nWindowAtEnd = 0;
};

// How a walk stopped, beyond its code: the answers a walk does not take
// end it with code 0 all the same.
enum class EWalkStop {
  None,         // as its code says (an answer missing, a failure), or not yet
  End,          // at the end of the agent's MIB, or of what was asked (one GET)
  ErrorBudget,  // more than c_nMaxWalkErrors error answers (or requests asked again)
  LoopGuard,    // more than c_nMaxWalkErrors answers that did not advance
};

struct CWalkResult {
  // OID text (dotted decimal, no leading dot) -> value text (RenderValue).
  CMapStringToString mapResults;
  // The OIDs whose value text is an octet string's text holding a carriage
  // return, which the result file writes as a reference (ResultFile.h).
  std::unordered_set<std::string> setCrTextKeys;
  // Each object's type and bytes, when a typed result file is asked for
  // (TypedEntries.h); empty otherwise.
  CTypedEntries typed;
  // The code the last walk ended with (its "error:" line).
  uint32_t uEnd = SNMP_MGR_OK;
  // How the last walk stopped; a loop guard or an error budget that ended
  // an earlier walk of the target stays.
  EWalkStop stop = EWalkStop::None;
  // 0 when the last walk stored an entry and closed its session; 1
  // otherwise.
  int nOutcome = 1;
  CWalkFigures figures;
  // The round trips of the answers to requests sent once, over the
  // target's walks (apart from the figures: a histogram, kept while the
  // target is walked).
  CRoundTrips roundTrips;

  // Stores one entry; bCrText marks a text value holding a CR. True when
  // the OID is new (a value stored again under its OID is one object).
  bool Store(std::string_view strOid, std::string_view strValue, bool bCrText,
             std::string_view typedRecord = {}) {
    if (!typedRecord.empty()) typed.AddRecord(typedRecord);
    // Marked before it is stored: should the store fail, a mark too many
    // only writes a CR of the older value as a reference.
    if (bCrText) {
      setCrTextKeys.emplace(strOid);
    } else if (!setCrTextKeys.empty()) {
      setCrTextKeys.erase(std::string(strOid));
    }
    const size_t nBefore = mapResults.GetCount();
    mapResults[strOid] = strValue;
    return mapResults.GetCount() != nBefore;
  }
  // Frees the entries, once they are written: a target that ended holds
  // no memory for its results while the driver has yet to join it.
  void ReleaseEntries() {
    mapResults.RemoveAll();
    std::unordered_set<std::string>().swap(setCrTextKeys);
    typed.Clear();
  }
};

#endif  // MIBSCAN_MIB_WALKRESULT_H_
