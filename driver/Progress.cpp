#include "driver/Progress.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>

#include "platform/Console.h"
#include "snmp/LastError.h"

std::string GroupedCount(uint64_t nCount) {
  std::string strDigits = std::to_string(nCount);
  for (size_t nPos = strDigits.size(); nPos > 3; nPos -= 3) strDigits.insert(nPos - 3, ",");
  return strDigits;
}

std::string ShortCount(double dCount) {
  char szText[32];
  if (dCount < 1000) {
    std::snprintf(szText, sizeof szText, "%.0f", std::floor(dCount));
  } else if (dCount < 1e6) {
    std::snprintf(szText, sizeof szText, dCount < 1e4 ? "%.2fk" : dCount < 1e5 ? "%.1fk" : "%.0fk", dCount / 1e3);
  } else {
    std::snprintf(szText, sizeof szText, dCount < 1e7 ? "%.2fM" : dCount < 1e8 ? "%.1fM" : "%.0fM", dCount / 1e6);
  }
  return szText;
}

std::string ShortDuration(double dSeconds) {
  const uint64_t nSeconds = static_cast<uint64_t>(std::llround(std::max(dSeconds, 0.0)));
  char szText[32];
  if (nSeconds < 60) {
    std::snprintf(szText, sizeof szText, "%us", static_cast<unsigned>(nSeconds));
  } else if (nSeconds < 3600) {
    std::snprintf(szText, sizeof szText, "%um%02us", static_cast<unsigned>(nSeconds / 60),
                  static_cast<unsigned>(nSeconds % 60));
  } else {
    std::snprintf(szText, sizeof szText, "%uh%02um", static_cast<unsigned>(nSeconds / 3600),
                  static_cast<unsigned>(nSeconds / 60 % 60));
  }
  return szText;
}

std::string FailureReason(uint32_t uCode, bool bFileWritten) {
  const char* szWords = nullptr;
  switch (uCode) {
    case SNMP_MGR_OK: return bFileWritten ? "answered" : "no file written";
    case SNMP_MGMTAPI_TIMEOUT: szWords = "no answer"; break;
    case SNMP_MGMTAPI_SELECT_FDERRORS: szWords = "receiving failed"; break;
    case SNMP_MGMTAPI_INVALID_SESSION: szWords = "no session"; break;
    case SNMP_MGMTAPI_INVALID_BUFFER: szWords = "the request cannot be encoded"; break;
    case SNMP_MGR_ERROR_RESOLVE: szWords = "the name or address does not resolve"; break;
    case SNMP_MGR_ERROR_SOCKET: szWords = "no socket, or no route to the agent"; break;
    case SNMP_MGR_ERROR_OID: szWords = "the start OID does not parse"; break;
    case SNMP_MGR_ERROR_INTERRUPTED: szWords = "interrupted"; break;
    case SNMP_MGR_ERROR_SETTINGS: szWords = "SNMPv3 settings that cannot work"; break;
    case SNMP_MGR_ERROR_SECURITY_LEVEL: szWords = "SNMPv3: the user may not use this security level"; break;
    case SNMP_MGR_ERROR_TIME_WINDOW: szWords = "SNMPv3: not in time window"; break;
    case SNMP_MGR_ERROR_UNKNOWN_USER: szWords = "SNMPv3: unknown user name"; break;
    case SNMP_MGR_ERROR_UNKNOWN_ENGINE: szWords = "SNMPv3: unknown engine ID"; break;
    case SNMP_MGR_ERROR_WRONG_DIGEST: szWords = "SNMPv3: wrong authentication password"; break;
    case SNMP_MGR_ERROR_DECRYPTION: szWords = "SNMPv3: wrong privacy password"; break;
    case SNMP_MGR_ERROR_AUTHENTICATION: szWords = "SNMPv3: an answer failed authentication"; break;
    case SNMP_MGR_ERROR_REPORT: szWords = "SNMPv3: a report"; break;
    case SNMP_MGR_ERROR_REFUSED: szWords = "the agent refused (an error status)"; break;
    case SNMP_MGR_ERROR_MEMORY: szWords = "memory ran out"; break;
    case SNMP_MGR_ERROR_OBJECT_CAP: szWords = "capped at MaxObjects"; break;
    case SNMP_MGR_ERROR_TIME_CAP: szWords = "capped at MaxSeconds"; break;
    case c_uNoThread: return "no thread could be started";
    default: szWords = "failed"; break;
  }
  return std::string(szWords) + " (" + std::to_string(uCode) + ")" + (bFileWritten ? "" : ", no file written");
}

void CScanTally::Begin(size_t nTargets) {
  m_nTargets = nTargets;
  m_nStarted = 0;
  m_nEnded = 0;
  m_nAnswered = 0;
  m_nNoAnswer = 0;
  m_nFailed = 0;
  m_nWritten = 0;
  m_nObjects = 0;
  const std::lock_guard<std::mutex> lock(m_mutex);
  m_arrFailures.clear();
}

void CScanTally::Ended(const std::string& strTarget, uint32_t uCode, bool bFileWritten) {
  if (bFileWritten) m_nWritten.fetch_add(1, std::memory_order_relaxed);
  if (uCode == SNMP_MGR_OK && bFileWritten) {
    m_nAnswered.fetch_add(1, std::memory_order_relaxed);
  } else {
    (uCode == SNMP_MGMTAPI_TIMEOUT ? m_nNoAnswer : m_nFailed).fetch_add(1, std::memory_order_relaxed);
    const std::lock_guard<std::mutex> lock(m_mutex);
    // The first ones are named; the rest only counted. Out of memory, the
    // name is left out and the target still counted.
    try {
      if (m_arrFailures.size() < c_nSummaryFailures)
        m_arrFailures.push_back(strTarget + ": " + FailureReason(uCode, bFileWritten));
    } catch (const std::bad_alloc&) {
    }
  }
  m_nEnded.fetch_add(1, std::memory_order_release);
}

std::string CScanTally::StatusLine(double dSeconds, uint64_t nObjects) const {
  const uint64_t nEnded = m_nEnded.load(std::memory_order_acquire);
  const uint64_t nTargets = m_nTargets.load();
  const uint64_t nStarted = std::max(m_nStarted.load(std::memory_order_relaxed), nEnded);
  std::string strEta = "?";
  if (nEnded > 0 && dSeconds > 0) strEta = ShortDuration(dSeconds * static_cast<double>(nTargets - nEnded) / nEnded);
  return GroupedCount(nEnded) + "/" + GroupedCount(nTargets) + " targets, " + GroupedCount(nStarted - nEnded) +
         " running, " + GroupedCount(m_nNoAnswer.load() + m_nFailed.load()) + " failed, " +
         ShortCount(static_cast<double>(nObjects)) + " objects, " +
         ShortCount(dSeconds > 0 ? static_cast<double>(nObjects) / dSeconds : 0) + " objects/s, ETA " + strEta;
}

std::vector<std::string> CScanTally::SummaryLines(double dSeconds, uint64_t nObjects) const {
  const uint64_t nEnded = m_nEnded.load(std::memory_order_acquire);
  const uint64_t nFailed = m_nNoAnswer.load() + m_nFailed.load();
  std::vector<std::string> arrLines{
      GroupedCount(m_nTargets.load()) + " targets in " + ShortDuration(dSeconds) + ": " +
      GroupedCount(m_nAnswered.load()) + " answered, " + GroupedCount(m_nNoAnswer.load()) + " no answer, " +
      GroupedCount(m_nFailed.load()) + " failed; " + GroupedCount(nObjects) + " objects; " +
      GroupedCount(m_nWritten.load()) + " files written, " + GroupedCount(nEnded - m_nWritten.load()) +
      " not written"};
  const std::lock_guard<std::mutex> lock(m_mutex);
  for (const std::string& strFailure : m_arrFailures) arrLines.push_back("  " + strFailure);
  if (nFailed > m_arrFailures.size())
    arrLines.push_back("  ... and " + GroupedCount(nFailed - m_arrFailures.size()) + " more");
  return arrLines;
}

int CScanTally::StrictStatus() const {
  const uint64_t nTargets = m_nTargets.load();
  const uint64_t nAnswered = m_nAnswered.load();
  if (nAnswered == nTargets) return 0;
  return nAnswered == 0 ? 4 : 3;
}

CScanTally& ScanTally() {
  static CScanTally tally;
  return tally;
}

CProgress::CProgress(bool bTerminal) : m_bTerminal(bTerminal) {
  // A small stack: the thread formats one line at a time.
  (void)m_thread.Start(size_t{64} * 1024 * MIBSCAN_STACK_SCALE);
}

CProgress::~CProgress() {
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_bStop = true;
  }
  m_wake.notify_all();
  m_thread.Join();
  if (m_bTerminal) ClearStatus();
  try {
    for (const std::string& strLine : ScanTally().SummaryLines(Seconds(), ScanTally().StoredObjects().load()))
      PrintErrorLine(strLine);
  } catch (const std::bad_alloc&) {
    // Out of memory at the very end: no summary, the scan's files stand.
  }
}

unsigned CProgress::ThreadProc(void* pThis) {
  try {
    static_cast<CProgress*>(pThis)->Run();
  } catch (const std::bad_alloc&) {
    // No more status lines; the scan goes on.
  }
  return 0;
}

double CProgress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void CProgress::Run() {
  // A terminal redraws its line five times a second; a log or a pipe
  // gets a line every 5 seconds.
  const auto period = m_bTerminal ? std::chrono::milliseconds(200) : std::chrono::milliseconds(5000);
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_wake.wait_for(lock, period, [this] { return m_bStop; })) {
    const std::string strLine = ScanTally().StatusLine(Seconds(), ScanTally().StoredObjects().load());
    if (m_bTerminal) {
      ShowStatus(strLine);
    } else {
      PrintErrorLine(strLine);
    }
  }
}
