// One whole scan, on the main thread.
#ifndef MIBSCAN_DRIVER_SCAN_H_
#define MIBSCAN_DRIVER_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

// Scans arrTargets: takes the executable's directory (g_strBaseDir) from
// options.strExePath, makes its "log" directory, starts the logger thread,
// chooses direct logging for exactly one target, reads config.ini, starts
// one worker thread per target (all before any waiting), joins and frees
// them in list order, stops the logger and writes what is still queued.
// False, with nothing done, when the executable's path holds no directory;
// true after a whole scan, also of an empty list. Workers start in list
// order; when the system refuses a thread, or as many workers run as there
// are descriptors for, the next one waits until a running worker ends.
// Only a refusal with no worker running at all drops a target: it is
// reported ("target[%s]thread error" on the console and in the log) and
// gets no file; the others are scanned all the same. Ended workers are
// joined and freed in list order as soon as every earlier one is.
//
// options.strConfigPath, when set, is read instead of the config.ini
// beside the executable, and options.strResultDir, when set, takes the
// result files. The walks (CWalkPlan) follow the command line's form
// (g_strStartOid, g_bSystemMib), the same for every target. Each target's
// settings are resolved from the file's [Target] sections and [Config]
// (CConfig) and handed to its CMIB. Every target's end is counted in
// ScanTally(); with options.bProgress, or when standard error is a
// terminal, the progress and the summary are shown there (CProgress).
struct CScanOptions {
  std::string strExePath;  // the program's own path (GetExecutablePath)
  std::string strConfigPath;
  std::string strResultDir;
  bool bProgress = false;
  // The result files' formats for every target (--format); 0: each
  // target's "Format" key.
  uint32_t uFormats = 0;
  // Write the scan's record (ScanReport.h) at its end (--report; also
  // with config.ini's "Report=1"), naming arrArguments as its command line.
  bool bReport = false;
  std::vector<std::string> arrArguments;
  // Set to true when config.ini names a secret that cannot be had: the
  // scan was refused before anything was sent (each reason on standard
  // error).
  bool* pbRefused = nullptr;
};
bool RunScan(const std::vector<std::string>& arrTargets, const CScanOptions& options = {});

#endif  // MIBSCAN_DRIVER_SCAN_H_
