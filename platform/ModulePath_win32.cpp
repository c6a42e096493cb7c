#include "platform/ModulePath.h"

#include <windows.h>

#include <vector>

bool GetExecutablePath(std::string* pstrPath) {
  // A path that does not fit is cut and reported with the buffer's full
  // length, so the buffer grows until the answer is shorter than it.
  for (DWORD nSize = MAX_PATH; nSize <= (1u << 16); nSize *= 2) {
    std::vector<char> buffer(nSize);
    const DWORD nLen = GetModuleFileNameA(nullptr, buffer.data(), nSize);
    if (nLen == 0) return false;
    if (nLen < nSize) {
      pstrPath->assign(buffer.data(), nLen);
      return true;
    }
  }
  return false;
}
