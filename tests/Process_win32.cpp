#include "tests/Process.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

const bool c_bLinuxProcesses = false;

namespace {

// One argument quoted the way the C runtime's parser reads it back.
std::string QuoteArgument(const std::string& strArg) {
  if (!strArg.empty() && strArg.find_first_of(" \t\n\v\"") == std::string::npos) return strArg;
  std::string strQuoted = "\"";
  size_t nBackslashes = 0;
  for (char ch : strArg) {
    if (ch == '\\') {
      ++nBackslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    strQuoted.append(ch == '"' ? nBackslashes * 2 + 1 : nBackslashes, '\\');
    nBackslashes = 0;
    strQuoted += ch;
  }
  strQuoted.append(nBackslashes * 2, '\\');  // before the closing quote
  return strQuoted + "\"";
}

double Seconds(const FILETIME& time) {
  return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}

}  // namespace

CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                          const CProcessOptions& options) {
  CProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE hRead = nullptr;
  HANDLE hWrite = nullptr;
  if (!CreatePipe(&hRead, &hWrite, &inherit, 0)) return result;
  SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
  const HANDLE hNull = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
  std::string strCommand = QuoteArgument(strProgram);
  for (const std::string& strArg : arrArgs) strCommand += " " + QuoteArgument(strArg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = hNull;
  startup.hStdOutput = hWrite;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const auto start = std::chrono::steady_clock::now();
  const bool bStarted = CreateProcessA(strProgram.c_str(), strCommand.data(), nullptr, nullptr, TRUE, 0,
                                       nullptr, nullptr, &startup, &process) != 0;
  CloseHandle(hWrite);
  if (hNull != INVALID_HANDLE_VALUE) CloseHandle(hNull);
  if (!bStarted) {
    CloseHandle(hRead);
    return result;
  }
  // The output is read on a thread of its own; this one keeps the time.
  std::thread reader([&] {
    char buffer[65536];
    DWORD nRead = 0;
    while (ReadFile(hRead, buffer, sizeof buffer, &nRead, nullptr) && nRead > 0)
      result.strOutput.append(buffer, nRead);
  });
  const DWORD uWaitMs = static_cast<DWORD>(options.nTimeoutSeconds) * 1000;
  if (WaitForSingleObject(process.hProcess, uWaitMs) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.bTimedOut = true;
  }
  // Children of the child may still hold the pipe: the read ends when they do.
  reader.join();
  CloseHandle(hRead);
  result.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  DWORD uExitCode = 0;
  if (!result.bTimedOut && GetExitCodeProcess(process.hProcess, &uExitCode))
    result.nExitCode = static_cast<int>(uExitCode);
  FILETIME created{}, exited{}, kernel{}, user{};
  if (GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user))
    result.dCpuSeconds = Seconds(kernel) + Seconds(user);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}
