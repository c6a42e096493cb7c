// A file that is replaced whole or not at all.
//
// Open() claims the destination (a second writer of the same path is
// refused while the first writes it, as a deny-write share mode would
// refuse it: within this process always, across processes through an
// exclusive lock on an existing destination) and creates a temporary file
// beside it. Write() fills the temporary file; Commit() flushes it to the
// disk and renames it over the destination. Whatever fails (a full disk,
// an I/O error, a file size limit, a refused claim), the destination keeps
// its previous bytes, and no temporary file stays behind. A destination
// that did not exist before a failed write does not exist after it either.
// While the process is out of descriptors, opening waits for them
// (OpenWaitingForDescriptors, Descriptors.h).
//
// On Windows the lock is LockFileEx on a byte far past the end of the
// destination (readers are not hindered), and the rename is MoveFileExA
// with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH. Windows does
// not replace a file that this process holds open, so the lock is let go
// just before the rename: a writer of another process that takes the old
// file in that moment writes a whole file after this one.
//
// A writer's temporary file is also removed when a second signal ends the
// process (RemoveTemporaryFiles); only a process killed outright (SIGKILL,
// a crash, a power cut) leaves one behind, as ".<name>.<pid>.<n>.tmp"
// beside the destination.
//
// Thread use: one object per writer; objects share nothing.
#ifndef MIBSCAN_PLATFORM_ATOMICFILE_H_
#define MIBSCAN_PLATFORM_ATOMICFILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

class CAtomicFile {
 public:
  CAtomicFile() = default;
  // Abandons a file that was not committed.
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  // False when the destination is locked by another writer, its directory
  // does not exist or cannot be written.
  [[nodiscard]] bool Open(const std::string& strPath);
  // Appends bytes to the temporary file. False from the first failure on.
  bool Write(const void* pData, size_t nSize);
  // Replaces the destination by what was written. False, with the
  // destination as it was, when anything failed.
  [[nodiscard]] bool Commit();

 private:
  // The system's part of Write and Commit (AtomicFile_posix.cpp,
  // AtomicFile_win32.cpp).
  bool WriteToTemp(const void* pData, size_t nSize);
  bool CommitTemp();
  friend void RemoveTemporaryFiles();
  void Abandon();
  // Names the temporary file for RemoveTemporaryFiles; the slot, or -1 when
  // none is free. Never throws.
  static int RegisterTempPath(const std::string& strPath);
  static void UnregisterTempPath(int nSlot);
  // Claims strPath for this writer among the writers of this process.
  // False when another one holds it.
  static bool ClaimPath(const std::string& strPath);
  static void ReleasePath(const std::string& strPath);
  // A hidden name beside strPath, of this process and writer, never the
  // name of a result.
  static std::string TempPathFor(const std::string& strPath, uint64_t uProcessId);

  std::string m_strPath;
  std::string m_strTempPath;
  intptr_t m_hLock = -1;  // the destination, locked, when it exists
  intptr_t m_hTemp = -1;  // descriptor (Linux) or handle (Windows) of the temporary file
  int m_nTempSlot = -1;   // its registration for RemoveTemporaryFiles
  bool m_bFailed = false;
};

// Watches what this thread's CAtomicFile writers write: their bytes as they
// go to the temporary file, and each file that was committed (a scan's
// record takes each file's size and checksum so, without reading it
// back). Called on the writer's thread; must not throw.
class IAtomicFileWatcher {
 public:
  virtual void Wrote(const CAtomicFile& file, const void* pData, size_t nSize) = 0;
  virtual void Committed(const CAtomicFile& file, const std::string& strPath) = 0;

 protected:
  ~IAtomicFileWatcher() = default;
};
// Sets the watcher of this thread's writers (null: none); the one before.
IAtomicFileWatcher* WatchAtomicFiles(IAtomicFileWatcher* pWatcher);

// Removes the temporary file of every writer of this process that has not
// committed: for a signal that ends the process at once. Async-signal-safe
// (no lock, no allocation).
void RemoveTemporaryFiles();
// Removes one file; async-signal-safe (unlink on Linux; on Windows
// DeleteFileA, which removes an open temporary file once it is closed).
void RemoveFileForSignal(const char* szPath);

#endif  // MIBSCAN_PLATFORM_ATOMICFILE_H_
