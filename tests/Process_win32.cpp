#include "tests/Process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <thread>

#include "tests/TestSupport.h"

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


// The Linux name of a Windows path, through wine's own export; empty
// when there is none.
std::string UnixPathOf(const std::string& strPath) {
  // A generic function pointer first, as the compiler asks for a cast
  // between unrelated function types.
  const auto pfnProc = reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
  const auto pfnToUnix = reinterpret_cast<char* (*)(const wchar_t*)>(pfnProc);
  if (pfnToUnix == nullptr) return std::string();
  const std::wstring strWide(strPath.begin(), strPath.end());
  char* szName = pfnToUnix(strWide.c_str());
  if (szName == nullptr) return std::string();
  std::string strUnix = szName;
  HeapFree(GetProcessHeap(), 0, szName);
  return strUnix;
}

// A Linux program (a path from "/"): wine starts it, but hands it no
// Windows pipe, so a Linux shell runs it with its output in a file, which
// is read after it ends.
CProcessResult RunLinuxProgram(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                               const CProcessOptions& options) {
  const auto quote = [](const std::string& strArg) {
    std::string strQuoted = "'";
    for (char ch : strArg) strQuoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return strQuoted + "'";
  };
  static std::atomic<unsigned> nRun{0};
  char szTemp[MAX_PATH + 1] = "";
  GetTempPathA(sizeof szTemp, szTemp);
  const std::string strOutput = std::string(szTemp) + "mibscan-run-" + std::to_string(GetCurrentProcessId()) +
                                "-" + std::to_string(nRun.fetch_add(1)) + ".out";
  // The shell sees the file under its Linux name.
  const std::string strUnixOutput = UnixPathOf(strOutput);
  CProcessResult result;
  if (strUnixOutput.empty()) return result;
  // The process handle of a Linux program does not wait for it under
  // wine: the script's last act is to write its exit status beside the
  // output, and this waits for that file. timeout(1) keeps the time limit.
  std::string strScript = "timeout -s KILL " + std::to_string(options.nTimeoutSeconds) + " " + quote(strProgram);
  // Arguments that are Windows paths ("C:\\...") are given as Linux ones.
  for (const std::string& strArg : arrArgs) {
    const bool bPath = strArg.size() > 2 && strArg[1] == ':' && (strArg[2] == '\\' || strArg[2] == '/');
    strScript += " " + quote(bPath ? UnixPathOf(strArg) : strArg);
  }
  strScript += " </dev/null >" + quote(strUnixOutput) + "; echo $? >" + quote(strUnixOutput + ".status");
  std::string strCommand = "Z:\\bin\\sh -c " + QuoteArgument(strScript);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessA(nullptr, strCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return result;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const std::string strStatus = strOutput + ".status";
  const auto deadline = start + std::chrono::seconds(options.nTimeoutSeconds + 5);
  std::string strCode;
  while (strCode.empty() || strCode.back() != '\n') {
    if (std::chrono::steady_clock::now() > deadline) {
      result.bTimedOut = true;
      break;
    }
    Sleep(10);
    strCode = ReadAll(strStatus);
  }
  if (!result.bTimedOut) {
    result.nExitCode = std::atoi(strCode.c_str());
    result.bTimedOut = result.nExitCode == 128 + 9;  // killed by timeout(1)
  }
  result.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.strOutput = ReadAll(strOutput);
  DeleteFileA(strOutput.c_str());
  DeleteFileA(strStatus.c_str());
  return result;
}

}  // namespace

CProcessResult RunProcess(const std::string& strProgram, const std::vector<std::string>& arrArgs,
                          const CProcessOptions& options) {
  if (strProgram.starts_with("/")) return RunLinuxProgram(strProgram, arrArgs, options);
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

bool StartInBackground(const std::string& strProgram, const std::vector<std::string>& arrArgs) {
  // A Linux path is reached through wine's drive Z:, the root.
  std::string strPath = strProgram;
  if (strPath.starts_with("/")) {
    std::replace(strPath.begin(), strPath.end(), '/', '\\');
    strPath = "Z:" + strPath;
  }
  std::string strCommand = QuoteArgument(strPath);
  for (const std::string& strArg : arrArgs) strCommand += " " + QuoteArgument(strArg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, strCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

std::string LinuxPathOf(const std::string& strPath) { return UnixPathOf(strPath); }

bool InterruptProcessOfPidFile(const std::string& /*strPidFile*/) { return false; }
