// One target: its address text, the worker thread that serves it, and the
// results of its walks, one entry per OID.
//
// The driver creates a CMIB per target, hands it to the target's worker
// thread and destroys it after joining that thread; while the worker runs,
// the object is the worker's alone, so it has no lock.
#ifndef MIBSCAN_MIB_MIB_H_
#define MIBSCAN_MIB_MIB_H_

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "mib/PendingEntries.h"
#include "snmp/Ber.h"
#include "snmp/LastError.h"
#include "snmp/SnmpSession.h"
#include "util/MapStringToString.h"
#include "platform/Thread.h"
#include "platform/Utf8Converter.h"
#include "settings/Settings.h"

// Most error answers (and answers that do not advance) a walk tolerates;
// the next one ends it.
constexpr int c_nMaxWalkErrors = 10;
// Text octet strings longer than this are cut.
constexpr size_t c_nMaxTextValue = 256;
// OIDs under this prefix are physical addresses, shown as hexadecimal
// bytes whatever their type.
constexpr char c_szPhysAddressPrefix[] = "1.3.6.1.2.1.4.22.1.2.";

// Thrown by RenderValue for a value the decoder could not read: the walk
// drops that binding, as it drops any binding it cannot turn into an entry.
class CUnreadableValue : public std::runtime_error {
 public:
  CUnreadableValue();
};

class CMIB {
 public:
  // The target's walk and result file follow pSettings (config.ini's, as
  // the driver resolved them for this target; the defaults when null).
  explicit CMIB(const std::string& strTarget, std::shared_ptr<const CTargetSettings> pSettings = nullptr)
      : m_strTarget(strTarget),
        m_pSettings(pSettings != nullptr ? std::move(pSettings) : std::make_shared<const CTargetSettings>()) {}
  CMIB(const CMIB&) = delete;
  CMIB& operator=(const CMIB&) = delete;

  // One SNMP walk of the target: a GET of pszStartOid and, with bContinue,
  // GET-NEXT requests from there, each for the OID received last, until
  // the agent stops answering or more than c_nMaxWalkErrors answers were
  // errors or failed to advance. Every binding received is stored in
  // m_mapResults under its OID text (dotted decimal, no leading dot) as the
  // text RenderValue makes. Traces each step with WriteLog and prints the
  // start, wsaerror and error lines. 0 when at least one entry was stored
  // and the session closed; 1 otherwise. Entries stored before a failure
  // stay. May be called more than once; entries accumulate.
  int Walk(const char* pszStartOid, bool bContinue);

  // The text of a received value (strOid is its binding's OID text).
  // *pbText, when given, tells whether the text is an octet string's own
  // bytes (whose carriage returns are data) rather than a form made from
  // them. Throws CUnreadableValue, with GetLastError()
  // SNMP_MGR_ERROR_VALUE, for a value marked bMalformed.
  std::string RenderValue(const std::string& strOid, const AsnAny& value, bool* pbText = nullptr);

  // Writes m_mapResults to the target's XML result file and prints the
  // "output" line (ResultFile.h). The file is named from m_strTarget; the
  // worker passes that same text. True when the file was written.
  bool SaveXml(const std::string& strTarget);
  // Frees the results (the map, the marks of CR texts) and the text
  // converter: the worker calls it once the result file is written, so a
  // target that ended holds no memory for its results while the driver
  // has yet to join it.
  void ReleaseResults();

  CThread* m_pThread = nullptr;      // owned by the driver
  uint32_t m_uWalkEnd = SNMP_MGR_OK;  // the code the last walk ended with (its "error:" line)
  // Objects stored by every target's walks so far (for progress; a
  // binding stored again under its key counts once).
  static std::atomic<uint64_t> s_nStoredAll;
  const std::string m_strTarget;     // as the command line gave it
  CMapStringToString m_mapResults;   // OID text -> value text
  // The OIDs whose value text is an octet string's text holding a carriage
  // return, which the result file writes as a reference (ResultFile.h).
  std::unordered_set<std::string> m_setCrTextKeys;

 private:
  // What stays the same for the whole of one walk.
  struct CWalkState {
    bool bContinue = false;
    bool bVersion2 = false;                   // SNMPv2c or SNMPv3: exception values, GETBULK
    uint8_t continueType = SNMP_PDU_GETNEXT;  // GETNEXT, or GETBULK
    int nOutcome = 1;                         // 0 once an entry was stored
  };
  // A chain of requests over a part of the walk's range: with Window=1
  // the whole of it; otherwise one lane of several, which ends where the
  // next one's part begins.
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
    int32_t nInFlight = 0;                   // the id of its request in flight; 0: none
    int nAnswers = 0;                        // answers taken so far
    int nAnswersAtSplit = 0;                 // nAnswers when its part was last cut short
    uint64_t uStride = 0;                    // instances of one column its last request went on; 0: none
    uint32_t uUnanswered = SNMP_MGR_OK;      // GetLastError() when a request went unanswered
  };
  // True when the lane ended on an answer with an error status other than
  // noSuchName, which SNMPv1 agents send at the end of their view: the
  // agent refused (noAccess, authorizationError, genErr, ...).
  static bool EndedOnRefusal(const CLane& lane) {
    return lane.nErrorStatus > 0 && lane.nErrorStatus != SNMP_ERRORSTATUS_NOSUCHNAME;
  }
  // Opens the walk's session (SNMPv3 with version 3); null, with the
  // error logged and the end lines printed, when it cannot.
  LPSNMP_MGR_SESSION OpenSession(const std::string& strAgent, const std::string& strCommunity);
  // Logs, renders and stores (or keeps, for a lane that is not first) an
  // answer's bindings in order, up to a repeated OID. False when the lane
  // ends: an endOfMibView (SNMPv2c, SNMPv3), or an OID past its part.
  bool StoreBindings(const SnmpVarBindList& bindings, CLane* pLane, CWalkState* pState);
  // Stores one entry; bCrText marks a text value holding a CR.
  void StoreEntry(std::string_view strOid, std::string_view strValue, bool bCrText, CWalkState* pState);
  // Takes the answer in *pBindings (to the lane's request for requested)
  // and makes *pBindings the lane's next request. False when the lane
  // ends: an error budget spent, the end of the view or of its part, or no
  // continuation asked.
  bool NextRequest(const AsnObjectIdentifier& requested, SnmpVarBindList* pBindings, CLane* pLane,
                   CWalkState* pState);
  // Walks on from *pFirst (after the walk's first answer) in lanes, up to
  // the Window setting's number of requests in flight on the session
  // (MIBLanes.cpp).
  void WalkLanes(LPSNMP_MGR_SESSION pSession, CLane* pFirst, CWalkState* pState);

  const std::shared_ptr<const CTargetSettings> m_pSettings;
  // Reads text values in the Charset setting's code set; made at the first value that is
  // not plain ASCII, on the worker's thread.
  std::unique_ptr<CUtf8Converter> m_pConverter;
};

#endif  // MIBSCAN_MIB_MIB_H_
