// A thread object in the shape the scan driver uses: made first, stored
// where its owner keeps it, then started; joined without time limit; freed
// by its owner after the join.
#ifndef MIBSCAN_PLATFORM_THREAD_H_
#define MIBSCAN_PLATFORM_THREAD_H_

#include <thread>

class CThread {
 public:
  using ThreadProc = unsigned (*)(void* pParam);

  // A thread that, once started, runs pfnProc(pParam). Nothing runs yet.
  // pfnProc must not let an exception escape (it would end the process).
  CThread(ThreadProc pfnProc, void* pParam) : m_pfnProc(pfnProc), m_pParam(pParam) {}
  // Joins first when the thread is still running, so a forgotten join
  // waits instead of ending the process.
  ~CThread() { Join(); }
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Starts the thread. False when the system could not create it; never
  // throws.
  [[nodiscard]] bool Start();
  // Waits, without time limit, until the procedure has returned. Does
  // nothing for a thread that never started.
  void Join();

 private:
  ThreadProc m_pfnProc;
  void* m_pParam;
  std::thread m_thread;
};

#endif  // MIBSCAN_PLATFORM_THREAD_H_
