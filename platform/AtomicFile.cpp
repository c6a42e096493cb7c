#include "platform/AtomicFile.h"

#include <atomic>
#include <mutex>
#include <set>

#include "platform/FileOps.h"
#include "platform/MbString.h"

namespace {

std::atomic<unsigned> g_nTempCounter{0};

// The destinations that writers of this process are writing.
std::mutex g_busyMutex;
std::set<std::string> g_setBusy;

}  // namespace

bool CAtomicFile::ClaimPath(const std::string& strPath) {
  std::lock_guard<std::mutex> lock(g_busyMutex);
  return g_setBusy.insert(strPath).second;
}

void CAtomicFile::ReleasePath(const std::string& strPath) {
  std::lock_guard<std::mutex> lock(g_busyMutex);
  g_setBusy.erase(strPath);
}

std::string CAtomicFile::TempPathFor(const std::string& strPath, uint64_t uProcessId) {
  const size_t nSep = MbReverseFind(strPath, PathSeparator());
  const std::string strDir = nSep == std::string::npos ? std::string() : strPath.substr(0, nSep + 1);
  const std::string strName = nSep == std::string::npos ? strPath : strPath.substr(nSep + 1);
  return strDir + "." + strName + "." + std::to_string(uProcessId) + "." +
         std::to_string(g_nTempCounter.fetch_add(1)) + ".tmp";
}
