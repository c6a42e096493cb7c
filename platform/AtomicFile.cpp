#include "platform/AtomicFile.h"

#include <atomic>
#include <cstring>
#include <new>
#include <mutex>
#include <set>

#include "platform/FileOps.h"
#include "util/MbString.h"

namespace {

std::atomic<unsigned> g_nTempCounter{0};

// The temporary files being written, for RemoveTemporaryFiles(), which a
// signal handler calls: fixed slots, each with a buffer made once and never
// freed, and a sequence number that is odd while the slot names a file
// (the handler copies the name and takes it only if the number did not
// change meanwhile).
constexpr size_t c_nTempSlots = 1024;
constexpr size_t c_nTempPathBytes = 4096;
struct CTempSlot {
  std::atomic<bool> bClaimed{false};
  std::atomic<uint32_t> uSequence{0};
  std::atomic<char*> pPath{nullptr};
};
CTempSlot g_aTempSlots[c_nTempSlots];

// The destinations that writers of this process are writing.
std::mutex g_busyMutex;
std::set<std::string> g_setBusy;

// The watcher of this thread's writers.
thread_local IAtomicFileWatcher* t_pWatcher = nullptr;

}  // namespace

int CAtomicFile::RegisterTempPath(const std::string& strPath) {
  if (strPath.size() >= c_nTempPathBytes) return -1;
  for (size_t nSlot = 0; nSlot < c_nTempSlots; ++nSlot) {
    CTempSlot& slot = g_aTempSlots[nSlot];
    bool bFree = false;
    if (!slot.bClaimed.compare_exchange_strong(bFree, true)) continue;
    char* pPath = slot.pPath.load();
    if (pPath == nullptr) {
      pPath = new (std::nothrow) char[c_nTempPathBytes];
      if (pPath == nullptr) {
        slot.bClaimed.store(false);
        return -1;
      }
      slot.pPath.store(pPath);
    }
    std::memcpy(pPath, strPath.c_str(), strPath.size() + 1);
    slot.uSequence.fetch_add(1, std::memory_order_release);  // odd: it names a file
    return static_cast<int>(nSlot);
  }
  return -1;  // more writers than slots: this one is not removed by a second signal
}

void CAtomicFile::UnregisterTempPath(int nSlot) {
  if (nSlot < 0) return;
  CTempSlot& slot = g_aTempSlots[nSlot];
  slot.uSequence.fetch_add(1, std::memory_order_release);  // even: free
  slot.bClaimed.store(false);
}

void RemoveTemporaryFiles() {
  char szPath[c_nTempPathBytes];
  for (CTempSlot& slot : g_aTempSlots) {
    const uint32_t uBefore = slot.uSequence.load(std::memory_order_acquire);
    const char* pPath = slot.pPath.load();
    if ((uBefore & 1) == 0 || pPath == nullptr) continue;
    size_t nLen = 0;
    for (; nLen + 1 < sizeof szPath && pPath[nLen] != '\0'; ++nLen) szPath[nLen] = pPath[nLen];
    szPath[nLen] = '\0';
    // A read-modify-write that changes nothing: the copy above cannot move
    // past it, so an unchanged number means the copy is whole.
    if (slot.uSequence.fetch_add(0, std::memory_order_acq_rel) != uBefore) continue;  // renamed or reused meanwhile
    RemoveFileForSignal(szPath);
  }
}

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

bool CAtomicFile::Write(const void* pData, size_t nSize) {
  if (!WriteToTemp(pData, nSize)) return false;
  if (t_pWatcher != nullptr) t_pWatcher->Wrote(*this, pData, nSize);
  return true;
}

bool CAtomicFile::Commit() {
  if (t_pWatcher == nullptr) return CommitTemp();
  const std::string strPath = m_strPath;  // the commit lets go of it
  if (!CommitTemp()) return false;
  t_pWatcher->Committed(*this, strPath);
  return true;
}

IAtomicFileWatcher* WatchAtomicFiles(IAtomicFileWatcher* pWatcher) {
  IAtomicFileWatcher* pBefore = t_pWatcher;
  t_pWatcher = pWatcher;
  return pBefore;
}
