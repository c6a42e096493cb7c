// Running a program as a child process, for the tests and benchmarks of
// the whole program.
#ifndef MIBSCAN_TESTS_PROCESS_H_
#define MIBSCAN_TESTS_PROCESS_H_

#include <sys/resource.h>

#include <string>
#include <vector>

struct CProcessResult {
  int nExitCode = -1;       // -1 when it did not exit normally
  bool bTimedOut = false;   // killed after the time limit
  std::string strOutput;    // standard output
  double dSeconds = 0;      // wall time
  rusage usage{};           // CPU times and peak memory (ru_maxrss, KiB)
};

// Runs strProgram with arrArgs (argv[0] is strProgram), standard input
// from /dev/null, standard output captured, standard error passed on. Kills
// it (SIGKILL) after nTimeoutSeconds. A non-zero uAddressSpace limits the
// child's address space (RLIMIT_AS, bytes), to make thread creation fail.
CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                          int nTimeoutSeconds = 120, rlim_t uAddressSpace = 0);

#endif  // MIBSCAN_TESTS_PROCESS_H_
