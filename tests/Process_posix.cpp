#include "tests/Process.h"

#include <cstdio>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>

#include <spawn.h>

#include <algorithm>
#include <chrono>
#include <thread>

const bool c_bLinuxProcesses = true;

CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                          const CProcessOptions& options) {
  const auto& arrSignals = options.arrSignals;
  CProcessResult result;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(strProgram.c_str()));
  for (const std::string& strArg : arrArgs) argv.push_back(const_cast<char*>(strArg.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int nNull = open("/dev/null", O_RDONLY);
    dup2(nNull, 0);
    dup2(pipeFds[1], 1);
    if (options.uAddressSpace != 0) {
      const rlimit limit{static_cast<rlim_t>(options.uAddressSpace), static_cast<rlim_t>(options.uAddressSpace)};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.uDescriptors != 0) {
      const rlimit limit{static_cast<rlim_t>(options.uDescriptors), static_cast<rlim_t>(options.uDescriptors)};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.nUser >= 0) {
      const auto uid = static_cast<uid_t>(options.nUser);
      if (options.uProcesses != 0) {
        const rlimit limit{static_cast<rlim_t>(options.uProcesses), static_cast<rlim_t>(options.uProcesses)};
        setrlimit(RLIMIT_NPROC, &limit);
      }
      if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(uid)) != 0 || setuid(uid) != 0) _exit(126);
    }
    execv(strProgram.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return result;
  }
  const auto deadline = start + std::chrono::seconds(options.nTimeoutSeconds);
  char buffer[65536];
  size_t nNextSignal = 0;
  while (true) {
    const auto now = std::chrono::steady_clock::now();
    while (nNextSignal < arrSignals.size() &&
           now >= start + std::chrono::milliseconds(arrSignals[nNextSignal].nAfterMs))
      kill(pid, arrSignals[nNextSignal++].nSignal);
    auto until = deadline;
    if (nNextSignal < arrSignals.size())
      until = std::min(until, start + std::chrono::milliseconds(arrSignals[nNextSignal].nAfterMs));
    const auto nLeft = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    if (now >= deadline) {
      kill(pid, SIGKILL);
      result.bTimedOut = true;
      break;
    }
    pollfd pfd{pipeFds[0], POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(std::max<int64_t>(nLeft, 0))) <= 0) continue;
    const ssize_t nRead = read(pipeFds[0], buffer, sizeof buffer);
    if (nRead <= 0) break;  // the child closed its output: it is ending
    result.strOutput.append(buffer, static_cast<size_t>(nRead));
  }
  close(pipeFds[0]);
  int nStatus = 0;
  rusage usage{};
  wait4(pid, &nStatus, 0, &usage);
  result.dCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.nPeakKiB = usage.ru_maxrss;
  result.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(nStatus)) result.nExitCode = WEXITSTATUS(nStatus);
  if (WIFSIGNALED(nStatus)) result.nSignal = WTERMSIG(nStatus);
  return result;
}

bool StartInBackground(const std::string& strProgram, const std::vector<std::string>& arrArgs) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(strProgram.c_str()));
  for (const std::string& strArg : arrArgs) argv.push_back(const_cast<char*>(strArg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, strProgram.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  // Reaped when it ends, so it leaves no zombie behind.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return true;
}

std::string LinuxPathOf(const std::string& strPath) { return strPath; }

bool InterruptProcessOfPidFile(const std::string& strPidFile) {
  FILE* pFile = std::fopen(strPidFile.c_str(), "r");
  if (pFile == nullptr) return false;
  long nPid = 0;
  const bool bRead = std::fscanf(pFile, "%ld", &nPid) == 1 && nPid > 1;
  std::fclose(pFile);
  return bRead && kill(static_cast<pid_t>(nPid), SIGINT) == 0;
}
