#include "driver/TargetWorker.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/Progress.h"
#include "log/LogQueue.h"
#include "mib/Walk.h"
#include "platform/Console.h"
#include "platform/AtomicFile.h"
#include "platform/Interrupt.h"
#include "snmp/SnmpOid.h"
#include "snmp/UsmCrypto.h"

namespace {

// OIDs sampled from the target's result file of an earlier scan, at most
// this many, from at most the first bytes of it. The sample is random, so
// the objects between two of its OIDs vary by about one over the square
// root of the OIDs a lane is cut among: 64 a lane for the widest window,
// where 4 (a sample of 1,024) left a far walk's lanes from a third to
// twice their share, each extra share a round trip at the walk's end.
constexpr size_t c_nLaneHintSample = 16384;
constexpr size_t c_nLaneHintBytes = size_t{64} * 1024 * 1024;

// The sample as OIDs a request can carry (X.690 8.19.4), sorted, each once;
// how many OIDs the file held in *pnObjects.
std::vector<AsnObjectIdentifier> LaneHints(const CResultPlace& place, const std::string& strTarget, size_t* pnObjects) {
  std::vector<AsnObjectIdentifier> arrHints;
  for (const std::string& strText :
       SampleEarlierOids(place, strTarget, c_nLaneHintSample, c_nLaneHintBytes, pnObjects)) {
    AsnObjectIdentifier oid;
    // Numbers only: the file holds OIDs as dotted numbers.
    if (strText.empty() || strText.find_first_not_of("0123456789.") != std::string::npos ||
        !SnmpMgrStrToOid("." + strText, &oid))
      continue;
    const std::vector<uint32_t>& ids = oid.ids;
    if (ids.size() < 2 || ids.size() > 128 || ids[0] > 2 || (ids[0] < 2 && ids[1] >= 40)) continue;
    arrHints.push_back(std::move(oid));
  }
  std::sort(arrHints.begin(), arrHints.end(),
            [](const AsnObjectIdentifier& a, const AsnObjectIdentifier& b) { return a.ids < b.ids; });
  arrHints.erase(std::unique(arrHints.begin(), arrHints.end()), arrHints.end());
  return arrHints;
}

// The walks of one target, in the plan's order, into one result.
class CTargetWalks {
 public:
  explicit CTargetWalks(const CTargetWork& work, std::chrono::steady_clock::time_point start)
      : m_mib(*work.pMib),
        m_walkTarget{m_mib.m_strTarget, *m_mib.m_pSettings, &ScanTally().StoredObjects(), Deadline(*m_mib.m_pSettings, start),
                     &m_nCredential},
        m_plan(*work.pPlan) {
    if (m_mib.m_pSettings->nWindow > 1 && m_plan.walks != CWalkPlan::EWalks::SingleGet) {
      m_arrLaneHints = LaneHints(m_plan.place, m_mib.m_strTarget, &m_walkTarget.nEarlierObjects);
      m_walkTarget.pLaneHints = &m_arrLaneHints;
    }
  }

  // Runs the plan's walks; the code of the first one that failed (a value
  // that could not be decoded only drops that binding). A cap ends the
  // target's walks: no further one starts.
  void Run() {
    const std::vector<std::string>& arrWalk = m_mib.m_pSettings->arrWalk;
    switch (m_plan.walks) {
      case CWalkPlan::EWalks::SingleGet:
        Walk(m_plan.strStartOid.c_str(), false);
        break;
      case CWalkPlan::EWalks::SystemMib: {
        if (arrWalk.empty()) {
          Walk(c_szSystemStartOid, true);
        } else {
          WalkSubtrees(arrWalk);
        }
        std::string strUpTime;
        if (Capped() || m_mib.m_result.mapResults.Lookup(c_szSysUpTimeKey, &strUpTime)) break;
        // An interrupted scan starts no further walk.
        if (IsInterrupted()) {
          m_bCut = true;
          Failed(SNMP_MGR_ERROR_INTERRUPTED);
        } else {
          // Listed subtrees get sysUpTime.0 alone, not the rest of the MIB.
          Walk(c_szSysUpTimeOid, arrWalk.empty());
        }
        break;
      }
      case CWalkPlan::EWalks::Enterprises:
        if (arrWalk.empty()) {
          Walk(c_szEnterprisesStartOid, true);
        } else {
          WalkSubtrees(arrWalk);
        }
        break;
    }
  }
  // Whether a cap (MaxObjects, MaxSeconds) ended the walks.
  bool Capped() const { return m_bCapped; }
  // The entry of the credential list that answered (-1: none yet).
  const int* Credential() const { return &m_nCredential; }
  // Whether MaxSeconds ended them.
  bool TimeCapped() const { return m_bCapped && m_mib.m_result.uEnd == SNMP_MGR_ERROR_TIME_CAP; }

  // The code of the first walk that failed; SNMP_MGR_OK when none did.
  uint32_t Failure() const { return m_uFailure; }
  // Whether an interruption cut a walk short, or left one unstarted.
  bool Cut() const { return m_bCut; }
  void Failed(uint32_t uCode) {
    if (m_uFailure == SNMP_MGR_OK && uCode != SNMP_MGR_ERROR_VALUE) m_uFailure = uCode;
  }

 private:
  static std::chrono::steady_clock::time_point Deadline(const CTargetSettings& settings,
                                                         std::chrono::steady_clock::time_point start) {
    if (settings.nMaxSeconds <= 0) return std::chrono::steady_clock::time_point::max();
    return start + std::chrono::seconds(settings.nMaxSeconds);
  }

  void Walk(const char* szStartOid, bool bContinue) {
    m_mib.m_result = ::Walk(m_walkTarget, szStartOid, bContinue, std::move(m_mib.m_result));
    Ended();
  }
  // The listed subtrees, each to its end, in the order given; an
  // interruption or a cap starts no further one.
  void WalkSubtrees(const std::vector<std::string>& arrWalk) {
    for (const std::string& strRoot : arrWalk) {
      if (m_bCapped || m_bCut) break;
      if (IsInterrupted()) {
        m_bCut = true;
        Failed(SNMP_MGR_ERROR_INTERRUPTED);
        break;
      }
      m_mib.m_result = ::WalkSubtree(m_walkTarget, strRoot.c_str(), std::move(m_mib.m_result));
      Ended();
    }
  }
  void Ended() {
    const uint32_t uEnd = m_mib.m_result.uEnd;
    m_bCut = m_bCut || uEnd == SNMP_MGR_ERROR_INTERRUPTED;
    m_bCapped = m_bCapped || uEnd == SNMP_MGR_ERROR_OBJECT_CAP || uEnd == SNMP_MGR_ERROR_TIME_CAP;
    Failed(uEnd);
  }

  CMIB& m_mib;
  int m_nCredential = -1;  // of the target's credential list: not known yet
  std::vector<AsnObjectIdentifier> m_arrLaneHints;
  CWalkTarget m_walkTarget;
  const CWalkPlan& m_plan;
  uint32_t m_uFailure = SNMP_MGR_OK;
  bool m_bCut = false;
  bool m_bCapped = false;
};

// The size and SHA-256 of each file the worker's thread writes, taken as
// its bytes are written (a file is not read back).
class CFileDigests final : public IAtomicFileWatcher {
 public:
  CFileDigests() : m_pBefore(WatchAtomicFiles(this)) {}
  ~CFileDigests() { (void)WatchAtomicFiles(m_pBefore); }
  CFileDigests(const CFileDigests&) = delete;
  CFileDigests& operator=(const CFileDigests&) = delete;

  void Wrote(const CAtomicFile& file, const void* pData, size_t nSize) override {
    CDigest* pDigest = Find(&file);
    if (pDigest == nullptr) {
      // A writer seen for the first time; beyond a few at once, left out.
      for (CDigest& digest : m_arrOpen) {
        if (digest.pFile == nullptr) {
          digest.pFile = &file;
          digest.nSize = 0;
          digest.pSha = std::make_unique<CSha256>();
          pDigest = &digest;
          break;
        }
      }
      if (pDigest == nullptr) return;
    }
    pDigest->pSha->Write(std::string_view(static_cast<const char*>(pData), nSize));
    pDigest->nSize += nSize;
  }
  void Committed(const CAtomicFile& file, const std::string& strPath) override {
    CDigest* pDigest = Find(&file);
    CDone done;
    done.strPath = strPath;
    if (pDigest != nullptr) {
      done.nSize = pDigest->nSize;
      done.bDigest = pDigest->pSha->Digest(&done.arrSha256);
      pDigest->pFile = nullptr;
    } else {
      // Nothing written: an empty file.
      done.bDigest = CSha256().Digest(&done.arrSha256);
    }
    m_arrDone.push_back(std::move(done));
  }
  // The size and checksum of the file committed at strPath, into *pFile;
  // false when none was.
  bool Take(const std::string& strPath, CFileRecord* pFile) const {
    for (const CDone& done : m_arrDone) {
      if (done.strPath != strPath) continue;
      pFile->nSize = done.nSize;
      pFile->bDigest = done.bDigest;
      pFile->arrSha256 = done.arrSha256;
      return true;
    }
    return false;
  }

 private:
  struct CDigest {
    const CAtomicFile* pFile = nullptr;
    uint64_t nSize = 0;
    std::unique_ptr<CSha256> pSha;
  };
  struct CDone {
    std::string strPath;
    uint64_t nSize = 0;
    bool bDigest = false;
    std::array<uint8_t, 32> arrSha256{};
  };
  CDigest* Find(const CAtomicFile* pFile) {
    for (CDigest& digest : m_arrOpen)
      if (digest.pFile == pFile) return &digest;
    return nullptr;
  }

  IAtomicFileWatcher* m_pBefore;
  std::array<CDigest, 4> m_arrOpen;
  std::vector<CDone> m_arrDone;
};

// The size and SHA-256 of the file at strPath, read, into *pFile (a file
// kept from an earlier scan).
void ReadBack(const std::string& strPath, CFileRecord* pFile) {
  std::ifstream stream(strPath, std::ios::binary);
  CSha256 digest;
  char szBuffer[16384];
  uint64_t nSize = 0;
  while (stream) {
    stream.read(szBuffer, static_cast<std::streamsize>(sizeof szBuffer));
    const auto nRead = static_cast<size_t>(stream.gcount());
    if (nRead == 0) break;
    digest.Write(std::string_view(szBuffer, nRead));
    nSize += nRead;
  }
  pFile->nSize = nSize;
  pFile->bDigest = !stream.bad() && digest.Digest(&pFile->arrSha256);
}

// The record of one result file of the target.
CFileRecord FileRecord(const CResultPlace& place, const std::string& strTarget, uint32_t uFormat,
                       CFileRecord::EState state, const char* szWhy, const CFileDigests& digests) {
  CFileRecord file;
  file.uFormat = uFormat;
  file.state = state;
  std::string strPath;
  if (!MakeResultPath(place.strDir, strTarget, place.strStartOid, &strPath, FormatName(uFormat))) {
    file.bNameless = true;
    file.szWhy = "the target's name cannot be a file name";
  } else if (szWhy != nullptr) {
    file.szWhy = szWhy;
  }
  if (state != CFileRecord::EState::NotWritten && !file.bNameless && !digests.Take(strPath, &file))
    ReadBack(strPath, &file);
  return file;
}

// Writes the target's result files, one per format asked for, or keeps
// the earlier ones: a walk cut short keeps the complete file of an earlier
// scan, and so does a target whose walks failed before they learnt
// anything (a device that is down tonight, a name that no longer
// resolves): an empty file is no better a snapshot. Each format's file is
// kept or written on its own. True when every file asked for was written.
// With pRecord, each file's state, size and checksum go into it.
bool WriteOrKeep(CMIB& mib, const CResultPlace& place, const CTargetWalks& walks, CTargetRecord* pRecord) {
  CWalkResult& result = mib.m_result;
  const bool bLearntNothing = walks.Failure() != SNMP_MGR_OK && result.mapResults.IsEmpty();
  const char* szKeepWhy = walks.Cut() ? "interrupted" : bLearntNothing ? "no answer" : nullptr;
  const uint32_t uFormats = mib.m_pSettings->uFormats;
  if ((uFormats & c_uTypedFormats) != 0) result.typed.Sort();
  uint32_t uWrite = 0;
  for (const uint32_t uFormat : c_arrFormats) {
    if ((uFormats & uFormat) == 0) continue;
    if (szKeepWhy == nullptr || !KeepResultFile(place, mib.m_strTarget, szKeepWhy, FormatName(uFormat)))
      uWrite |= uFormat;
  }
  // With a record to keep, each file's checksum is taken as it is written.
  std::optional<CFileDigests> digests;
  if (pRecord != nullptr) digests.emplace();
  uint32_t uWritten = 0;
  if ((uWrite & c_uFormatXml) != 0 && WriteResultFile(place, mib.m_strTarget, result.mapResults, result.setCrTextKeys,
                                                      mib.m_pSettings->strCharset))
    uWritten |= c_uFormatXml;
  if ((uWrite & c_uTypedFormats) != 0)
    uWritten |= WriteTypedResultFiles(place, mib.m_strTarget, result.typed, uWrite & c_uTypedFormats);
  if (pRecord != nullptr) {
    for (const uint32_t uFormat : c_arrFormats) {
      if ((uFormats & uFormat) == 0) continue;
      const bool bKept = (uWrite & uFormat) == 0;
      const bool bWritten = (uWritten & uFormat) != 0;
      pRecord->arrFiles[pRecord->nFiles++] =
          FileRecord(place, mib.m_strTarget, uFormat,
                     bKept      ? CFileRecord::EState::Kept
                     : bWritten ? CFileRecord::EState::Written
                                : CFileRecord::EState::NotWritten,
                     bKept ? szKeepWhy : bWritten ? nullptr : "output error", *digests);
    }
  }
  return uWritten == uFormats;
}

// sysUpTime.0 as the walks stored it, when they did.
std::optional<uint32_t> StoredUpTime(const CWalkResult& result) {
  std::string strTicks;
  if (!result.mapResults.Lookup(c_szSysUpTimeKey, &strTicks) || strTicks.empty() ||
      strTicks.find_first_not_of("0123456789") != std::string::npos || strTicks.size() > 10)
    return std::nullopt;
  const uint64_t uTicks = std::stoull(strTicks);
  if (uTicks > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(uTicks);
}

std::optional<uint32_t> AskUpTime(const CMIB& mib, const int* pnCredential) {
  uint32_t uTicks = 0;
  int nCredential = *pnCredential;
  const CWalkTarget target{mib.m_strTarget, *mib.m_pSettings, nullptr, std::chrono::steady_clock::time_point::max(),
                           &nCredential};
  if (!GetSysUpTime(target, &uTicks)) return std::nullopt;
  return uTicks;
}

}  // namespace

void ServeTarget(const CTargetWork& work) {
  CMIB& mib = *work.pMib;
  const char* szTarget = mib.m_strTarget.c_str();
  const auto start = std::chrono::steady_clock::now();
  ScanTally().Started();
  CTargetWalks walks(work, start);
  CScanReport* pReport = work.pPlan->pReport;
  CTargetRecord record;
  bool bWritten = false;
  try {
    WriteLog("%s|start", szTarget);
    if (pReport != nullptr && work.pPlan->walks == CWalkPlan::EWalks::Enterprises) record.uUpTimeFirst = AskUpTime(mib, walks.Credential());
    walks.Run();
    if (pReport != nullptr && work.pPlan->walks != CWalkPlan::EWalks::SingleGet) {
      if (work.pPlan->walks == CWalkPlan::EWalks::SystemMib) record.uUpTimeFirst = StoredUpTime(mib.m_result);
      // An agent that answered, asked once more: a lower sysUpTime means
      // it restarted while it was walked.
      if (!walks.Cut() && !walks.TimeCapped() && !mib.m_result.mapResults.IsEmpty() && !IsInterrupted())
        record.uUpTimeAfter = AskUpTime(mib, walks.Credential());
    }
    WriteLog("%s|end", szTarget);
    bWritten = WriteOrKeep(mib, work.pPlan->place, walks, pReport != nullptr ? &record : nullptr);
  } catch (const std::exception&) {
    // Only running out of memory gets here (the walk and the writer handle
    // their own failures); the thread must still end for the driver's join,
    // and the other targets go on.
    walks.Failed(SNMP_MGR_ERROR_MEMORY);
    PrintLine("output error\n");  // short enough to need no allocation
    bWritten = false;
  }
  if (pReport != nullptr) {
    try {
      record.strTarget = mib.m_strTarget;
      record.pSettings = mib.m_pSettings;
      record.uCode = walks.Failure();
      record.stop = mib.m_result.stop;
      record.nObjects = mib.m_result.mapResults.GetCount();
      record.bStored = record.nObjects != 0;
      record.figures = std::move(mib.m_result.figures);
      const CRoundTrips& trips = mib.m_result.roundTrips;
      record.nRoundTrips = trips.Count();
      record.arrRoundTripMicros[0] = trips.Min();
      record.arrRoundTripMicros[1] = trips.Quantile(0.5);
      record.arrRoundTripMicros[2] = trips.Quantile(0.95);
      record.arrRoundTripMicros[3] = trips.Max();
      FirstAndLastOid(mib.m_result.mapResults, &record.strFirstOid, &record.strLastOid);
      record.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } catch (const std::bad_alloc&) {
    }
  }
  // Workers are joined in list order: an ended one may wait long for it.
  mib.m_result.ReleaseEntries();
  ScanTally().Ended(mib.m_strTarget, walks.Failure(), bWritten);
  if (pReport != nullptr) pReport->Record(work.nIndex, std::move(record));
}

unsigned TargetThreadProc(void* pParam) {
  ServeTarget(*static_cast<const CTargetWork*>(pParam));
  return 0;
}
