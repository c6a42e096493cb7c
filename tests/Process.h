// Running a program as a child process, for the tests and benchmarks of
// the whole program.
#ifndef MIBSCAN_TESTS_PROCESS_H_
#define MIBSCAN_TESTS_PROCESS_H_

#include <sys/resource.h>

#include <string>
#include <vector>

struct CProcessResult {
  int nExitCode = -1;       // -1 when it did not exit normally
  int nSignal = 0;          // the signal that ended it, 0 when it exited
  bool bTimedOut = false;   // killed after the time limit
  std::string strOutput;    // standard output
  double dSeconds = 0;      // wall time
  rusage usage{};           // CPU times and peak memory (ru_maxrss, KiB)
};

// A signal to send the child nAfterMs milliseconds after its start.
struct CTimedSignal {
  int nAfterMs;
  int nSignal;
};

// Runs strProgram with arrArgs (argv[0] is strProgram), standard input
// from /dev/null, standard output captured, standard error passed on. Kills
// it (SIGKILL) after nTimeoutSeconds. A non-zero uAddressSpace limits the
// child's address space (RLIMIT_AS, bytes), to make thread creation fail.
// arrSignals are sent in order, each at its time.
CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                          int nTimeoutSeconds = 120, rlim_t uAddressSpace = 0,
                          const std::vector<CTimedSignal>& arrSignals = {});

#endif  // MIBSCAN_TESTS_PROCESS_H_
