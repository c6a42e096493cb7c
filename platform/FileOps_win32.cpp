#include "platform/FileOps.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>

char PathSeparator() { return '\\'; }

bool MoveFileNoReplace(const std::string& strFrom, const std::string& strTo) {
  // MoveFileA refuses an existing destination.
  if (MoveFileA(strFrom.c_str(), strTo.c_str())) return true;
  const DWORD uError = GetLastError();
  errno = uError == ERROR_ALREADY_EXISTS || uError == ERROR_FILE_EXISTS ? EEXIST
          : uError == ERROR_FILE_NOT_FOUND || uError == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                               : EACCES;
  return false;
}

bool AppendToFile(const std::string& strPath, std::string_view strData, uint64_t* puLength) {
  // FILE_APPEND_DATA alone: every write lands at the end, also when other
  // processes append to the same file.
  const HANDLE hFile = CreateFileA(strPath.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  bool bOk = true;
  for (size_t nDone = 0; nDone < strData.size();) {
    const DWORD nChunk = static_cast<DWORD>(std::min<size_t>(strData.size() - nDone, 1u << 30));
    DWORD nWritten = 0;
    if (!WriteFile(hFile, strData.data() + nDone, nChunk, &nWritten, nullptr) || nWritten == 0) {
      bOk = false;
      break;
    }
    nDone += nWritten;
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(hFile, &size)) {
    *puLength = static_cast<uint64_t>(size.QuadPart);
  } else {
    bOk = false;
  }
  CloseHandle(hFile);
  return bOk;
}

bool IsReadableByOthers(const std::string& /*strPath*/) {
  // Access on Windows is an access control list, inherited from the
  // folder; a mode check would say nothing useful, so none is made.
  return false;
}

bool CreateDirectoryIfMissing(const std::string& strPath) {
  const DWORD uAttributes = GetFileAttributesA(strPath.c_str());
  if (uAttributes != INVALID_FILE_ATTRIBUTES && (uAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return true;
  return CreateDirectoryA(strPath.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::vector<std::string> ListFiles(const std::string& strDir) {
  std::vector<std::string> arrNames;
  WIN32_FIND_DATAA found{};
  const HANDLE hFind = FindFirstFileA(JoinPath(strDir, "*").c_str(), &found);
  if (hFind == INVALID_HANDLE_VALUE) return arrNames;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) arrNames.emplace_back(found.cFileName);
  } while (FindNextFileA(hFind, &found));
  FindClose(hFind);
  return arrNames;
}

bool RemoveFile(const std::string& strPath) { return DeleteFileA(strPath.c_str()) != 0; }
