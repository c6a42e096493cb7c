#include "driver/ScanReport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <new>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "driver/Progress.h"
#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "platform/Runtime.h"
#include "snmp/LastError.h"

namespace {

using CJson = nlohmann::ordered_json;

// Ended targets that wake the rendering thread.
constexpr size_t c_nRenderBatch = 256;

// The time now, UTC, in ISO 8601 to the second: "2026-12-09T20:15:03Z".
std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char szText[32] = {};
  if (const std::tm* pTm = std::gmtime(&now)) std::strftime(szText, sizeof szText, "%Y-%m-%dT%H:%M:%SZ", pTm);
  return szText;
}

double MonotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Milliseconds, to the microsecond.
double Millis(int64_t nMicros) { return static_cast<double>(nMicros) / 1000.0; }

// Seconds, to the millisecond.
double RoundedSeconds(double dSeconds) { return static_cast<double>(std::llround(dSeconds * 1000.0)) / 1000.0; }

const char* VersionText(int32_t nVersion) {
  return nVersion == 3 ? "3" : nVersion == 2 ? "2c" : "1";
}

// The security level of an SNMPv3 user ("noAuthNoPriv", "authNoPriv",
// "authPriv"); "community" for SNMPv1 and SNMPv2c.
const char* SecurityLevel(const CTargetSettings& settings) {
  if (settings.nVersion != 3) return "community";
  if (settings.v3Security.auth == EAuthProtocol::None) return "noAuthNoPriv";
  return settings.v3Security.priv == EPrivProtocol::None ? "authNoPriv" : "authPriv";
}

const char* FileState(CFileRecord::EState state) {
  switch (state) {
    case CFileRecord::EState::Written: return "written";
    case CFileRecord::EState::Kept: return "kept";
    case CFileRecord::EState::NotWritten: break;
  }
  return "not written";
}

// Text that may not be UTF-8 (a target in the locale's code set) is
// written with U+FFFD for what is not.
std::string Dump(const CJson& json, int nIndent = -1) {
  return json.dump(nIndent, ' ', false, CJson::error_handler_t::replace);
}

// Assigns text to a value kept from the previous target: the string's
// storage is reused, so a target's line costs few allocations.
void SetText(CJson& value, std::string_view text) {
  if (!value.is_string()) value = std::string();
  value.get_ref<std::string&>().assign(text);
}
void SetTextOrNull(CJson& value, std::string_view text) {
  if (text.empty()) {
    value = nullptr;
  } else {
    SetText(value, text);
  }
}
template <typename TNumber>
void SetNumberOrNull(CJson& value, const std::optional<TNumber>& number) {
  if (number) {
    value = *number;
  } else {
    value = nullptr;
  }
}

// A target's object of scan.json. One is kept by each rendering thread
// and filled in again for every target: its keys, in their order, are
// made once, and the values are assigned in place.
class CTargetJson {
 public:
  CTargetJson() {
    for (const char* szKey : {"target", "address", "section", "sections", "version", "security_level", "outcome",
                              "code", "reason", "complete", "objects", "requests", "resends", "timeouts"})
      m_doc[szKey] = nullptr;
    m_doc["answers_dropped"] = {{"late", 0}, {"other", 0}, {"total", 0}};
    m_doc["bytes_received"] = 0;
    m_doc["seconds"] = 0;
    m_doc["round_trip_ms"] = nullptr;
    m_doc["repetitions"] = {{"start", 0}, {"end", 0}};
    m_doc["window"] = {{"start", 0}, {"end", 0}};
    m_doc["sys_up_time"] = {{"first", nullptr}, {"after", nullptr}};
    for (const char* szKey : {"restarted", "first_oid", "last_oid"}) m_doc[szKey] = nullptr;
    m_doc["files"] = CJson::array();
  }

  // The target's line: its object on one line.
  std::string Line(const CTargetRecord& record, const CFilePaths& arrPaths) {
    Fill(record, arrPaths);
    return Dump(m_doc);
  }

 private:
  void Fill(const CTargetRecord& record, const CFilePaths& arrPaths) {
    const CTargetSettings* pSettings = record.pSettings.get();
    const CWalkFigures& figures = record.figures;
    CJson& target = m_doc;
    SetText(target["target"], record.strTarget);
    SetTextOrNull(target["address"], figures.strAgent);
    CJson& sections = target["sections"];
    if (!sections.is_array()) sections = CJson::array();
    sections.get_ref<CJson::array_t&>().clear();
    if (pSettings != nullptr)
      for (const std::string& strPattern : pSettings->arrSections) sections.push_back(strPattern);
    SetText(target["section"], sections.empty() ? c_szConfigSection : sections.front().get_ref<const std::string&>());
    SetText(target["version"], pSettings != nullptr ? VersionText(pSettings->nVersion) : "1");
    SetText(target["security_level"], pSettings != nullptr ? SecurityLevel(*pSettings) : "community");
    SetText(target["outcome"], OutcomeWord(record));
    if (record.uCode == c_uNoThread) {
      target["code"] = nullptr;
    } else {
      target["code"] = record.uCode;
    }
    SetText(target["reason"], FailureReason(record.uCode, AllFilesWritten(record)));
    target["complete"] = IsComplete(record);
    target["objects"] = record.nObjects;
    target["requests"] = figures.nRequests;
    target["resends"] = figures.nResends;
    target["timeouts"] = figures.nTimeouts;
    CJson& dropped = target["answers_dropped"];
    dropped["late"] = figures.nLateAnswers;
    dropped["other"] = figures.nDropped;
    dropped["total"] = figures.nLateAnswers + figures.nDropped;
    target["bytes_received"] = figures.nBytesReceived;
    target["seconds"] = RoundedSeconds(record.dSeconds);
    CJson& trips = target["round_trip_ms"];
    if (record.nRoundTrips == 0) {
      trips = nullptr;
    } else {
      const int64_t* pMicros = record.arrRoundTripMicros;
      if (!trips.is_object()) trips = CJson::object();
      trips["count"] = record.nRoundTrips;
      trips["min"] = Millis(pMicros[0]);
      trips["median"] = Millis(pMicros[1]);
      trips["p95"] = Millis(pMicros[2]);
      trips["max"] = Millis(pMicros[3]);
    }
    CJson& repetitions = target["repetitions"];
    repetitions["start"] = figures.nRepetitionsAtStart;
    repetitions["end"] = figures.nRepetitionsAtEnd;
    CJson& window = target["window"];
    window["start"] = figures.nWindowAtStart;
    window["end"] = figures.nWindowAtEnd;
    CJson& upTime = target["sys_up_time"];
    SetNumberOrNull(upTime["first"], record.uUpTimeFirst);
    SetNumberOrNull(upTime["after"], record.uUpTimeAfter);
    target["restarted"] = record.uUpTimeFirst && record.uUpTimeAfter && *record.uUpTimeAfter < *record.uUpTimeFirst;
    SetTextOrNull(target["first_oid"], record.strFirstOid);
    SetTextOrNull(target["last_oid"], record.strLastOid);
    CJson::array_t& files = target["files"].get_ref<CJson::array_t&>();
    files.resize(record.nFiles);
    for (size_t i = 0; i < record.nFiles; ++i) {
      const CFileRecord& file = record.arrFiles[i];
      const std::string& strPath = arrPaths[i];
      CJson& one = files[i];
      if (!one.is_object()) {
        for (const char* szKey : {"format", "path", "name", "state", "why", "size", "sha256"}) one[szKey] = nullptr;
      }
      SetText(one["format"], FormatName(file.uFormat));
      SetTextOrNull(one["path"], strPath);
      SetTextOrNull(one["name"], strPath.empty() ? std::string() : FileNameOfPath(strPath));
      SetText(one["state"], FileState(file.state));
      SetTextOrNull(one["why"], file.szWhy);
      const bool bThere = file.state != CFileRecord::EState::NotWritten;
      if (bThere) {
        one["size"] = file.nSize;
      } else {
        one["size"] = nullptr;
      }
      if (bThere && file.bDigest) {
        SetText(one["sha256"], HexDigest(file));
      } else {
        one["sha256"] = nullptr;
      }
    }
  }

  CJson m_doc;
};


bool WriteWhole(const std::string& strPath, const std::string& strText) {
  CAtomicFile file;
  if (file.Open(strPath) && file.Write(strText.data(), strText.size()) && file.Commit()) return true;
  std::fprintf(stderr, "mibscan: cannot write %s\n", strPath.c_str());
  return false;
}

// Compares two dotted OID texts arc by arc, as numbers.
bool OidLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const size_t iEnd = std::min(a.find('.', i), a.size());
    const size_t jEnd = std::min(b.find('.', j), b.size());
    const size_t nA = iEnd - i;
    const size_t nB = jEnd - j;
    if (nA != nB) return nA < nB;  // digits without leading zeros: the shorter is less
    const int nCompare = a.compare(i, nA, b, j, nB);
    if (nCompare != 0) return nCompare < 0;
    i = iEnd + 1;
    j = jEnd + 1;
  }
  return a.size() < b.size();
}

}  // namespace

const char* OutcomeWord(const CTargetRecord& record) {
  switch (record.uCode) {
    case SNMP_MGR_OK:
      if (!AllFilesWritten(record)) return "output error";
      switch (record.stop) {
        case EWalkStop::End: return "complete";
        case EWalkStop::ErrorBudget: return "error budget";
        case EWalkStop::LoopGuard: return "loop guard";
        case EWalkStop::None: break;
      }
      return "incomplete";
    case SNMP_MGMTAPI_TIMEOUT: return record.bStored ? "stopped answering" : "no answer";
    case SNMP_MGR_ERROR_INTERRUPTED: return "interrupted";
    case SNMP_MGR_ERROR_REFUSED: return "refused";
    case SNMP_MGR_ERROR_OBJECT_CAP:
    case SNMP_MGR_ERROR_TIME_CAP: return "capped";
    case SNMP_MGR_ERROR_RESOLVE: return "unresolved";
    case SNMP_MGR_ERROR_SOCKET: return "no route";
    case SNMP_MGR_ERROR_SETTINGS: return "SNMPv3 settings";
    case SNMP_MGR_ERROR_MEMORY: return "memory";
    case c_uNoThread: return "no thread";
    default: break;
  }
  if (record.uCode >= SNMP_MGR_ERROR_SECURITY_LEVEL && record.uCode <= SNMP_MGR_ERROR_REPORT) return "SNMPv3 refused";
  return "failed";
}

const std::vector<std::string>& OutcomeWords() {
  static const std::vector<std::string> c_arrWords{
      "complete",    "error budget", "loop guard", "incomplete",      "output error",  "no answer",
      "stopped answering", "refused", "interrupted", "unresolved", "no route", "SNMPv3 settings",
      "SNMPv3 refused", "memory", "no thread", "capped", "failed", "not recorded"};
  return c_arrWords;
}

size_t OutcomeIndex(const CTargetRecord& record) {
  const std::vector<std::string>& arrWords = OutcomeWords();
  const char* szWord = record.bRecorded ? OutcomeWord(record) : "not recorded";
  return static_cast<size_t>(std::find(arrWords.begin(), arrWords.end(), szWord) - arrWords.begin());
}

bool AllFilesWritten(const CTargetRecord& record) {
  if (record.nFiles == 0) return false;
  return std::all_of(record.arrFiles.begin(), record.arrFiles.begin() + static_cast<std::ptrdiff_t>(record.nFiles),
                     [](const CFileRecord& file) { return file.state == CFileRecord::EState::Written; });
}

std::string FileNameOfPath(const std::string& strPath) {
  const size_t nSlash = strPath.find_last_of("/\\");
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string HexDigest(const CFileRecord& file) {
  static constexpr char c_szHex[] = "0123456789abcdef";
  std::string strHex;
  strHex.reserve(file.arrSha256.size() * 2);
  for (const uint8_t uByte : file.arrSha256) {
    strHex += c_szHex[uByte >> 4];
    strHex += c_szHex[uByte & 15];
  }
  return strHex;
}

bool IsComplete(const CTargetRecord& record) { return record.uCode == SNMP_MGR_OK && record.stop == EWalkStop::End; }

bool IsFailed(const CTargetRecord& record) { return record.uCode != SNMP_MGR_OK || !AllFilesWritten(record); }

void FirstAndLastOid(const CMapStringToString& map, std::string* pstrFirst, std::string* pstrLast) {
  pstrFirst->clear();
  pstrLast->clear();
  bool bAny = false;
  map.ForEach([&](const std::string& strKey, const std::string&) {
    if (!bAny || OidLess(strKey, *pstrFirst)) pstrFirst->assign(strKey);
    if (!bAny || OidLess(*pstrLast, strKey)) pstrLast->assign(strKey);
    bAny = true;
  });
}

CScanReport::~CScanReport() { StopRenderer(); }

void CScanReport::Begin(size_t nTargets, std::vector<std::string> arrArguments, CResultPlace place) {
  StopRenderer();
  m_arrTargets.clear();
  m_arrTargets.resize(nTargets);
  m_arrJsonLines.assign(nTargets, {});
  m_arrPageRows.assign(nTargets, {});
  m_arrRendered.assign(nTargets, 0);
  m_listStores.clear();
  m_arrReasons.clear();
  m_mapReasons.clear();
  m_arrArguments = std::move(arrArguments);
  m_place = std::move(place);
  m_strStart = UtcNow();
  m_dStartSeconds = MonotonicSeconds();
  m_bRendered = false;
  m_bStop = false;
  try {
    CTextStore& store = m_listStores.emplace_back();
    m_renderer = std::thread(&CScanReport::RenderQueued, this, std::ref(store));
  } catch (const std::exception&) {
    // No thread: everything is rendered at the end.
  }
}

void CScanReport::Record(size_t nIndex, CTargetRecord&& record) {
  if (nIndex >= m_arrTargets.size()) return;
  record.bRecorded = true;
  m_arrTargets[nIndex] = std::move(record);
  bool bWake = false;
  try {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_arrQueue.push_back(nIndex);
    bWake = m_arrQueue.size() == c_nRenderBatch;
  } catch (const std::exception&) {
    return;  // rendered at the end
  }
  if (bWake) m_wake.notify_one();
}

void CScanReport::RenderQueued(CTextStore& store) {
  std::unique_lock<std::mutex> lock(m_mutex);
  std::vector<size_t> arrBatch;
  while (true) {
    // Woken by a full batch, or after a while for what is queued: a
    // wake-up per target would cost a scan of dead addresses as much as
    // rendering them.
    m_wake.wait_for(lock, std::chrono::milliseconds(100),
                    [this] { return m_bStop || m_arrQueue.size() >= c_nRenderBatch; });
    if (m_bStop && m_arrQueue.empty()) break;  // stopped, and nothing left
    arrBatch.swap(m_arrQueue);
    lock.unlock();
    for (const size_t i : arrBatch) {
      try {
        (void)ReasonIndex(m_arrTargets[i]);
        RenderOne(i, store);
      } catch (const std::exception&) {
        // Memory ran out: rendered at the end, or left "not recorded".
      }
    }
    arrBatch.clear();
    lock.lock();
  }
}

void CScanReport::StopRenderer() {
  if (!m_renderer.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_bStop = true;
  }
  m_wake.notify_one();
  m_renderer.join();
}

size_t CScanReport::ReasonIndex(const CTargetRecord& record) const {
  const auto key = std::pair(record.uCode, AllFilesWritten(record));
  const auto [it, bNew] = m_mapReasons.emplace(key, m_arrReasons.size());
  if (bNew) m_arrReasons.push_back(FailureReason(key.first, key.second));
  return it->second;
}

void CScanReport::RenderOne(size_t i, CTextStore& store) const {
  const CTargetRecord& record = m_arrTargets[i];
  if (!record.bRecorded) {
    m_arrJsonLines[i] = store.Add(Dump(CJson{{"outcome", "not recorded"}}));
  } else {
    CFilePaths arrPaths;
    for (size_t nFile = 0; nFile < record.nFiles; ++nFile) arrPaths[nFile] = FilePath(record, record.arrFiles[nFile]);
    thread_local CTargetJson target;
    m_arrJsonLines[i] = store.Add(target.Line(record, arrPaths));
    m_arrPageRows[i] = store.Add(ScanPageRow(record, arrPaths, m_mapReasons.at(std::pair(record.uCode, AllFilesWritten(record)))));
  }
  m_arrRendered[i] = 1;
}

std::string CScanReport::FilePath(const CTargetRecord& record, const CFileRecord& file) const {
  std::string strPath;
  if (file.bNameless ||
      !MakeResultPath(m_place.strDir, record.strTarget, m_place.strStartOid, &strPath, FormatName(file.uFormat)))
    return {};
  return strPath;
}

void CScanReport::Render() const {
  if (m_bRendered) return;
  const size_t nTargets = m_arrTargets.size();
  // What is left has its reasons placed first: the threads below only
  // read the map.
  std::vector<size_t> arrLeft;
  for (size_t i = 0; i < nTargets; ++i) {
    if (m_arrRendered[i] != 0) continue;
    arrLeft.push_back(i);
    if (m_arrTargets[i].bRecorded) (void)ReasonIndex(m_arrTargets[i]);
  }
  const auto renderRange = [this, &arrLeft](size_t nFirst, size_t nEnd, CTextStore& store) {
    for (size_t n = nFirst; n < nEnd; ++n) RenderOne(arrLeft[n], store);
  };
  // The scan is over: every core is free for it. A thread that cannot be
  // had leaves its part to this one.
  const size_t nCount = arrLeft.size();
  const size_t nThreads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
  const size_t nPerThread = (nCount + nThreads - 1) / nThreads;
  std::vector<std::thread> arrThreads;
  size_t nFirst = nPerThread;
  for (; nThreads > 1 && nFirst < nCount; nFirst += nPerThread) {
    try {
      CTextStore& store = m_listStores.emplace_back();
      arrThreads.emplace_back(renderRange, nFirst, std::min(nCount, nFirst + nPerThread), std::ref(store));
    } catch (const std::exception&) {
      break;
    }
  }
  CTextStore& store = m_listStores.emplace_back();
  renderRange(0, std::min(nCount, nPerThread), store);
  renderRange(std::min(nFirst, nCount), nCount, store);
  for (std::thread& thread : arrThreads) thread.join();
  m_bRendered = true;
}

std::string CScanReport::RunJsonText() const {
  // Totals by outcome, in the order outcomes first came.
  CJson totals = CJson::object();
  uint64_t nAnswered = 0;
  uint64_t nComplete = 0;
  uint64_t nObjects = 0;
  uint64_t nWritten = 0;
  for (const CTargetRecord& record : m_arrTargets) {
    const char* szOutcome = record.bRecorded ? OutcomeWord(record) : "not recorded";
    totals[szOutcome] = totals.value(szOutcome, uint64_t{0}) + 1;
    if (!record.bRecorded) continue;
    if (!IsFailed(record)) ++nAnswered;
    if (IsComplete(record)) ++nComplete;
    if (AllFilesWritten(record)) ++nWritten;
    nObjects += record.nObjects;
  }
  CJson run;
  run["start"] = m_strStart;
  run["end"] = m_strEnd;
  run["seconds"] = RoundedSeconds(m_dSeconds);
  run["version"] = MIBSCAN_VERSION;
  run["host"] = HostName();
  run["arguments"] = m_arrArguments;
  run["targets"] = m_arrTargets.size();
  run["answered"] = nAnswered;
  run["failed"] = m_arrTargets.size() - nAnswered;
  run["complete"] = nComplete;
  run["objects"] = nObjects;
  // Targets whose every file was written, as the summary counts them.
  run["files_written"] = nWritten;
  run["outcomes"] = std::move(totals);
  return Dump(run, 2);
}

template <typename FSink>
void CScanReport::EmitJson(FSink fnSink) const {
  Render();
  // One target a line: a scan of many targets stays readable line by line.
  fnSink("{\"run\": " + RunJsonText() + ",\n\"targets\": [");
  for (size_t i = 0; i < m_arrJsonLines.size(); ++i) {
    fnSink(i == 0 ? "\n" : ",\n");
    fnSink(m_arrJsonLines[i]);
  }
  fnSink("\n]}\n");
}

std::string CScanReport::JsonText() const {
  std::string strText;
  EmitJson([&](std::string_view piece) { strText += piece; });
  return strText;
}

std::string CScanReport::FailedText() const {
  std::string strText;
  for (const CTargetRecord& record : m_arrTargets) {
    if (record.bRecorded && IsFailed(record)) strText += record.strTarget + "\n";
  }
  return strText;
}

std::string CScanReport::PageText() const {
  Render();
  return ScanPageText(*this, m_arrPageRows, m_arrReasons);
}

bool CScanReport::Write() {
  StopRenderer();
  m_strEnd = UtcNow();
  m_dSeconds = MonotonicSeconds() - m_dStartSeconds;
  // Joined as the result files are: Windows' writer finds the folder by
  // its own separator.
  const auto pathOf = [this](const char* szName) {
    return m_place.strDir.empty() ? std::string(szName) : JoinPath(m_place.strDir, szName);
  };
  // scan.json in pieces of a megabyte: its whole text is never held.
  bool bWritten = false;
  {
    const std::string strPath = pathOf(c_szReportJson);
    CAtomicFile file;
    bool bOk = file.Open(strPath);
    std::string strBuffer;
    constexpr size_t c_nPiece = size_t{1} << 20;
    strBuffer.reserve(c_nPiece + 4096);
    EmitJson([&](std::string_view piece) {
      strBuffer += piece;
      if (strBuffer.size() < c_nPiece) return;
      bOk = bOk && file.Write(strBuffer.data(), strBuffer.size());
      strBuffer.clear();
    });
    bOk = bOk && file.Write(strBuffer.data(), strBuffer.size()) && file.Commit();
    if (!bOk) std::fprintf(stderr, "mibscan: cannot write %s\n", strPath.c_str());
    bWritten = bOk;
  }
  bWritten = WriteWhole(pathOf(c_szReportFailed), FailedText()) && bWritten;
  bWritten = WriteWhole(pathOf(c_szReportPage), PageText()) && bWritten;
  return bWritten;
}
