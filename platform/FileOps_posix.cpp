#include "platform/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

char PathSeparator() { return '/'; }

bool MoveFileNoReplace(const std::string& strFrom, const std::string& strTo) {
  if (renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without RENAME_NOREPLACE: link() refuses an existing
  // target as well, and the old name is dropped only once the new exists.
  if (link(strFrom.c_str(), strTo.c_str()) != 0) return false;
  return unlink(strFrom.c_str()) == 0;
}

bool AppendToFile(const std::string& strPath, std::string_view strData, uint64_t* puLength) {
  const int nFd = open(strPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (nFd < 0) return false;
  bool bOk = true;
  for (size_t nDone = 0; nDone < strData.size();) {
    const ssize_t nWritten = write(nFd, strData.data() + nDone, strData.size() - nDone);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) {
      bOk = false;
      break;
    }
    nDone += static_cast<size_t>(nWritten);
  }
  struct stat st {};
  if (fstat(nFd, &st) == 0) {
    *puLength = static_cast<uint64_t>(st.st_size);
  } else {
    bOk = false;
  }
  close(nFd);
  return bOk;
}

bool IsReadableByOthers(const std::string& strPath) {
  struct stat info {};
  return stat(strPath.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool CreateDirectoryIfMissing(const std::string& strPath) {
  struct stat info {};
  if (stat(strPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  return mkdir(strPath.c_str(), 0777) == 0 || errno == EEXIST;
}

std::vector<std::string> ListFiles(const std::string& strDir) {
  std::vector<std::string> arrNames;
  DIR* pDir = opendir(strDir.c_str());
  if (pDir == nullptr) return arrNames;
  while (const dirent* pEntry = readdir(pDir)) {
    const std::string strName = pEntry->d_name;
    if (strName == "." || strName == "..") continue;
    struct stat info {};
    // d_type is not filled in by every file system: stat tells for sure.
    if (pEntry->d_type == DT_DIR ||
        (pEntry->d_type == DT_UNKNOWN &&
         (stat(JoinPath(strDir, strName).c_str(), &info) != 0 || S_ISDIR(info.st_mode))))
      continue;
    arrNames.push_back(strName);
  }
  closedir(pDir);
  return arrNames;
}

bool RemoveFile(const std::string& strPath) { return unlink(strPath.c_str()) == 0; }
