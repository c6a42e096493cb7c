// The log file: appending batches of lines to "<g_strLogDir>/<g_strLogFile>",
// rotating it once it has grown past c_uRotateBytes, and keeping the
// c_nKeptLogs newest rotated files.
//
// Failure policy: the log never stops or slows the scan and never reports.
// A batch whose file cannot be opened is lost. A failed write (disk full)
// loses the rest of its batch. A rotation whose new name already exists
// (two rotations within one second) leaves the live file in place, growing,
// and is tried again after the next batch: nothing is overwritten.
//
// Thread use: no lock is taken. The callers never run WriteLogLines at the
// same time: the logger thread, then the final drain, or in direct mode the
// single worker thread.
#ifndef MIBSCAN_LOG_LOGFILE_H_
#define MIBSCAN_LOG_LOGFILE_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A file longer than this is rotated after the batch that made it so.
constexpr uint64_t c_uRotateBytes = 262144;
// Rotated files kept by PruneOldLogs.
constexpr size_t c_nKeptLogs = 30;

// Appends arrLines (each already ended by "\n") to the live file in order,
// creating it if missing, then rotates and prunes when it is longer than
// c_uRotateBytes. An empty array still creates the file and checks its
// size. Always 0.
int WriteLogLines(const std::vector<std::string>& arrLines);

// Deletes the rotated files ("*_<g_strLogFile>", plain files only) that sort
// first, case-insensitively, until c_nKeptLogs remain.
void PruneOldLogs();

// "<strLogDir>/<strLogFile>".
std::string MakeLogFilePath(const std::string& strLogDir, const std::string& strLogFile);
// "<strLogDir>/<YYYYmmdd_HHMMSS of tmLocal>_<strLogFile>".
std::string MakeRotatedLogPath(const std::string& strLogDir, const struct tm& tmLocal,
                               const std::string& strLogFile);

// An array of strings that sorts itself, ascending and ignoring case.
class CSortStringArray : public std::vector<std::string> {
 public:
  // Exchange sort in whole passes until a pass swaps nothing; equal
  // elements (also those that differ only in case) keep their order.
  void Sort();
};

#endif  // MIBSCAN_LOG_LOGFILE_H_
