// A thread object in the shape the scan driver uses: made first, stored
// where its owner keeps it, then started; joined without time limit; freed
// by its owner after the join.
#ifndef MIBSCAN_PLATFORM_THREAD_H_
#define MIBSCAN_PLATFORM_THREAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

// Counts the ends of the threads that report to it, so that their owner
// can sleep until one more of them has ended.
class CThreadEnds {
 public:
  // Threads ended so far.
  [[nodiscard]] uint64_t Count() const;
  // Waits, without time limit, until more than nSeen threads have ended.
  void WaitBeyond(uint64_t nSeen) const;
  // Called by each thread as its last act.
  void Add();

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_ended;
  uint64_t m_nCount = 0;
};

class CThread {
 public:
  using ThreadProc = unsigned (*)(void* pParam);

  // A thread that, once started, runs pfnProc(pParam) and then, when
  // pEnds is given, reports its end there. Nothing runs yet.
  // pfnProc must not let an exception escape (it would end the process).
  CThread(ThreadProc pfnProc, void* pParam, CThreadEnds* pEnds = nullptr)
      : m_pfnProc(pfnProc), m_pParam(pParam), m_pEnds(pEnds) {}
  // Joins first when the thread is still running, so a forgotten join
  // waits instead of ending the process.
  ~CThread() { Join(); }
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Starts the thread with a stack of nStackBytes (0: the system's
  // default). False when the system refused it (too many threads, no
  // memory for its stack); never throws.
  [[nodiscard]] bool Start(size_t nStackBytes = 0);
  // Waits, without time limit, until the procedure has returned. Does
  // nothing for a thread that never started.
  void Join();
  // True once the procedure has returned (the join then does not wait
  // for the procedure, only for the thread's exit).
  [[nodiscard]] bool HasEnded() const { return m_bEnded.load(std::memory_order_acquire); }

 private:
  friend struct SThreadStart;  // the system's thread start routine
  // Runs the procedure and reports its end.
  void RunProc();

  ThreadProc m_pfnProc;
  void* m_pParam;
  CThreadEnds* m_pEnds;
  uintptr_t m_hThread = 0;  // the system's handle of the thread
  bool m_bStarted = false;
  std::atomic<bool> m_bEnded{false};
};

#endif  // MIBSCAN_PLATFORM_THREAD_H_
