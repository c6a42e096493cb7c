// The logging call, its queue and the layout of a log line.
//
// WriteLog() is the one logging call. While g_bLog is false it does
// nothing. In queued mode (the default) it appends an entry to g_LogQueue
// under g_pLogMutex, and the logger thread (LogThread.h) later drains the
// queue in batches into the log file. In direct mode (g_bLogDirect, set when
// exactly one target is scanned) the calling thread writes its line to the
// log file at once, without the queue and without a lock.
//
// A line is "<local time %Y/%m/%d %H:%M:%S>|<code or ->|<text>\n"; the text
// is written unchanged, "|" and line breaks included.
#ifndef MIBSCAN_LOG_LOGQUEUE_H_
#define MIBSCAN_LOG_LOGQUEUE_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/NamedMutex.h"

// One pending message.
struct CLogEntry {
  int32_t nCode = -1;   // -1: no code ("-" in the line); WriteLog always stores -1
  std::string strText;  // the caller's message after printf formatting
  int64_t tmTime = 0;   // moment of the WriteLog call, seconds since the epoch
};

// First-in, first-out queue of entries. Every member except IsEmpty() and
// Count() REQUIRES: the caller holds g_pLogMutex, or is the only thread
// left that touches the queue. IsEmpty() and Count() may be called without
// the lock: they read an atomic count, a hint that the caller confirms
// under the lock.
class CLogQueue {
 public:
  void PushBack(CLogEntry entry);
  // REQUIRES: not empty.
  CLogEntry PopFront();
  size_t Size() const { return m_entries.size(); }
  bool IsEmpty() const { return m_nCount.load(std::memory_order_acquire) == 0; }
  size_t Count() const { return m_nCount.load(std::memory_order_acquire); }

 private:
  std::deque<CLogEntry> m_entries;
  std::atomic<size_t> m_nCount{0};
};

// Lines taken by one drain, at most.
constexpr size_t c_nDrainBatch = 200;
// Lines the queue holds before WriteLog waits for the logger thread to
// take some (about 2 MB of a walk's lines): a walk that logs faster than
// the file is written is slowed instead of growing the queue.
constexpr size_t c_nMaxQueuedLines = 16384;
// The longest one WriteLog waits for room: a logger that does not drain
// (a disk that hangs) slows the walks, never stops them.
constexpr int c_nMaxLogRoomWaitMs = 1000;
// Name of the lock shared by every running instance of the program.
constexpr char c_szLogMutexName[] = "mibscan-log";

extern CLogQueue g_LogQueue;
// Created before main() runs and never deleted.
extern CNamedMutex* const g_pLogMutex;

// printf-style logging call; the message is never cut. Always 0. Does
// nothing (the arguments are not even formatted) while g_bLog is false.
int WriteLog(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
// The work of one WriteLog call with its argument list. Always 0.
int WriteLogV(const char* szFormat, va_list args) __attribute__((format(printf, 1, 0)));

// While the logger thread drains the queue (SetLogDrainer(true)), waits
// until the queue holds fewer than c_nMaxQueuedLines entries, or at most
// c_nMaxLogRoomWaitMs; returns at once otherwise, and while the logger is
// stalled (it took nothing from the queue, or a wait ran out). Called by
// WriteLogV before it takes the lock.
void WaitForLogRoom();
// The logger thread: whether it is draining; after each drain, whether it
// took entries.
void SetLogDrainer(bool bRunning);
void NotifyLogRoom(bool bTook);

// The entry's line, "\n" included, with its time in the local time zone.
std::string FormatLogLine(const CLogEntry& entry);

// Takes up to c_nDrainBatch entries from the front of g_LogQueue and
// appends their lines, oldest first, after what *parrLines holds. Always 0.
// REQUIRES: as CLogQueue.
int DrainLogQueue(std::vector<std::string>* parrLines);
// The same, the entries themselves (moved, not formatted): the logger
// formats them after it has let the lock go. *parrEntries should have room
// for c_nDrainBatch entries. REQUIRES: as CLogQueue.
void TakeLogEntries(std::vector<CLogEntry>* parrEntries);

#endif  // MIBSCAN_LOG_LOGQUEUE_H_
