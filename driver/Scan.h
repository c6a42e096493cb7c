// One whole scan, on the main thread.
#ifndef MIBSCAN_DRIVER_SCAN_H_
#define MIBSCAN_DRIVER_SCAN_H_

#include <string>
#include <vector>

// Scans arrTargets: finds the executable's directory (g_strBaseDir), makes
// its "log" directory, starts the logger thread, chooses direct logging for
// exactly one target, reads config.ini, starts one worker thread per target
// (all before any waiting), joins and frees them in list order, stops the
// logger and writes what is still queued. False, with nothing done, when
// the executable's directory cannot be found; true after a whole scan,
// also of an empty list. A target whose thread the system refuses is
// reported ("target[%s]thread error" on the console and in the log) and
// gets no file; the others are scanned all the same.
bool RunScan(const std::vector<std::string>& arrTargets);

#endif  // MIBSCAN_DRIVER_SCAN_H_
