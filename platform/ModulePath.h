// The path of the running executable.
#ifndef MIBSCAN_PLATFORM_MODULEPATH_H_
#define MIBSCAN_PLATFORM_MODULEPATH_H_

#include <string>

// Stores the absolute path of the running executable in *pstrPath (from
// /proc/self/exe on Linux, GetModuleFileNameA on Windows). False (and
// *pstrPath unchanged) when it cannot be had.
[[nodiscard]] bool GetExecutablePath(std::string* pstrPath);

#endif  // MIBSCAN_PLATFORM_MODULEPATH_H_
