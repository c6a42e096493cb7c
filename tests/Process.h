// Running a program as a child process, for the tests and benchmarks of
// the whole program. Process_posix.cpp (fork and exec), Process_win32.cpp
// (CreateProcessA).
#ifndef MIBSCAN_TESTS_PROCESS_H_
#define MIBSCAN_TESTS_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

struct CProcessResult {
  int nExitCode = -1;       // -1 when it did not exit normally
  int nSignal = 0;          // the signal that ended it, 0 when it exited
  bool bTimedOut = false;   // killed after the time limit
  std::string strOutput;    // standard output
  double dSeconds = 0;      // wall time
  double dCpuSeconds = 0;   // user and system CPU time
  int64_t nPeakKiB = 0;     // peak resident memory (Linux only; 0 elsewhere)
};

// Whether this system's RunProcess can send signals and set the limits
// and user of CProcessOptions: true on Linux. A Windows test process under
// wine can do neither; it can start Linux programs (a path from "/"),
// with their output read after they end.
extern const bool c_bLinuxProcesses;

// A signal to send the child nAfterMs milliseconds after its start.
struct CTimedSignal {
  int nAfterMs;
  int nSignal;
};

struct CProcessOptions {
  int nTimeoutSeconds = 120;          // then SIGKILL
  uint64_t uAddressSpace = 0;           // RLIMIT_AS of the child, bytes; 0: as inherited
  uint64_t uDescriptors = 0;            // RLIMIT_NOFILE of the child, soft and hard; 0: as inherited
  // Run as this user (root only; the child then has no other group), with
  // at most uProcesses processes and threads of that user (RLIMIT_NPROC).
  // uUser < 0: as the caller.
  int64_t nUser = -1;
  uint64_t uProcesses = 0;
  std::vector<CTimedSignal> arrSignals{};  // sent in order, each at its time
};

// Runs strProgram with arrArgs (argv[0] is strProgram), standard input
// from /dev/null, standard output captured, standard error passed on,
// under the limits of options.
CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                          const CProcessOptions& options);

// The same with only a time limit.
inline CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                                 int nTimeoutSeconds = 120) {
  return RunProcess(strProgram, arrArgs, CProcessOptions{.nTimeoutSeconds = nTimeoutSeconds});
}

// Starts strProgram with arrArgs and does not wait for it; it must end by
// itself. On Windows a path from "/" is a Linux program, which wine starts.
// False when it could not be started.
bool StartInBackground(const std::string& strProgram, const std::vector<std::string>& arrArgs);

// Sends SIGINT to the process whose id the file at strPidFile holds (Linux;
// false on Windows, and when the file holds no id).
bool InterruptProcessOfPidFile(const std::string& strPidFile);

// The path under which a Linux program sees the file at strPath (the same
// path on Linux; under wine the Linux name of a Windows path).
std::string LinuxPathOf(const std::string& strPath);

#endif  // MIBSCAN_TESTS_PROCESS_H_
