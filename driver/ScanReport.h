// The record of a scan (--report, "Report=1"): what became of every
// target, kept as each one ends and written at the scan's end beside the
// result files, each file replaced whole:
//   scan.json   the run and every target, in target order, for programs;
//   failed.txt  the targets that failed, one a line (a targets file);
//   scan.html   one page, for people (ScanPage.cpp).
// Nothing secret goes into them: no community, user password or key.
//
// Thread use: each worker records its own target (a slot of its own);
// the main thread begins the record before the first worker starts and
// writes it after the last one was joined.
#ifndef MIBSCAN_DRIVER_SCANREPORT_H_
#define MIBSCAN_DRIVER_SCANREPORT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mib/WalkResult.h"
#include "settings/Settings.h"

// One result file of a target, as its worker left it.
struct CFileRecord {
  enum class EState { Written, Kept, NotWritten };
  std::string strFormat;  // "xml", "snmprec", "walk"
  std::string strPath;    // empty when the target's name can make no file name
  EState state = EState::NotWritten;
  std::string strWhy;     // kept: "interrupted" or "no answer"; not written: why
  uint64_t nSize = 0;     // written or kept: its bytes
  std::string strSha256;  // written or kept: its checksum
};

// What became of one target.
struct CTargetRecord {
  std::string strTarget;  // as given
  std::shared_ptr<const CTargetSettings> pSettings;
  uint32_t uCode = 0;                    // of the first walk that failed (0: none)
  EWalkStop stop = EWalkStop::None;
  bool bStored = false;                  // an object was stored
  uint64_t nObjects = 0;
  CWalkFigures figures;
  // Its round trips (CRoundTrips), in microseconds: the count, least,
  // median, 95th percentile and greatest.
  uint64_t nRoundTrips = 0;
  int64_t arrRoundTripMicros[4] = {};
  double dSeconds = 0;                   // from the worker's start to its end
  std::optional<uint32_t> uUpTimeFirst;  // sysUpTime.0 at the walk's start
  std::optional<uint32_t> uUpTimeAfter;  // from one GET after the walks
  std::string strFirstOid;               // the least and greatest OID stored
  std::string strLastOid;
  std::vector<CFileRecord> arrFiles;
};

// The outcome of a target as a word: "complete", "no answer", "stopped
// answering", "refused", "error budget", "loop guard", "interrupted",
// "output error", "incomplete", "unresolved", "no route", "SNMPv3
// settings", "SNMPv3 refused", "memory", "no thread", "failed".
[[nodiscard]] const char* OutcomeWord(const CTargetRecord& record);
// True when every file asked for was written.
[[nodiscard]] bool AllFilesWritten(const CTargetRecord& record);
// True when the dump is complete: the walks reached the end of the MIB
// (or the one GET was answered) without failing.
[[nodiscard]] bool IsComplete(const CTargetRecord& record);
// True when the target goes into failed.txt: it failed, or a file of it
// was not written, as the summary counts it (a walk that ended on its
// error budget or loop guard answered: a second scan gets the same).
[[nodiscard]] bool IsFailed(const CTargetRecord& record);
// The least and greatest OID of map, in OID order (dotted texts), in
// *pstrFirst and *pstrLast; empty for an empty map.
void FirstAndLastOid(const CMapStringToString& map, std::string* pstrFirst, std::string* pstrLast);

class CScanReport {
 public:
  // A scan of nTargets targets begins, run with arrArguments (the command
  // line after the program's name).
  void Begin(size_t nTargets, std::vector<std::string> arrArguments);
  // Target nIndex (its place in the list) ended. Never throws; a record
  // that cannot be kept is left empty and marked so.
  void Record(size_t nIndex, CTargetRecord&& record);
  // Writes scan.json, failed.txt and scan.html into strDir; true when all
  // three were written. Each failure is told on standard error.
  bool Write(const std::string& strDir);

  // The documents, as Write writes them (for tests).
  [[nodiscard]] std::string JsonText() const;
  [[nodiscard]] std::string FailedText() const;
  [[nodiscard]] std::string PageText() const;

  [[nodiscard]] const std::vector<std::unique_ptr<CTargetRecord>>& Targets() const { return m_arrTargets; }
  [[nodiscard]] const std::string& StartText() const { return m_strStart; }
  [[nodiscard]] const std::string& EndText() const { return m_strEnd; }
  [[nodiscard]] double Seconds() const { return m_dSeconds; }

 private:
  std::vector<std::unique_ptr<CTargetRecord>> m_arrTargets;  // null: not recorded
  std::vector<std::string> m_arrArguments;
  std::string m_strStart;  // UTC, ISO 8601
  std::string m_strEnd;
  double m_dStartSeconds = 0;
  double m_dSeconds = 0;
};

// The names of the record's files in a result folder.
constexpr char c_szReportJson[] = "scan.json";
constexpr char c_szReportFailed[] = "failed.txt";
constexpr char c_szReportPage[] = "scan.html";

// The page of a record (ScanPage.cpp): self-contained HTML.
[[nodiscard]] std::string ScanPageText(const CScanReport& report);

#endif  // MIBSCAN_DRIVER_SCANREPORT_H_
