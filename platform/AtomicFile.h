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
// Thread use: one object per writer; objects share nothing.
#ifndef MIBSCAN_PLATFORM_ATOMICFILE_H_
#define MIBSCAN_PLATFORM_ATOMICFILE_H_

#include <cstddef>
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
  void Abandon();

  std::string m_strPath;
  std::string m_strTempPath;
  int m_nLockFd = -1;   // the destination, locked, when it exists
  int m_nTempFd = -1;
  bool m_bFailed = false;
};

#endif  // MIBSCAN_PLATFORM_ATOMICFILE_H_
