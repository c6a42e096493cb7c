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

#include <array>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mib/WalkResult.h"
#include "result/ResultFile.h"
#include "settings/Settings.h"
#include "util/TextStore.h"

// One result file of a target, as its worker left it. Its path follows
// from the target and the scan's CResultPlace (MakeResultPath).
struct CFileRecord {
  enum class EState : uint8_t { Written, Kept, NotWritten };
  uint32_t uFormat = c_uFormatXml;
  EState state = EState::NotWritten;
  bool bNameless = false;   // the target's name can make no file name
  const char* szWhy = "";   // kept: "interrupted" or "no answer"; not written: why
  uint64_t nSize = 0;       // written or kept: its bytes
  bool bDigest = false;     // arrSha256 holds its checksum
  std::array<uint8_t, 32> arrSha256{};
};

// What became of one target. The driver keeps one per target in place
// for the whole scan, so a record costs no allocation beyond the texts it
// takes over from the walk.
struct CTargetRecord {
  bool bRecorded = false;  // the target ended and filled this in
  std::string strTarget;   // as given
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
  // The files asked for, in the order of c_arrFormats.
  std::array<CFileRecord, std::size(c_arrFormats)> arrFiles{};
  size_t nFiles = 0;
};

// The outcome of a target as a word: "complete", "no answer", "stopped
// answering", "refused", "error budget", "loop guard", "interrupted",
// "output error", "incomplete", "unresolved", "no route", "SNMPv3
// settings", "SNMPv3 refused", "memory", "no thread", "failed".
[[nodiscard]] const char* OutcomeWord(const CTargetRecord& record);
// Every outcome word, each once; OutcomeWord gives one of them.
[[nodiscard]] const std::vector<std::string>& OutcomeWords();
// The place of OutcomeWord(record) in OutcomeWords().
[[nodiscard]] size_t OutcomeIndex(const CTargetRecord& record);
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
  CScanReport() = default;
  // Stops the rendering thread, when Write did not.
  ~CScanReport();
  CScanReport(const CScanReport&) = delete;
  CScanReport& operator=(const CScanReport&) = delete;

  // A scan of nTargets targets begins, run with arrArguments (the command
  // line after the program's name), its files going to place.
  void Begin(size_t nTargets, std::vector<std::string> arrArguments, CResultPlace place);
  // Target nIndex (its place in the list) ended: its record is moved into
  // its slot, and a thread of the record's own renders it while the scan
  // goes on (whatever it has not rendered is rendered at the end). Never
  // throws. Each slot is written by one worker only.
  void Record(size_t nIndex, CTargetRecord&& record);
  // Writes scan.json, failed.txt and scan.html into the place's folder;
  // true when all three were written. Each failure is told on standard
  // error.
  bool Write();

  // The documents, as Write writes them (for tests).
  [[nodiscard]] std::string JsonText() const;
  [[nodiscard]] std::string FailedText() const;
  [[nodiscard]] std::string PageText() const;

  [[nodiscard]] const std::vector<CTargetRecord>& Targets() const { return m_arrTargets; }
  [[nodiscard]] const std::string& StartText() const { return m_strStart; }
  [[nodiscard]] const std::string& EndText() const { return m_strEnd; }
  [[nodiscard]] double Seconds() const { return m_dSeconds; }
  // The path of a target's file, as its worker wrote it; empty when the
  // target's name can make no file name.
  [[nodiscard]] std::string FilePath(const CTargetRecord& record, const CFileRecord& file) const;

 private:
  // Every target's line of scan.json and row of the page that the
  // rendering thread has not made, made on as many threads as the machine
  // runs at once.
  void Render() const;
  // Target i's line and row (its reason already has its place), kept in
  // store (the calling thread's own).
  void RenderOne(size_t i, CTextStore& store) const;
  // The place of the target's reason in m_arrReasons, given one when new.
  size_t ReasonIndex(const CTargetRecord& record) const;
  // The rendering thread: renders the targets queued by Record.
  void RenderQueued(CTextStore& store);
  void StopRenderer();
  std::string RunJsonText() const;
  // Hands scan.json's text to fnSink(std::string_view), piece by piece.
  template <typename FSink>
  void EmitJson(FSink fnSink) const;

  std::vector<CTargetRecord> m_arrTargets;
  std::vector<std::string> m_arrArguments;
  CResultPlace m_place;
  std::string m_strStart;  // UTC, ISO 8601
  std::string m_strEnd;
  double m_dStartSeconds = 0;
  double m_dSeconds = 0;
  // Render()'s output, made once.
  // Each rendering thread keeps its lines and rows in a store of its own.
  mutable std::list<CTextStore> m_listStores;
  mutable std::vector<std::string_view> m_arrJsonLines;
  mutable std::vector<std::string_view> m_arrPageRows;
  mutable std::vector<std::string> m_arrReasons;  // every target's FailureReason, each once
  mutable std::map<std::pair<uint32_t, bool>, size_t> m_mapReasons;  // (code, files written) -> its place
  mutable std::vector<uint8_t> m_arrRendered;  // 1: target i's line and row are made
  mutable bool m_bRendered = false;
  std::mutex m_mutex;  // guards m_arrQueue and m_bStop
  std::condition_variable m_wake;
  std::vector<size_t> m_arrQueue;  // ended targets the thread has yet to render
  bool m_bStop = false;
  std::thread m_renderer;
};

// The names of the record's files in a result folder.
constexpr char c_szReportJson[] = "scan.json";
constexpr char c_szReportFailed[] = "failed.txt";
constexpr char c_szReportPage[] = "scan.html";

// The page of a record (ScanPage.cpp): self-contained HTML, with
// arrRows the rows of its targets (ScanPageRow) in target order.
[[nodiscard]] std::string ScanPageText(const CScanReport& report, const std::vector<std::string_view>& arrRows,
                                       const std::vector<std::string>& arrReasons);
// The paths of a target's files, in the order of its CFileRecords.
using CFilePaths = std::array<std::string, std::size(c_arrFormats)>;
// A target's row for the page's script, and the links to its files.
// nReason is the place of the target's reason in the page's list of them.
[[nodiscard]] std::string ScanPageRow(const CTargetRecord& record, const CFilePaths& arrPaths, size_t nReason);
[[nodiscard]] std::string ScanPageLinks(const CScanReport& report, const CTargetRecord& record);
// The last part of a path (after its last "/" or "\\").
[[nodiscard]] std::string FileNameOfPath(const std::string& strPath);
// A file's checksum in lower-case hexadecimal.
[[nodiscard]] std::string HexDigest(const CFileRecord& file);

#endif  // MIBSCAN_DRIVER_SCANREPORT_H_
