// Helpers of the tests of CAtomicFile.
#ifndef MIBSCAN_PLATFORM_ATOMICFILE_TEST_H_
#define MIBSCAN_PLATFORM_ATOMICFILE_TEST_H_

#include <filesystem>
#include <set>
#include <string>

#include "platform/AtomicFile.h"

// The names in a directory.
inline std::set<std::string> Names(const std::filesystem::path& dir) {
  std::set<std::string> setNames;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) setNames.insert(entry.path().filename().string());
  return setNames;
}

// Writes strPath whole through a CAtomicFile.
inline bool WriteWhole(const std::string& strPath, const std::string& strText) {
  CAtomicFile file;
  return file.Open(strPath) && file.Write(strText.data(), strText.size()) && file.Commit();
}

#endif  // MIBSCAN_PLATFORM_ATOMICFILE_TEST_H_
