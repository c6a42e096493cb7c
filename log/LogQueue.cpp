#include "log/LogQueue.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>

#include "settings/Settings.h"
#include "log/LogFile.h"

CLogQueue g_LogQueue;
CNamedMutex* const g_pLogMutex = new CNamedMutex(c_szLogMutexName);

void CLogQueue::PushBack(CLogEntry entry) {
  m_entries.push_back(std::move(entry));
  m_nCount.fetch_add(1, std::memory_order_release);
}

CLogEntry CLogQueue::PopFront() {
  CLogEntry entry = std::move(m_entries.front());
  m_entries.pop_front();
  m_nCount.fetch_sub(1, std::memory_order_release);
  return entry;
}

namespace {

// printf formatting into a string of exactly the needed length.
std::string FormatV(const char* szFormat, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int nLen = std::vsnprintf(nullptr, 0, szFormat, measure);
  va_end(measure);
  if (nLen <= 0) return std::string();  // nothing to say, or an encoding error
  std::string strText(static_cast<size_t>(nLen), '\0');
  std::vsnprintf(strText.data(), strText.size() + 1, szFormat, args);
  return strText;
}

}  // namespace

namespace {

std::atomic<bool> g_bLogDrainer{false};
// Set when the logger took nothing from a full queue (memory ran out) or a
// writer waited for it in vain; cleared by the next batch it takes. While
// set, writers do not wait: a logger that cannot drain must not slow every
// line by a whole wait.
std::atomic<bool> g_bLogStalled{false};
std::mutex g_roomMutex;
std::condition_variable g_room;

bool HasLogRoom() {
  return g_LogQueue.Count() < c_nMaxQueuedLines || !g_bLogDrainer.load() || g_bLogStalled.load();
}

void WakeWriters() {
  // Taken and let go, so that a waiter between its test and its wait
  // cannot miss the notification.
  { const std::lock_guard<std::mutex> lock(g_roomMutex); }
  g_room.notify_all();
}

}  // namespace

void SetLogDrainer(bool bRunning) {
  g_bLogDrainer.store(bRunning);
  WakeWriters();
}

void NotifyLogRoom(bool bTook) {
  g_bLogStalled.store(!bTook && !g_LogQueue.IsEmpty());
  if (HasLogRoom()) WakeWriters();
}

void WaitForLogRoom() {
  if (HasLogRoom()) return;
  std::unique_lock<std::mutex> lock(g_roomMutex);
  if (!g_room.wait_for(lock, std::chrono::milliseconds(c_nMaxLogRoomWaitMs), HasLogRoom)) g_bLogStalled.store(true);
}

int WriteLog(const char* szFormat, ...) {
  if (!g_bLog) return 0;
  va_list args;
  va_start(args, szFormat);
  WriteLogV(szFormat, args);
  va_end(args);
  return 0;
}

int WriteLogV(const char* szFormat, va_list args) {
  // Out of memory, the line is lost and the caller goes on: the log never
  // takes a walk down, and never keeps its lock.
  try {
    CLogEntry entry;
    entry.strText = FormatV(szFormat, args);
    entry.tmTime = static_cast<int64_t>(std::time(nullptr));
    if (g_bLogDirect) {
      WriteLogLines({FormatLogLine(entry)});
      return 0;
    }
    WaitForLogRoom();
    // A failed wait drops this one entry; the caller is never held up by it.
    const CNamedMutexGuard guard(g_pLogMutex);
    if (!guard.IsHeld()) return 0;
    g_LogQueue.PushBack(std::move(entry));
  } catch (const std::bad_alloc&) {
  }
  return 0;
}

std::string FormatLogLine(const CLogEntry& entry) {
  // localtime_r: several threads format times at once in direct mode.
  const time_t tmTime = static_cast<time_t>(entry.tmTime);
  struct tm tmLocal {};
  char szTime[128] = "";
  if (localtime_r(&tmTime, &tmLocal) == nullptr ||
      std::strftime(szTime, sizeof szTime, "%Y/%m/%d %H:%M:%S", &tmLocal) == 0)
    szTime[0] = '\0';
  std::string strLine = szTime;
  strLine += '|';
  if (entry.nCode > -1) {
    strLine += std::to_string(entry.nCode);
  } else {
    strLine += '-';
  }
  strLine += '|';
  strLine += entry.strText;
  strLine += '\n';
  return strLine;
}

void TakeLogEntries(std::vector<CLogEntry>* parrEntries) {
  for (size_t n = 0; n < c_nDrainBatch && g_LogQueue.Size() > 0; ++n) parrEntries->push_back(g_LogQueue.PopFront());
}

int DrainLogQueue(std::vector<std::string>* parrLines) {
  for (size_t n = 0; n < c_nDrainBatch && g_LogQueue.Size() > 0; ++n)
    parrLines->push_back(FormatLogLine(g_LogQueue.PopFront()));
  return 0;
}
